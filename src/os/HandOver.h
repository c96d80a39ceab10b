#pragma once
#include <functional>
#include <memory>
#include <string>

namespace os {

// Where the main panel whose window handle is `windowHandle` takes hand-over requests, in the
// user's private folder `runtimeFolder` (UserRuntimeFolder). A handle above 2^31 names the same
// place as its negative 32-bit reading, the form [app] wnd keeps it in, so both sides meet.
std::string HandOverAddress(const std::string& runtimeFolder, long windowHandle);

// One hand-over request: what is asked (the WM_COPYDATA dwData), and the time stamp of the
// user action that started the asking process (StartingUserTime; 0: unknown), so the window it
// brings forward may take the focus.
struct HandOverRequest {
    unsigned long dwData = 0;
    unsigned long userTime = 0;
};

// Sends request `dwData` to the process serving `socketPath` (a HandOverAddress) and returns
// its answer: the stand-in for SendMessage(WM_COPYDATA). 0 when nobody serves it (the handle
// it is named after is stale) or no answer comes within `timeoutMs`.
long SendHandOverRequest(const std::string& socketPath, unsigned long dwData,
                         int timeoutMs = 10000);
long SendHandOverRequest(const std::string& socketPath, const HandOverRequest& request,
                         int timeoutMs = 10000);

// Serves hand-over requests at `socketPath` on the GUI thread's main loop, answering each
// with `handler(dwData)`; reading and answering never block that thread. At most 8 connections
// are served at once (further ones are closed unanswered), and one that has not sent its whole
// request within `idleTimeoutMs` is closed. A socket file left by a crashed run is replaced.
// The socket is removed when the server is destroyed; requests still in flight then get no
// answer.
class HandOverServer {
  public:
    HandOverServer(const std::string& socketPath, std::function<long(unsigned long)> handler,
                   unsigned idleTimeoutMs = 2000);
    HandOverServer(const std::string& socketPath,
                   std::function<long(const HandOverRequest&)> handler,
                   unsigned idleTimeoutMs = 2000);
    ~HandOverServer();
    HandOverServer(const HandOverServer&) = delete;
    HandOverServer& operator=(const HandOverServer&) = delete;

    bool Serving() const;

  private:
    std::shared_ptr<struct HandOverServerState> state_;
};

}  // namespace os
