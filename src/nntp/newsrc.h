// The server's list of group names as the client keeps it current: LIST the
// first time, NEWGROUPS since the stored moment afterwards. The list and its
// file belong to the group-list unit; the client only drives the exchange.
#pragma once

#include <string>

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
    // Marks the listing loaded for this run and writes the file.
    virtual void EndListing() = 0;
};

class TNewsrcNotKept final : public TNewsrcKeeper {
  public:
    bool Kept() const override { return false; }
    bool LoadedThisRun() const override { return false; }
    std::string BeginRequest() override { return {}; }
    void AddLine(const char*) override {}
    void EndListing() override {}
    static TNewsrcNotKept& Instance() {
        static TNewsrcNotKept keeper;
        return keeper;
    }
};

}  // namespace zorvex
