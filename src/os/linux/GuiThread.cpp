#include "os/GuiThread.h"

#include <glib.h>

#include <atomic>
#include <memory>
#include <thread>

namespace os {
namespace {

std::atomic<std::thread::id> g_guiThread{std::this_thread::get_id()};
GMainLoop* g_loop = nullptr;
int g_exitCode = 0;
bool g_quitting = false;

gboolean RunTask(gpointer data) {
    auto* task = static_cast<std::function<void()>*>(data);
    (*task)();
    return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) {
    delete static_cast<std::function<void()>*>(data);
}

}  // namespace

void PostToGuiThread(std::function<void()> task) {
    // g_idle_add_full always queues on the default context, also when called on the GUI
    // thread itself, which keeps posted work in order (g_main_context_invoke would not).
    g_idle_add_full(G_PRIORITY_DEFAULT, RunTask, new std::function<void()>(std::move(task)),
                    DeleteTask);
}

bool IsGuiThread() {
    return std::this_thread::get_id() == g_guiThread.load();
}

int RunGuiLoop() {
    g_guiThread = std::this_thread::get_id();
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_loop = loop;
    g_exitCode = 0;
    g_quitting = false;
    g_main_loop_run(loop);
    g_loop = nullptr;
    g_main_loop_unref(loop);
    return g_exitCode;
}

bool QuitGuiLoop(int exitCode) {
    if (g_loop == nullptr) return false;
    g_exitCode = exitCode;
    g_quitting = true;
    g_main_loop_quit(g_loop);
    return true;
}

bool GuiLoopQuitting() {
    return g_quitting;
}

}  // namespace os
