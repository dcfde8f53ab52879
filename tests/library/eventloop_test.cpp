#include "library/eventloop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zorvex {
namespace {

class TRecorder : public TMessageTarget {
  public:
    void OnMessage(const TMessage& m) override { Messages.push_back(m); }
    void OnTimer(uint32_t id) override { Timers.push_back(id); }
    std::vector<TMessage> Messages;
    std::vector<uint32_t> Timers;
};

TEST(EventLoopTest, MessagesFromManyThreadsKeepEachThreadsOrder) {
    TPlainEventLoop loop;
    TRecorder target;
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) loop.Post(&target, 1143, t, i);
        });
    for (auto& p : posters) p.join();
    ASSERT_TRUE(loop.RunUntil([&] { return target.Messages.size() == kThreads * kEach; },
                              std::chrono::seconds(5)));
    std::vector<intptr_t> last(kThreads, -1);
    for (const auto& m : target.Messages) {
        EXPECT_EQ(m.LParam, last[m.WParam] + 1);
        last[m.WParam] = m.LParam;
    }
}

TEST(EventLoopTest, TimersRepeatOrFireOnceAndCanBeKilled) {
    TPlainEventLoop loop;
    TRecorder target;
    loop.SetTimer(&target, 104, 10, true);
    loop.SetTimer(&target, 111, 5, false);
    ASSERT_TRUE(loop.RunUntil(
        [&] { return std::count(target.Timers.begin(), target.Timers.end(), 104u) >= 3; },
        std::chrono::seconds(5)));
    EXPECT_EQ(std::count(target.Timers.begin(), target.Timers.end(), 111u), 1);
    loop.KillTimer(&target, 104);
    size_t seen = target.Timers.size();
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(target.Timers.size(), seen);
}

TEST(EventLoopTest, DetachDropsQueuedMessagesAndTimers) {
    TPlainEventLoop loop;
    TRecorder kept, gone;
    loop.Post(&gone, 1, 0, 0);
    loop.Post(&kept, 2, 0, 0);
    loop.SetTimer(&gone, 108, 1);
    loop.Detach(&gone);
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_TRUE(gone.Messages.empty());
    EXPECT_TRUE(gone.Timers.empty());
    ASSERT_EQ(kept.Messages.size(), 1u);
}

TEST(EventLoopTest, StopFromAnotherThreadEndsRun) {
    TPlainEventLoop loop;
    TRecorder target;
    std::thread stopper([&] {
        loop.Post(&target, 7, 0, 0);
        loop.Stop();
    });
    loop.Run();
    stopper.join();
    // Run returned; a message posted before Stop may or may not have been delivered,
    // but a new Run delivers whatever is left.
    loop.Post(&target, 8, 0, 0);
    loop.RunPending();
    ASSERT_FALSE(target.Messages.empty());
    EXPECT_EQ(target.Messages.back().Msg, 8u);
}

}  // namespace
}  // namespace zorvex
