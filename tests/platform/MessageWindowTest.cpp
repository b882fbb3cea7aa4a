#include "platform/Event.h"
#include "platform/MessageWindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {
// Runs the event loop until pred holds; gives up after a generous bound so that a lost
// message fails the test instead of hanging it.
template <typename Pred>
bool pumpUntil(Pred pred) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}
}  // namespace

TEST(MessageWindowTest, MessagesPostedByAWorkerRunInTheMainThreadInOrder) {
    std::vector<uintptr_t> got;
    bool allInMain = true;
    MessageWindow win([&](uint32_t msg, uintptr_t w, intptr_t l) {
        allInMain = allInMain && MessageWindow::IsMainThread();
        EXPECT_EQ(msg, MM_STOPMESSAGE);
        EXPECT_EQ(l, intptr_t(w) * 2);
        got.push_back(w);
    });
    std::thread worker([&] {
        EXPECT_FALSE(MessageWindow::IsMainThread());
        for (uintptr_t i = 0; i < 50; ++i) EXPECT_TRUE(win.Post(MM_STOPMESSAGE, i, intptr_t(i) * 2));
    });
    worker.join();
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 50; }));
    for (uintptr_t i = 0; i < 50; ++i) EXPECT_EQ(got[i], i);
    EXPECT_TRUE(allInMain);
}

TEST(MessageWindowTest, RemovePendingDropsOnlyThatMessage) {
    std::vector<uint32_t> got;
    MessageWindow win([&](uint32_t msg, uintptr_t, intptr_t) { got.push_back(msg); });
    win.Post(0x3BD);
    win.Post(MM_STOPMESSAGE);
    win.Post(0x3BD);
    EXPECT_EQ(win.PendingCount(0x3BD), 2u);
    EXPECT_EQ(win.RemovePending(0x3BD), 2u);
    EXPECT_EQ(win.PendingCount(0x3BD), 0u);
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    QCoreApplication::processEvents();  // the wake events of the removed messages find nothing
    EXPECT_EQ(got, std::vector<uint32_t>{MM_STOPMESSAGE});

    // ProcessPending delivers at once, without the event loop.
    win.Post(7);
    EXPECT_EQ(win.ProcessPending(), 1u);
    EXPECT_EQ(got.back(), 7u);
}

TEST(MessageWindowTest, DestroyedWindowDropsWhatWasStillQueued) {
    int calls = 0;
    {
        MessageWindow win([&](uint32_t, uintptr_t, intptr_t) { ++calls; });
        win.Post(1);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST(MessageWindowTest, SynchronizeRunsInTheMainThreadAndWaits) {
    std::atomic<bool> returned{false};
    bool inMain = false;
    std::string error;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        MessageWindow::Synchronize([&] { inMain = MessageWindow::IsMainThread(); });
        returned = true;  // only after the main thread ran it
        try {
            MessageWindow::Synchronize([] { throw std::runtime_error("from main"); });
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        finished = true;
    });
    // A main thread that waits without running its event loop still serves the calls.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!finished && std::chrono::steady_clock::now() < limit) MessageWindow::CheckSynchronize(20);
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(inMain);
    EXPECT_EQ(error, "from main");

    bool direct = false;
    MessageWindow::Synchronize([&] { direct = true; });  // in the main thread: at once
    EXPECT_TRUE(direct);
}

TEST(EventTest, AutoResetLetsOneWaiterPassPerSet) {
    Event e;
    EXPECT_FALSE(e.WaitFor(0));
    e.Set();
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.WaitFor(0));
    EXPECT_FALSE(e.IsSet());  // consumed by the waiter
    EXPECT_FALSE(e.WaitFor(0));

    e.Set();
    e.Reset();
    EXPECT_FALSE(e.WaitFor(0));

    Event ready, go;
    std::atomic<int> passed{0};
    std::thread t([&] {
        ready.Set();
        go.Wait();
        ++passed;
    });
    ready.Wait();
    go.Set();
    t.join();
    EXPECT_EQ(passed.load(), 1);
    EXPECT_TRUE(Event(true).WaitFor(0));
}

TEST(MessageWindowTest, SynchronizeIsServedByTheEventLoopAlone) {
    std::atomic<int> done{0};
    std::vector<int> order;  // touched only in the main thread
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&, i] {
            for (int k = 0; k < 10; ++k) MessageWindow::Synchronize([&, i] { order.push_back(i); });
            ++done;
        });
    EXPECT_TRUE(pumpUntil([&] { return done.load() == 4; }));
    for (auto& t : workers) t.join();
    EXPECT_EQ(order.size(), 40u);
}
