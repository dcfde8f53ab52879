// grouplist: the user's group list as the settings file keeps it ([grouplist]
// keys "0", "1", ... holding "name enabled pointer"), the plain table edits
// behind the group-list commands, what the message-pointers dialog shows and
// sets, and the browse dialog's filter. The table itself is TNewsStore's;
// this unit only loads, writes and edits it. Asking the user and saving
// through the settings store belong to app/groupcommands.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "nntp/newsstore.h"

namespace zorvex {

class TNewsrcList;
class TProfile;

constexpr const char* GROUPLIST_SECTION = "grouplist";
constexpr size_t GROUPLIST_VALUE_MAX = 255;
constexpr size_t GROUP_NAME_MAX = 255;
// The longest name taken from the user: its saved line "name 1 pointer"
// (19 digits at most) must still fit in GROUPLIST_VALUE_MAX, or the pointer
// would be cut off at the next load.
constexpr size_t GROUP_NAME_ADD_MAX = GROUPLIST_VALUE_MAX - 3 - 19;

// The browse dialog's hierarchy check boxes ([browse] in the settings).
struct TBrowseBoxes {
    bool Sci, Else, Rec, Comp, Biz, Alt;
};

// What the message-pointers dialog shows; first and last are "Unknown"
// until the group has been visited in this pass.
struct TPointerInfo {
    std::string Pointer, First, Last;
};

class TGroupList {
  public:
    explicit TGroupList(TNewsStore& store) : Groups(store) {}

    TNewsStore& Store() { return Groups; }

    // ---- loading and saving ----

    // Adds the groups of [grouplist] that are not in the table yet.
    void Load(const TProfile& profile);
    // Writes key index ("%s %d %lld") and takes its pointer as saved; with
    // onlyIfChanged, nothing when the pointer is the saved one. An index at
    // or past the end deletes the key.
    void SaveGroup(TProfile& profile, int index, bool onlyIfChanged);
    // What the settings file's writer calls for its group-list part: the
    // changed pointers during a SAVE_CHANGED_POINTERS save, otherwise the
    // whole list with the stale keys behind it deleted.
    void WriteGroupList(TProfile& profile);

    enum TSaveMode { SAVE_CHANGED_POINTERS, SAVE_WHOLE_LIST };
    // Runs save, which writes the settings file and calls WriteGroupList on
    // this list on the way, in the given mode. True only when the list
    // reached the file; pointers count as saved only then.
    bool SaveThrough(TSaveMode mode, const std::function<bool()>& save);

    // ---- plain table edits; saving them is the caller's ----

    // Adds each name (blanks around it trimmed) that is not listed yet.
    // Empty names, names with blanks or control characters, names longer
    // than GROUP_NAME_ADD_MAX and names that find the table full go to
    // *refused when given. Returns how many were added.
    int AddNames(const std::vector<std::string>& names,
                 std::vector<std::string>* refused = nullptr);
    // The selected indices that exist, each once, highest first.
    std::vector<int> ValidSelection(const std::vector<int>& selection) const;
    // Deletes the selected groups that exist; returns how many.
    int DeleteSelection(const std::vector<int>& selection);
    // Flips each selected group once; false when none of them exists.
    bool ToggleEnabled(const std::vector<int>& selection);
    static std::string DisplayText(const TNewsGroup& group);

    // ---- message pointers ----

    // The dialog's OK; false (nothing changed) for a negative entry.
    // Returns whether the pointer moved; the caller saves it.
    bool SetPointer(TNewsGroup* group, TArticleNo entered);
    static TPointerInfo PointerInfo(const TNewsGroup& group);

  private:
    struct TWritten {
        int Index;
        TArticleNo Pointer;
    };

    void WriteGroup(TProfile& profile, int index, bool onlyIfChanged);

    TNewsStore& Groups;
    // Empty outside SaveThrough: a writer that saves on its own (the
    // exit-time default set) gets the whole list.
    std::optional<TSaveMode> Mode;
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
