#include "app/statusqueue.h"

#include <cstdio>

#include "app/messages.h"
#include "app/statuslog.h"
#include "library/eventloop.h"

namespace zorvex {

TStatusQueue& TStatusQueue::Global() {
    static TStatusQueue queue;
    return queue;
}

void TStatusQueue::Attach(TEventLoop& loop, TMessageTarget& target) {
    std::lock_guard<std::mutex> hold(Lock);
    Loop = &loop;
    Target = &target;
}

void TStatusQueue::Detach() {
    std::lock_guard<std::mutex> hold(Lock);
    Loop = nullptr;
    Target = nullptr;
    Queued.clear();
}

void TStatusQueue::SetEarlyHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> hold(Lock);
    Early = std::move(handler);
}

void TStatusQueue::Post(std::string_view text) {
    std::string copy(CutText(text, POSTED_STATUS_MAX));
    std::function<void(const std::string&)> early;
    {
        std::lock_guard<std::mutex> hold(Lock);
        if (Target != nullptr) {
            Queued.push_back(std::move(copy));
            Loop->Post(Target, MSG_STATUS_QUEUE, 0, 0);
            return;
        }
        early = Early;
    }
    // Shown outside the lock: a message box may take its time.
    if (early)
        early(copy);
    else
        fprintf(stderr, "%s: %s\n", EARLY_STATUS_CAPTION, copy.c_str());
}

std::vector<std::string> TStatusQueue::TakeAll() {
    std::vector<std::string> taken;
    {
        std::lock_guard<std::mutex> hold(Lock);
        taken.swap(Queued);
    }
    return {taken.rbegin(), taken.rend()};
}

void PostStatusMessage(std::string_view text) {
    TStatusQueue::Global().Post(text);
}

}  // namespace zorvex
