#include "nntp/crosspost.h"

#include <cstdint>

#include "library/ascii.h"
#include "nntp/grouplist.h"
#include "nntp/newsstore.h"

namespace zorvex {

void TCrossPostTally::Count(std::string_view name) {
    name = name.substr(0, GROUP_NAME_MAX);
    if (name.empty()) return;
    auto it = Index.find(std::string(name));
    if (it != Index.end()) {
        if (Entries[it->second].second < INT32_MAX) ++Entries[it->second].second;
        return;
    }
    if (Entries.size() >= TALLY_NAMES_MAX) return;
    Index.emplace(std::string(name), Entries.size());
    Entries.emplace_back(std::string(name), 1);
}

void TCrossPostTally::CountCrossPosts(const char* crossPosts) {
    if (!crossPosts) return;
    std::string_view rest(crossPosts);
    while (!rest.empty()) {
        rest = TrimLeadingSpaces(rest);
        size_t colon = rest.find(':');
        std::string_view name = TrimBlanks(rest.substr(0, colon));
        if (!name.empty()) Count(name);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
}

void TCrossPostTally::ClearCounts() {
    Entries.clear();
    Index.clear();
}

int TCrossPostTally::CountOf(std::string_view name) const {
    auto it = Index.find(std::string(name));
    return it == Index.end() ? 0 : Entries[it->second].second;
}

std::vector<std::string> TCrossPostTally::Lines(const TNewsStore& groups) const {
    std::vector<std::string> lines;
    for (const auto& [name, count] : Entries) {
        if (count <= 0) continue;
        std::string line = groups.IndexOfGroup(name.c_str()) >= 0 ? "*" : "";
        line += name;
        line += ": ";
        line += std::to_string(count);
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace zorvex
