#include "base/MessageLoop.h"

#include "os/GuiThread.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

CMessageLoop* g_loop = nullptr;
std::atomic<std::thread::id> g_loopThread{};

}  // namespace

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) {
    if (filter != nullptr) filters_.push_back(filter);
}

void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) {
    const auto it = std::find(filters_.rbegin(), filters_.rend(), filter);
    if (it != filters_.rend()) filters_.erase(std::next(it).base());
}

bool CMessageLoop::PreTranslateMessage(const Message& msg) {
    // A filter may unregister itself or others while it runs; walk a snapshot and skip the
    // ones that are gone by the time their turn comes.
    const std::vector<CMessageFilter*> snapshot = filters_;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (std::find(filters_.begin(), filters_.end(), *it) == filters_.end()) continue;
        if ((*it)->PreTranslateMessage(msg)) return true;
    }
    return false;
}

int CMessageLoop::Run() {
    return os::RunGuiLoop();
}

void RegisterMessageLoop(CMessageLoop* loop) {
    g_loop = loop;
    g_loopThread = std::this_thread::get_id();
}

void UnregisterMessageLoop() {
    g_loop = nullptr;
    g_loopThread = std::thread::id{};
}

CMessageLoop* GetMessageLoop() {
    return g_loopThread.load() == std::this_thread::get_id() ? g_loop : nullptr;
}

void QuitMessageLoop(int exitCode) {
    os::PostToGuiThread([exitCode] { os::QuitGuiLoop(exitCode); });
}
