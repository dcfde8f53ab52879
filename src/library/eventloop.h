// The program's own message loop: posted messages (number, wParam, lParam)
// from any thread, delivered in order on the loop's thread, and timers by id
// and period. Engine code talks to TEventLoop only; the desktop program
// supplies a Qt-backed loop behind the same interface.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace zorvex {

struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};

// What a window was: something messages and timers are delivered to.
class TMessageTarget {
  public:
    virtual ~TMessageTarget() = default;
    virtual void OnMessage(const TMessage& msg) = 0;
    virtual void OnTimer(uint32_t id) { (void)id; }
};

class TEventLoop {
  public:
    virtual ~TEventLoop() = default;
    // Safe from any thread; messages for one loop keep their posting order.
    virtual void Post(TMessageTarget* target, uint32_t msg, uintptr_t wparam, intptr_t lparam) = 0;
    // Starting a timer that runs already restarts it with the new period.
    virtual void SetTimer(TMessageTarget* target, uint32_t id, unsigned periodMs,
                          bool repeat = true) = 0;
    virtual void KillTimer(TMessageTarget* target, uint32_t id) = 0;
    // Drops the target's queued messages and timers; call before it is destroyed.
    virtual void Detach(TMessageTarget* target) = 0;
    // Safe from any thread: makes Run return after the message being handled.
    virtual void Stop() = 0;
};

// The loop without a window system: a queue, a timer list and a condition
// variable. Used by the engine-only programs and the tests.
class TPlainEventLoop : public TEventLoop {
  public:
    void Post(TMessageTarget* target, uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
    void SetTimer(TMessageTarget* target, uint32_t id, unsigned periodMs,
                  bool repeat = true) override;
    void KillTimer(TMessageTarget* target, uint32_t id) override;
    void Detach(TMessageTarget* target) override;
    void Stop() override;

    // Runs until Stop. Returns at once if Stop was called before.
    void Run();
    // Runs until done() holds (checked after every delivery) or the limit
    // passes; true when done() held. Does not consume a pending Stop.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Delivers what is due now without waiting; returns the number delivered.
    int RunPending();

  private:
    using Clock = std::chrono::steady_clock;
    struct TQueued {
        TMessageTarget* Target;
        TMessage Msg;
    };
    struct TTimer {
        TMessageTarget* Target;
        uint32_t Id;
        std::chrono::milliseconds Period;
        bool Repeat;
        Clock::time_point Due;
    };

    // One delivery, waiting at most until the deadline; false when nothing came.
    bool DeliverOne(Clock::time_point deadline);

    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<TQueued> Queue;
    std::vector<TTimer> Timers;
    bool StopRequested = false;
};

}  // namespace zorvex
