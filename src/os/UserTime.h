#pragma once

namespace os {

// The X server time of the user action that started this process: the launcher's startup id
// (its "_TIME<n>" part) when it gave one, else the server's current time; 0 without a display.
// Also tells the launcher that this start is complete, as this process shows no window.
unsigned long StartingUserTime();

}  // namespace os
