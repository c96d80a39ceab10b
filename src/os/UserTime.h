#pragma once

namespace os {

// The window system's time stamp of the user action that started this process, as the
// launcher handed it over, else the window system's current time; 0 without a display. Also
// tells the launcher that this start is complete, as this process shows no window.
unsigned long StartingUserTime();

}  // namespace os
