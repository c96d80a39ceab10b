#pragma once

namespace os {

// Starts GTK on its X11 backend (panels place themselves on screen, which Wayland clients
// cannot; under Wayland the program runs through XWayland). False when there is no display:
// windows cannot be made then, and message boxes go to standard error. Also lets SIGTERM,
// SIGINT and SIGHUP end the program the normal way, so its hand-over socket is removed.
bool InitGuiToolkit();

}  // namespace os
