#pragma once
#include <functional>

namespace os {

// Queues `task` to run on the GUI thread's main loop, after what is already queued (FIFO).
// Callable from any thread; the stand-in for PostMessage.
void PostToGuiThread(std::function<void()> task);

// True when called on the thread that runs the GUI main loop.
bool IsGuiThread();

// Runs the GUI main loop until QuitGuiLoop; returns the code given to it.
int RunGuiLoop();
// Ends the running GUI main loop with `exitCode`; false when no loop runs (nothing happens).
bool QuitGuiLoop(int exitCode);
// True once QuitGuiLoop ended the running loop: nested loops (modal dialogs) should end too.
bool GuiLoopQuitting();

}  // namespace os
