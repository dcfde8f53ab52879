// crosspost: the similar-groups tally. The groups named in the Xref lines
// of the articles fetched from the current group, with how often each was
// seen, for the dialog that offers them as groups to add.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zorvex {

class TNewsStore;

// Distinct names the tally keeps between two group changes.
constexpr size_t TALLY_NAMES_MAX = 4096;

class TCrossPostTally {
  public:
    // Counts one name (cut to the group list's GROUP_NAME_MAX); new names beyond
    // TALLY_NAMES_MAX are not counted.
    void Count(std::string_view name);
    // Counts every name of a header's cross-post text ("a.b: c.d: ").
    void CountCrossPosts(const char* crossPosts);
    // The walk moved to another group: start over.
    void ClearCounts();
    int CountOf(std::string_view name) const;
    // "%s: %d" per counted name in the order first seen, "*%s: %d" when
    // the name is already in the group table.
    std::vector<std::string> Lines(const TNewsStore& groups) const;

  private:
    std::vector<std::pair<std::string, int>> Entries;
    std::unordered_map<std::string, size_t> Index;
};

}  // namespace zorvex
