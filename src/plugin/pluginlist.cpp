#include "plugin/pluginlist.h"

#include <algorithm>

#include "library/profile.h"

namespace zorvex {

namespace {
constexpr const char* SECTION = "plugins";

std::string KeyOf(size_t i) {
    return "dllname" + std::to_string(i);
}
}  // namespace

void TPlugInList::Read(const TProfile& profile) {
    List.clear();
    Changed = false;
    int32_t count = profile.GetInt(SECTION, "count", 0);
    size_t n = std::min<size_t>(static_cast<size_t>(std::max(count, 0)), MAX_PLUGINS);
    for (size_t i = 0; i < n; ++i)
        List.push_back(profile.GetString(SECTION, KeyOf(i), "", PLUGIN_NAME_MAX));
}

void TPlugInList::Write(TProfile& profile) {
    if (!Changed) return;
    profile.SetInt(SECTION, "count", static_cast<int32_t>(List.size()));
    for (size_t i = 0; i < MAX_PLUGINS; ++i) {
        if (i < List.size())
            profile.Set(SECTION, KeyOf(i), List[i]);
        else
            profile.Delete(SECTION, KeyOf(i));
    }
}

TPlugInEdit TPlugInList::Add(const std::string& name) {
    if (List.size() >= MAX_PLUGINS) return TPlugInEdit::LIST_FULL;
    if (name.empty()) return TPlugInEdit::NO_NAME;
    List.push_back(name.substr(0, PLUGIN_NAME_MAX));
    Changed = true;
    return TPlugInEdit::DONE;
}

TPlugInEdit TPlugInList::Remove(int index) {
    if (index < 0 || static_cast<size_t>(index) >= List.size()) return TPlugInEdit::NO_SELECTION;
    List.erase(List.begin() + index);
    Changed = true;
    return TPlugInEdit::DONE;
}

}  // namespace zorvex
