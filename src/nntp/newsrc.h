// The server's list of group names as the client keeps it current: LIST the
// first time, NEWGROUPS since the stored moment afterwards. The list and its
// file belong to the group-list unit; the client only drives the exchange.
#pragma once

#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace zorvex {

class TNewsrcKeeper {
  public:
    virtual ~TNewsrcKeeper() = default;
    // False when no list is kept at all; the client then skips the step.
    virtual bool Kept() const = 0;
    // A listing has already arrived in this run: nothing to ask.
    virtual bool LoadedThisRun() const = 0;
    // The command to send ("NEWGROUPS ..." or "LIST"); stamps the moment.
    virtual std::string BeginRequest() = 0;
    virtual void AddLine(const char* line) = 0;
    // Marks the listing loaded for this run and, when the server sent one,
    // writes the file; a refused request keeps the moment of the last one.
    virtual void EndListing(bool received) = 0;
};

class TNewsrcNotKept final : public TNewsrcKeeper {
  public:
    bool Kept() const override { return false; }
    bool LoadedThisRun() const override { return false; }
    std::string BeginRequest() override { return {}; }
    void AddLine(const char*) override {}
    void EndListing(bool) override {}
    static TNewsrcNotKept& Instance() {
        static TNewsrcNotKept keeper;
        return keeper;
    }
};

// ---- the kept list ----

constexpr size_t NEWSRC_NAME_MAX = 255;
constexpr size_t NEWSRC_STAMP_MAX = 15;
// A listing longer than this is cut: real servers carry a few hundred
// thousand groups, and a hostile one must not fill the memory.
constexpr size_t NEWSRC_NAMES_MAX = size_t{1} << 21;

// The server's group names, newsrc.lst in the home directory and the moment
// of the last request. Names keep the order in which they arrived.
class TNewsrcList final : public TNewsrcKeeper {
  public:
    using TClock = std::function<time_t()>;

    explicit TNewsrcList(std::string homeDir, size_t maxNames = NEWSRC_NAMES_MAX);
    // The lookup set points into the names.
    TNewsrcList(const TNewsrcList&) = delete;
    TNewsrcList& operator=(const TNewsrcList&) = delete;

    // Replaces the list, date and time with the file's; an absent or
    // unreadable file leaves them empty, so the next logon sends LIST.
    void Read();
    // Replaces newsrc.lst atomically. False when it could not be written
    // (LastError() says why); the list stays in memory for this run.
    bool Write();
    // One line of a LIST or NEWGROUPS listing, or of the file: the name up
    // to the first blank, cut to NEWSRC_NAME_MAX, added once.
    void AddNewsrcLine(const char* line);
    // The browse dialog's fresh-list button: the next logon sends LIST.
    void RequestFresh();
    // The UTC clock stamped at each request.
    void SetClock(TClock clock) { Clock = std::move(clock); }

    bool Kept() const override { return true; }
    bool LoadedThisRun() const override { return Loaded; }
    std::string BeginRequest() override;
    void AddLine(const char* line) override { AddNewsrcLine(line); }
    void EndListing(bool received) override;

    const std::string& Date() const { return DateText; }
    const std::string& Time() const { return TimeText; }
    const std::deque<std::string>& Names() const { return Order; }
    // False until the file was read with names in it or a listing began.
    bool HasList() const { return Exists; }
    // Names dropped because the list was full, since the last LIST.
    size_t Dropped() const { return DroppedNames; }
    const std::string& Path() const { return FilePath; }
    const std::string& LastError() const { return Error; }

  private:
    void Empty();

    std::string FilePath;
    size_t MaxNames;
    TClock Clock;
    std::deque<std::string> Order;  // a deque never moves its strings
    std::unordered_set<std::string_view> Seen;
    std::string DateText, TimeText;
    std::string PreviousDate, PreviousTime;  // before the request in progress
    bool Exists = false;
    bool Loaded = false;
    bool FullListRequested = false;
    size_t DroppedNames = 0;
    std::string Error;
};

}  // namespace zorvex
