// The duplicate-instance message box is a real GTK dialog on the GUI thread, even when the
// query runs on a worker, and the worker waits until the user has closed it.
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "os/GuiThread.h"
#include "os/Window.h"
#include "phone/PhoneDetector.h"

namespace {

struct Seen {
    std::vector<std::string> titles;
    std::vector<std::string> texts;
    std::vector<bool> onGuiThread;
    std::atomic<bool>* workerDone = nullptr;
    std::vector<bool> workerDoneWhileShown;
};

// Runs inside the dialog's own loop: reads the box that is up and presses OK.
gboolean AnswerDialogs(gpointer data) {
    auto* seen = static_cast<Seen*>(data);
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (!GTK_IS_MESSAGE_DIALOG(window) || !gtk_widget_get_visible(GTK_WIDGET(window))) {
            continue;
        }
        gchar* text = nullptr;
        g_object_get(window, "text", &text, nullptr);
        seen->titles.push_back(gtk_window_get_title(window) ? gtk_window_get_title(window) : "");
        seen->texts.push_back(text ? text : "");
        g_free(text);
        seen->onGuiThread.push_back(os::IsGuiThread());
        seen->workerDoneWhileShown.push_back(seen->workerDone->load());
        gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_OK);
    }
    g_list_free(windows);
    return G_SOURCE_CONTINUE;
}

}  // namespace

TEST(PhoneDetectorMessageBox, WorkerQueryShowsTheBoxOnTheGuiThreadAndWaits) {
    ASSERT_TRUE(os::InitGuiToolkit());
    std::atomic<bool> workerDone{false};
    Seen seen;
    seen.workerDone = &workerDone;
    const guint answerer = g_timeout_add(50, AnswerDialogs, &seen);

    size_t phones = 0;
    std::thread worker([&] {
        os::UsbDeviceFacts node;
        node.instanceId = "USB\\VID_22D9&PID_2765\\SAMESERIAL";
        node.compatibleId = "USB\\Class_ff&SubClass_42&Prot_01";
        node.configFlags = 0;
        CPhoneDetector detector(
            [node] {
                return std::optional(std::vector{node, node});
            },
            ShowMessageBoxFromAnyThread);
        std::vector<PhoneInterface> list;
        detector.ListPhones(list, true);
        phones = list.size();
        workerDone = true;
        os::PostToGuiThread([] { os::QuitGuiLoop(0); });
    });
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !workerDone; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!workerDone) os::PostToGuiThread([] { os::QuitGuiLoop(1); });
    });
    const int code = os::RunGuiLoop();
    worker.join();
    watchdog.join();
    g_source_remove(answerer);

    EXPECT_EQ(code, 0);
    EXPECT_EQ(phones, 2u);
    ASSERT_EQ(seen.texts.size(), 2u);  // each of the pair meets the other once
    for (size_t i = 0; i < seen.texts.size(); ++i) {
        EXPECT_EQ(seen.texts[i], "很神奇,实例貌似一样哇!快找我们的技术看看是咋了?");
        EXPECT_EQ(seen.titles[i], "Lanternhall");
        EXPECT_TRUE(seen.onGuiThread[i]);
        EXPECT_FALSE(seen.workerDoneWhileShown[i]);
    }
}
