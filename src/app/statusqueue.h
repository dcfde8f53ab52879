// statusqueue: status lines from other threads. Any thread may post a text
// at any moment; the main object drains the queue on its own thread when
// message 1140 arrives. Before the main object exists a posted text goes to
// the early handler (the window shows it in a message box).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex {

class TEventLoop;
class TMessageTarget;

constexpr size_t POSTED_STATUS_MAX = 259;
constexpr const char* EARLY_STATUS_CAPTION = "Status Message";

class TStatusQueue {
  public:
    static TStatusQueue& Global();

    // The main object exists: texts are queued and announced to target.
    void Attach(TEventLoop& loop, TMessageTarget& target);
    // The main object goes: texts go to the early handler again.
    void Detach();
    // Shows a text while no main object exists; by default it is written to
    // standard error under the caption.
    void SetEarlyHandler(std::function<void(const std::string&)> handler);

    void Post(std::string_view text);
    // The queued texts, most recently posted first; the queue is emptied.
    std::vector<std::string> TakeAll();

  private:
    std::mutex Lock;
    std::vector<std::string> Queued;  // oldest first
    TEventLoop* Loop = nullptr;
    TMessageTarget* Target = nullptr;
    std::function<void(const std::string&)> Early;
};

// Thread-safe status line; see TStatusQueue.
void PostStatusMessage(std::string_view text);

}  // namespace zorvex
