#pragma once

namespace os {

// Lets SIGTERM, SIGINT and SIGHUP end the program the normal way: the GUI main loop ends with
// 0 (so its hand-over socket is removed), or the process exits with 0 outside the loop.
void QuitOnTerminationSignals();

}  // namespace os
