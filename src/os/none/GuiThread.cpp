#include "os/GuiThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Without a window system the GUI loop is a plain queue of tasks run in order on the thread
// that runs the loop.
namespace os {
namespace {

struct Loop {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool running = false;
    bool quit = false;
    int exitCode = 0;
};

Loop& TheLoop() {
    static Loop loop;
    return loop;
}

std::atomic<std::thread::id> g_guiThread{std::this_thread::get_id()};

}  // namespace

void PostToGuiThread(std::function<void()> task) {
    Loop& loop = TheLoop();
    {
        std::lock_guard<std::mutex> lock(loop.mutex);
        loop.tasks.push_back(std::move(task));
    }
    loop.wake.notify_one();
}

bool IsGuiThread() {
    return std::this_thread::get_id() == g_guiThread.load();
}

int RunGuiLoop() {
    g_guiThread = std::this_thread::get_id();
    Loop& loop = TheLoop();
    std::unique_lock<std::mutex> lock(loop.mutex);
    loop.running = true;
    loop.quit = false;
    loop.exitCode = 0;
    while (!loop.quit) {
        loop.wake.wait(lock, [&] { return loop.quit || !loop.tasks.empty(); });
        if (loop.quit) break;
        std::function<void()> task = std::move(loop.tasks.front());
        loop.tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
    loop.running = false;
    return loop.exitCode;
}

bool QuitGuiLoop(int exitCode) {
    Loop& loop = TheLoop();
    {
        std::lock_guard<std::mutex> lock(loop.mutex);
        if (!loop.running) return false;
        loop.quit = true;
        loop.exitCode = exitCode;
    }
    loop.wake.notify_one();
    return true;
}

bool GuiLoopQuitting() {
    Loop& loop = TheLoop();
    std::lock_guard<std::mutex> lock(loop.mutex);
    return loop.quit;
}

}  // namespace os
