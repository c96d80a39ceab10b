#include "base/MessageLoop.h"
#include "os/GuiThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(MessageLoopRun, EndsOnTheQuitRequestWithItsCode) {
    CMessageLoop loop;
    bool earlierWorkRan = false;
    os::PostToGuiThread([&] { earlierWorkRan = true; });
    QuitMessageLoop(7);  // asked before the loop runs, as a panel may during its creation
    EXPECT_EQ(loop.Run(), 7);
    EXPECT_TRUE(earlierWorkRan);

    std::thread worker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QuitMessageLoop(3);
    });
    EXPECT_EQ(loop.Run(), 3);
    worker.join();
}
