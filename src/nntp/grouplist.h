// grouplist: the user's group list as the settings file keeps it ([grouplist]
// keys "0", "1", ... holding "name enabled pointer"), the operations behind
// the group-list commands, the message-pointers dialog, the similar-groups
// tally and the browse dialog's filter. The table itself is TNewsStore's;
// this unit only loads, saves and edits it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "nntp/newsstore.h"

namespace zorvex {

class TNewsrcList;
class TNewsView;
class TProfile;
class TSettingsStore;

constexpr const char* GROUPLIST_SECTION = "grouplist";
constexpr size_t GROUPLIST_VALUE_MAX = 255;
constexpr size_t GROUP_NAME_MAX = 255;
// The longest name taken from the user: its saved line "name 1 pointer"
// (19 digits at most) must still fit in GROUPLIST_VALUE_MAX, or the pointer
// would be cut off at the next load.
constexpr size_t GROUP_NAME_ADD_MAX = GROUPLIST_VALUE_MAX - 3 - 19;
// Distinct names the similar-groups tally keeps between two group changes.
constexpr size_t TALLY_NAMES_MAX = 4096;

// The browse dialog's hierarchy check boxes ([browse] in the settings).
struct TBrowseBoxes {
    bool Sci, Else, Rec, Comp, Biz, Alt;
};

// What the message-pointers dialog shows; first and last are "Unknown"
// until the group has been visited in this pass.
struct TPointerInfo {
    std::string Pointer, First, Last;
};

// The groups named in the Xref lines of the articles fetched from the
// current group, with how often each was seen.
class TCrossPostTally {
  public:
    // Counts one name (cut to GROUP_NAME_MAX); new names beyond
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

class TGroupList {
  public:
    explicit TGroupList(TNewsStore& store) : Groups(store) {}

    TNewsStore& Store() { return Groups; }

    // Adds the groups of [grouplist] that are not in the table yet.
    void Load(const TProfile& profile);
    // Writes key index ("%s %d %lld") and takes its pointer as saved; with
    // onlyIfChanged, nothing when the pointer is the saved one. An index at
    // or past the end deletes the key.
    void SaveGroup(TProfile& profile, int index, bool onlyIfChanged);
    // What the settings store calls for SAVE_GROUP_LIST: the changed
    // pointers for SavePointers, otherwise the whole list with the stale
    // keys behind it deleted.
    void WriteGroupList(TProfile& profile);
    // Save through the settings store, whose peers must pass
    // WriteGroupList on to this list. True only when the list reached the
    // file; pointers count as saved only then.
    bool SavePointers(TSettingsStore& settings);
    bool SaveGroupList(TSettingsStore& settings);

    // ---- the group commands; each change saves the whole list ----

    // Adds each name (blanks around it trimmed) that is not listed yet.
    // Empty names, names with blanks or control characters, names longer
    // than GROUP_NAME_ADD_MAX and names that find the table full go to
    // *refused when given. Returns how many were added.
    int AddGroups(const std::vector<std::string>& names, TSettingsStore& settings,
                  std::vector<std::string>* refused = nullptr);
    // Asks, then deletes the selected groups. Refused when the selection
    // holds the group being downloaded (null when not connected).
    bool DeleteGroups(const std::vector<int>& selection, const TNewsGroup* downloading,
                      TNewsView& view, TSettingsStore& settings);
    void ToggleEnabled(const std::vector<int>& selection, TSettingsStore& settings);
    bool Promote(int index, TNewsView& view, TSettingsStore& settings);
    bool Demote(int index, TNewsView& view, TSettingsStore& settings);
    bool Sort(TNewsView& view, TSettingsStore& settings);
    static std::string DisplayText(const TNewsGroup& group);

    // ---- message pointers ----

    // The dialog's OK; false (nothing changed) for a negative entry.
    // Returns whether the pointer moved; SavePointers saves it.
    bool SetPointer(TNewsGroup* group, TArticleNo entered);
    static TPointerInfo PointerInfo(const TNewsGroup& group);
    // The copy-last button: the last article number, or a note that the
    // group was not scanned yet.
    static bool CopyLast(const TNewsGroup& group, TNewsView& view, TArticleNo* field);

    // ---- similar groups and the browse dialog ----

    // The similar-groups dialog's Add for one of the tally's lines.
    bool AddSimilarGroup(std::string_view line, TNewsView& view, TSettingsStore& settings);
    // The browse dialog's fresh-list button.
    static bool RequestFreshNewsrc(TNewsrcList& newsrc, TNewsView& view);

  private:
    enum TSaveMode { SAVE_NOT_ASKED, SAVE_CHANGED_POINTERS, SAVE_WHOLE_LIST };
    struct TWritten {
        int Index;
        TArticleNo Pointer;
    };

    void WriteGroup(TProfile& profile, int index, bool onlyIfChanged);
    bool SaveThrough(TSaveMode mode, TSettingsStore& settings);
    // The selected indices that exist, each once, highest first.
    std::vector<int> ValidSelection(const std::vector<int>& selection);

    TNewsStore& Groups;
    TSaveMode Mode = SAVE_NOT_ASKED;
    // Pointers written in the last WriteGroupList, taken as saved only once
    // the file write is known to have succeeded.
    std::vector<TWritten> Written;
    unsigned WriteRounds = 0;
};

// The browse dialog's available list: the newsrc names whose hierarchy box
// is ticked, that contain search (exactly, case-sensitive; empty matches
// all) and that are neither in the table nor in toAdd, sorted as unsigned
// bytes.
std::vector<std::string> BrowseAvailable(const TNewsrcList& newsrc, const TNewsStore& groups,
                                         const std::vector<std::string>& toAdd,
                                         const TBrowseBoxes& boxes, const std::string& search);

}  // namespace zorvex
