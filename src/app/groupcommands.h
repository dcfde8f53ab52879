// groupcommands: the group-list commands as the user gives them. Each asks
// its questions through the view and saves what it changed through the
// settings store, whose peers must pass WriteGroupList on to the list. The
// list, its [grouplist] keys and its plain edits are nntp/grouplist's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "nntp/grouplist.h"

namespace zorvex {

class TNewsrcList;
class TNewsView;
class TSettingsStore;

class TGroupCommands {
  public:
    explicit TGroupCommands(TGroupList& list) : Groups(list) {}

    TGroupList& List() { return Groups; }

    // Save through the settings store. True only when the list reached the
    // file; pointers count as saved only then.
    bool SavePointers(TSettingsStore& settings);
    bool SaveGroupList(TSettingsStore& settings);

    // ---- each change saves the whole list ----

    // TGroupList::AddNames, then a save when any was added.
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

    // The message-pointers dialog's copy-last button: the last article
    // number, or a note that the group was not scanned yet.
    static bool CopyLast(const TNewsGroup& group, TNewsView& view, TArticleNo* field);

    // The similar-groups dialog's Add for one of the tally's lines.
    bool AddSimilarGroup(std::string_view line, TNewsView& view, TSettingsStore& settings);
    // The browse dialog's fresh-list button.
    static bool RequestFreshNewsrc(TNewsrcList& newsrc, TNewsView& view);

  private:
    bool SaveThrough(TGroupList::TSaveMode mode, TSettingsStore& settings);

    TGroupList& Groups;
};

}  // namespace zorvex
