#include "nntp/grouplist.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "library/ascii.h"
#include "library/profile.h"
#include "nntp/newsrc.h"

namespace zorvex {

namespace {

struct TGroupLine {
    std::string Name;
    int Enabled = 1;
    TArticleNo Pointer = 0;
};

// "name enabled pointer". A line that lacks the flag or the pointer was
// written by hand or by something else: the group is taken enabled and
// from pointer 0, so it is walked from the start rather than silently
// skipped.
bool ParseGroupLine(std::string_view value, TGroupLine* out) {
    value = TrimLeadingSpaces(value);
    size_t len = 0;
    while (len < value.size() && !IsSpaceAscii(value[len])) ++len;
    if (len == 0) return false;
    out->Name.assign(value.substr(0, std::min(len, GROUP_NAME_MAX)));
    // The store interns C strings: a NUL would cut the name anyway.
    out->Name.resize(std::strlen(out->Name.c_str()));
    if (out->Name.empty()) return false;
    value.remove_prefix(len);
    TArticleNo flag;
    if (!ReadClampedDecimal(&value, &flag)) return true;
    out->Enabled = flag != 0 ? 1 : 0;
    TArticleNo pointer;
    if (ReadClampedDecimal(&value, &pointer)) out->Pointer = pointer < 0 ? 0 : pointer;
    return true;
}

// What the user may put in the list: one word of printable bytes that
// fits the saved line.
bool AcceptableName(std::string_view name) {
    if (name.empty() || name.size() > GROUP_NAME_ADD_MAX) return false;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f) return false;
    }
    return true;
}

enum TBox { BOX_SCI, BOX_ELSE, BOX_REC, BOX_COMP, BOX_BIZ, BOX_ALT };

TBox BoxOf(std::string_view name) {
    if (name.starts_with("alt.")) return BOX_ALT;
    if (name.starts_with("comp.")) return BOX_COMP;
    if (name.starts_with("rec.")) return BOX_REC;
    if (name.starts_with("biz.")) return BOX_BIZ;
    if (name.starts_with("sci.")) return BOX_SCI;
    return BOX_ELSE;
}

bool Ticked(const TBrowseBoxes& boxes, TBox box) {
    switch (box) {
        case BOX_SCI:
            return boxes.Sci;
        case BOX_REC:
            return boxes.Rec;
        case BOX_COMP:
            return boxes.Comp;
        case BOX_BIZ:
            return boxes.Biz;
        case BOX_ALT:
            return boxes.Alt;
        case BOX_ELSE:
            break;
    }
    return boxes.Else;
}

}  // namespace

// ---- loading and saving ----

void TGroupList::Load(const TProfile& profile) {
    for (int i = 0; i < MAXNEWSGROUPS; ++i) {
        std::string value =
            profile.GetString(GROUPLIST_SECTION, std::to_string(i), "", GROUPLIST_VALUE_MAX);
        TGroupLine line;
        if (value.empty() || !ParseGroupLine(value, &line)) break;
        if (Groups.IndexOfGroup(line.Name.c_str()) >= 0) continue;
        TNewsGroup* g = Groups.AddGroup(line.Name.c_str());
        if (!g) break;
        g->Enabled = line.Enabled;
        g->Pointer = line.Pointer;
        g->SavedPointer = line.Pointer;
    }
    Groups.HighestWrittenIndex = std::max(Groups.HighestWrittenIndex, Groups.GroupCount());
}

void TGroupList::WriteGroup(TProfile& profile, int index, bool onlyIfChanged) {
    TNewsGroup* g = Groups.GetGroup(index);
    std::string key = std::to_string(index);
    if (!g) {
        profile.Delete(GROUPLIST_SECTION, key);
        return;
    }
    if (onlyIfChanged && g->Pointer == g->SavedPointer) return;
    std::string value = g->Name;
    value += g->Enabled ? " 1 " : " 0 ";
    value += std::to_string(static_cast<long long>(g->Pointer));
    profile.Set(GROUPLIST_SECTION, key, value);
    Written.push_back({index, g->Pointer});
    Groups.HighestWrittenIndex = std::max(Groups.HighestWrittenIndex, index);
}

void TGroupList::SaveGroup(TProfile& profile, int index, bool onlyIfChanged) {
    Written.clear();
    WriteGroup(profile, index, onlyIfChanged);
    for (const TWritten& w : Written) Groups.GetGroup(w.Index)->SavedPointer = w.Pointer;
    Written.clear();
}

void TGroupList::WriteGroupList(TProfile& profile) {
    ++WriteRounds;
    Written.clear();
    const bool changedOnly = Mode == SAVE_CHANGED_POINTERS;
    const int count = Groups.GroupCount();
    for (int i = 0; i < count; ++i) WriteGroup(profile, i, changedOnly);
    if (changedOnly) return;
    const int highest = std::min(Groups.HighestWrittenIndex, MAXNEWSGROUPS);
    for (int i = count; i <= highest; ++i) WriteGroup(profile, i, false);
}

bool TGroupList::SaveThrough(TSaveMode mode, const std::function<bool()>& save) {
    Mode = mode;
    const unsigned roundsBefore = WriteRounds;
    bool ok = save();
    Mode.reset();
    // A writer that did not call back (not loaded, or not wired to this
    // list) wrote nothing of it.
    bool reached = ok && WriteRounds != roundsBefore;
    if (reached)
        for (const TWritten& w : Written)
            if (TNewsGroup* g = Groups.GetGroup(w.Index)) g->SavedPointer = w.Pointer;
    Written.clear();
    return reached;
}

// ---- plain table edits ----

std::vector<int> TGroupList::ValidSelection(const std::vector<int>& selection) const {
    std::vector<int> valid;
    for (int i : selection)
        if (i >= 0 && i < Groups.GroupCount()) valid.push_back(i);
    std::sort(valid.begin(), valid.end(), [](int a, int b) { return a > b; });
    valid.erase(std::unique(valid.begin(), valid.end()), valid.end());
    return valid;
}

int TGroupList::AddNames(const std::vector<std::string>& names, std::vector<std::string>* refused) {
    int added = 0;
    for (const std::string& raw : names) {
        std::string name(TrimBlanks(raw));
        if (!AcceptableName(name)) {
            if (refused) refused->push_back(raw);
            continue;
        }
        if (Groups.IndexOfGroup(name.c_str()) >= 0) continue;
        if (!Groups.AddGroup(name.c_str())) {
            if (refused) refused->push_back(raw);
            continue;
        }
        ++added;
    }
    return added;
}

int TGroupList::DeleteSelection(const std::vector<int>& selection) {
    std::vector<int> chosen = ValidSelection(selection);
    // Highest first, so the indices still to go keep their places.
    for (int i : chosen) Groups.DeleteGroup(i);
    return static_cast<int>(chosen.size());
}

bool TGroupList::ToggleEnabled(const std::vector<int>& selection) {
    std::vector<int> chosen = ValidSelection(selection);
    for (int i : chosen) Groups.SetEnabled(i, !Groups.IsEnabled(i));
    return !chosen.empty();
}

std::string TGroupList::DisplayText(const TNewsGroup& group) {
    return (group.Enabled ? "[Enabled] " : "[Disabled] ") + std::string(group.Name);
}

// ---- message pointers ----

bool TGroupList::SetPointer(TNewsGroup* group, TArticleNo entered) {
    if (!group || entered < 0) return false;
    const TArticleNo before = group->Pointer;
    TArticleNo pointer = std::min(entered, ARTICLE_NO_MAX);
    if (group->Done && group->Last < pointer) pointer = group->Last;
    group->Pointer = pointer;
    Groups.ApplyPointer(group);
    // Headers below the lowest loaded one were never fetched: the next
    // visit loads them from pointer + 1.
    if (pointer < group->LowestLoaded) {
        group->Done = 0;
        group->HighestLoaded = 0;
    }
    return pointer != before;
}

TPointerInfo TGroupList::PointerInfo(const TNewsGroup& group) {
    TPointerInfo info;
    info.Pointer = std::to_string(static_cast<long long>(group.Pointer));
    info.First = group.Done ? std::to_string(static_cast<long long>(group.First)) : "Unknown";
    info.Last = group.Done ? std::to_string(static_cast<long long>(group.Last)) : "Unknown";
    return info;
}

// ---- the browse dialog ----

std::vector<std::string> BrowseAvailable(const TNewsrcList& newsrc, const TNewsStore& groups,
                                         const std::vector<std::string>& toAdd,
                                         const TBrowseBoxes& boxes, const std::string& search) {
    // Listed groups are left out as the add command would refuse them:
    // whatever their letter case.
    std::unordered_set<std::string> listed;
    auto& table = const_cast<TNewsStore&>(groups);  // GetGroup has no const form; only read
    for (int i = 0; i < table.GroupCount(); ++i) listed.insert(LowerAscii(table.GetGroup(i)->Name));
    std::unordered_set<std::string_view> picked(toAdd.begin(), toAdd.end());

    std::vector<const std::string*> shown;
    for (const std::string& name : newsrc.Names()) {
        if (!Ticked(boxes, BoxOf(name))) continue;
        if (!search.empty() && name.find(search) == std::string::npos) continue;
        if (picked.count(name) || listed.count(LowerAscii(name))) continue;
        shown.push_back(&name);
    }
    // std::string compares its bytes as unsigned char.
    std::sort(shown.begin(), shown.end(),
              [](const std::string* a, const std::string* b) { return *a < *b; });
    std::vector<std::string> out;
    out.reserve(shown.size());
    for (const std::string* name : shown) out.push_back(*name);
    return out;
}

}  // namespace zorvex
