#include "app/groupcommands.h"

#include "app/settings.h"
#include "app/view.h"
#include "library/ascii.h"
#include "nntp/newsrc.h"

namespace zorvex {

bool TGroupCommands::SaveThrough(TGroupList::TSaveMode mode, TSettingsStore& settings) {
    return Groups.SaveThrough(mode, [&settings] { return settings.SaveWithSet(SAVE_GROUP_LIST); });
}

bool TGroupCommands::SavePointers(TSettingsStore& settings) {
    return SaveThrough(TGroupList::SAVE_CHANGED_POINTERS, settings);
}

bool TGroupCommands::SaveGroupList(TSettingsStore& settings) {
    return SaveThrough(TGroupList::SAVE_WHOLE_LIST, settings);
}

// ---- the group commands ----

int TGroupCommands::AddGroups(const std::vector<std::string>& names, TSettingsStore& settings,
                              std::vector<std::string>* refused) {
    int added = Groups.AddNames(names, refused);
    if (added > 0) SaveGroupList(settings);
    return added;
}

bool TGroupCommands::DeleteGroups(const std::vector<int>& selection, const TNewsGroup* downloading,
                                  TNewsView& view, TSettingsStore& settings) {
    std::vector<int> chosen = Groups.ValidSelection(selection);
    if (chosen.empty()) return false;
    TNewsStore& table = Groups.Store();
    if (downloading) {
        for (int i : chosen) {
            if (table.GetGroup(i) == downloading) {
                view.MessageBox(
                    "You cannot delete the group that is currently downloading (disconnect or "
                    "use <Jump-To> to change)",
                    "Error", BOX_OK);
                return false;
            }
        }
    }
    std::string question =
        chosen.size() == 1
            ? "Delete NewsGroup " + std::string(table.GetGroup(chosen[0])->Name) + " ?"
            : "Delete " + std::to_string(chosen.size()) + " groups ?";
    if (view.MessageBox(question, "Confirm", BOX_YES_NO) != ANSWER_YES) return false;
    Groups.DeleteSelection(chosen);
    SaveGroupList(settings);
    return true;
}

void TGroupCommands::ToggleEnabled(const std::vector<int>& selection, TSettingsStore& settings) {
    if (Groups.ToggleEnabled(selection)) SaveGroupList(settings);
}

bool TGroupCommands::Promote(int index, TNewsView& view, TSettingsStore& settings) {
    TNewsStore& table = Groups.Store();
    if (index < 0 || index >= table.GroupCount()) return false;
    if (index == 0) {
        view.MessageBox("You cannot promote the first group", "Error", BOX_OK);
        return false;
    }
    table.MoveGroupUp(index);
    SaveGroupList(settings);
    return true;
}

bool TGroupCommands::Demote(int index, TNewsView& view, TSettingsStore& settings) {
    TNewsStore& table = Groups.Store();
    if (index < 0 || index >= table.GroupCount()) return false;
    if (index == table.GroupCount() - 1) {
        view.MessageBox("You cannot demote the last group", "Error", BOX_OK);
        return false;
    }
    table.MoveGroupDown(index);
    SaveGroupList(settings);
    return true;
}

bool TGroupCommands::Sort(TNewsView& view, TSettingsStore& settings) {
    if (view.MessageBox("Sort the newsgroup listing?", "Confirm", BOX_YES_NO) != ANSWER_YES)
        return false;
    Groups.Store().SortGroups();
    SaveGroupList(settings);
    return true;
}

// ---- message pointers ----

bool TGroupCommands::CopyLast(const TNewsGroup& group, TNewsView& view, TArticleNo* field) {
    if (!group.Done) {
        view.MessageBox("This group has not been scanned yet, so the highest message isn't known.",
                        "Sorry!", BOX_OK);
        return false;
    }
    *field = group.Last;
    return true;
}

// ---- similar groups and the browse dialog ----

bool TGroupCommands::AddSimilarGroup(std::string_view line, TNewsView& view,
                                     TSettingsStore& settings) {
    if (!line.empty() && line.front() == '*') line.remove_prefix(1);
    std::string name(TrimBlanks(line.substr(0, line.find(':'))));
    if (name.empty()) {
        view.MessageBox("Please highlight a line in the listbox first", "error", BOX_OK);
        return false;
    }
    if (view.MessageBox("Add " + name + " to group list ?", "Confirm", BOX_YES_NO) != ANSWER_YES)
        return false;
    TNewsStore& table = Groups.Store();
    if (table.IndexOfGroup(name.c_str()) >= 0) {
        view.MessageBox(name + " is already listed in the group list!", "Error!", BOX_OK);
        return false;
    }
    if (AddGroups({name}, settings) == 1) return true;
    view.MessageBox(table.GroupCount() >= MAXNEWSGROUPS
                        ? "The group list is full: " + name + " was not added"
                        : name + " is not a usable group name",
                    "Error!", BOX_OK);
    return false;
}

bool TGroupCommands::RequestFreshNewsrc(TNewsrcList& newsrc, TNewsView& view) {
    if (view.MessageBox("This will cause a new Newsgroup List to be downloaded from your server",
                        "Confirm", BOX_OK_CANCEL) != ANSWER_OK)
        return false;
    view.MessageBox(
        "The new Newsgroup List will be downloaded next time you <connect> to your "
        "server",
        "Done!", BOX_OK);
    newsrc.RequestFresh();
    return true;
}

}  // namespace zorvex
