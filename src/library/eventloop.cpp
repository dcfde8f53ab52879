#include "library/eventloop.h"

#include <algorithm>

namespace zorvex {

void TPlainEventLoop::Post(TMessageTarget* target, uint32_t msg, uintptr_t wparam,
                           intptr_t lparam) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Queue.push_back({target, {msg, wparam, lparam}});
    }
    Wake.notify_one();
}

void TPlainEventLoop::SetTimer(TMessageTarget* target, uint32_t id, unsigned periodMs,
                               bool repeat) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        auto period = std::chrono::milliseconds(periodMs);
        auto due = Clock::now() + period;
        for (auto& t : Timers) {
            if (t.Target == target && t.Id == id) {
                t.Period = period;
                t.Repeat = repeat;
                t.Due = due;
                Wake.notify_one();
                return;
            }
        }
        Timers.push_back({target, id, period, repeat, due});
    }
    Wake.notify_one();
}

void TPlainEventLoop::KillTimer(TMessageTarget* target, uint32_t id) {
    std::lock_guard<std::mutex> guard(Lock);
    std::erase_if(Timers, [&](const TTimer& t) { return t.Target == target && t.Id == id; });
}

void TPlainEventLoop::Detach(TMessageTarget* target) {
    std::lock_guard<std::mutex> guard(Lock);
    std::erase_if(Queue, [&](const TQueued& q) { return q.Target == target; });
    std::erase_if(Timers, [&](const TTimer& t) { return t.Target == target; });
}

void TPlainEventLoop::Stop() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        StopRequested = true;
    }
    Wake.notify_all();
}

bool TPlainEventLoop::DeliverOne(Clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(Lock);
    for (;;) {
        if (!Queue.empty()) {
            TQueued q = Queue.front();
            Queue.pop_front();
            guard.unlock();
            if (q.Target) q.Target->OnMessage(q.Msg);
            return true;
        }
        auto now = Clock::now();
        auto next = deadline;
        for (auto it = Timers.begin(); it != Timers.end(); ++it) {
            if (it->Due <= now) {
                TMessageTarget* target = it->Target;
                uint32_t id = it->Id;
                if (it->Repeat) {
                    it->Due = now + it->Period;
                } else {
                    Timers.erase(it);
                }
                guard.unlock();
                target->OnTimer(id);
                return true;
            }
            next = std::min(next, it->Due);
        }
        if (StopRequested || now >= deadline) return false;
        Wake.wait_until(guard, next);
    }
}

void TPlainEventLoop::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (StopRequested) {
                StopRequested = false;
                return;
            }
        }
        DeliverOne(Clock::time_point::max());
    }
}

bool TPlainEventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        DeliverOne(deadline);
    }
    return true;
}

int TPlainEventLoop::RunPending() {
    int n = 0;
    while (DeliverOne(Clock::now())) ++n;
    return n;
}

}  // namespace zorvex
