#pragma once
#include <vector>

#include "os/Key.h"

// Codes of the key messages that windows offer to the GUI thread's message filters before they
// handle the key themselves: a type of their own, with the values filters were written for.
enum class MessageCode : unsigned { None = 0, KeyDown = 0x0100, KeyUp = 0x0101 };
inline constexpr MessageCode kMessageKeyDown = MessageCode::KeyDown;
inline constexpr MessageCode kMessageKeyUp = MessageCode::KeyUp;

// One input event of a window, as a filter sees it.
struct Message {
    long window = 0;                       // handle of the window the event is aimed at
    MessageCode code = MessageCode::None;  // kMessageKeyDown, kMessageKeyUp
    os::Key key = os::Key::Other;
    unsigned modifiers = 0;  // os::kModifier* flags
    int pointX = 0;          // where the pointer was on the screen at the time
    int pointY = 0;
};

class CMessageFilter {
  public:
    virtual ~CMessageFilter() = default;
    // True consumes the message: no other filter and not the window itself sees it.
    virtual bool PreTranslateMessage(const Message& msg) = 0;
};

// The GUI thread's message loop: the GLib main loop plus the ordered list of filters that
// panels register while they live. Window event handlers hand their input to
// PreTranslateMessage first and stop when it is consumed.
class CMessageLoop {
  public:
    void AddMessageFilter(CMessageFilter* filter);
    // Safe to call from inside a filter; a removed filter is not offered the rest of a message.
    void RemoveMessageFilter(CMessageFilter* filter);
    // Offers `msg` to the filters, the one registered last first; true when one consumed it.
    bool PreTranslateMessage(const Message& msg);
    // Runs until QuitMessageLoop; its exit code. Nothing else ends the loop.
    int Run();

  private:
    std::vector<CMessageFilter*> filters_;
};

// Registers `loop` as the message loop of the calling thread (the GUI thread).
void RegisterMessageLoop(CMessageLoop* loop);
void UnregisterMessageLoop();
// The loop registered for the calling thread, or null (on every other thread, too).
CMessageLoop* GetMessageLoop();

// Asks the GUI thread's loop to end with `exitCode` once what is already queued has run, also
// when it has not started yet (the stand-in for PostQuitMessage). Callable from any thread.
void QuitMessageLoop(int exitCode);
