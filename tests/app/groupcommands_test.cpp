// The group commands: [grouplist] saves through the settings store, the
// commands with their questions, the message-pointers dialog's copy-last
// button, the similar-groups Add and the browse dialog's fresh-list button.
#include "app/groupcommands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "app/view.h"
#include "library/fileio.h"
#include "library/profile.h"
#include "library/statussink.h"
#include "nntp/grouplist.h"
#include "nntp/newsrc.h"
#include "support/grouplist_fixture.h"

namespace zorvex {
namespace {

using Names = std::vector<std::string>;

struct TListPeers : TNoOtherSettingsKept {
    void WriteGroupList(TProfile& profile) override {
        ++GroupListWrites;
        if (List) List->WriteGroupList(profile);
    }
    TGroupList* List = nullptr;
    int GroupListWrites = 0;
};

struct TRecordedStatus : TStatusSink {
    void PrintStatus(std::string_view text) override { Lines.emplace_back(text); }
    std::vector<std::string> Lines;
};

struct TAsked {
    std::string Text, Caption;
    TBoxStyle Style;
    bool operator==(const TAsked&) const = default;
};

// Answers questions from a script (the safe answer once it runs out) and
// records every box.
class TScriptedView : public TNewsView {
  public:
    explicit TScriptedView(std::deque<TBoxAnswer> answers = {}) : Answers(std::move(answers)) {}
    void StatusLineAdded(std::string_view, bool) override {}
    void LogLineAdded(std::string_view, const THeader*, bool) override {}
    void ShowHint(std::string_view) override {}
    TBoxAnswer MessageBox(std::string_view text, std::string_view caption,
                          TBoxStyle style) override {
        Asked.push_back({std::string(text), std::string(caption), style});
        if (Answers.empty()) return SafeAnswer(style);
        TBoxAnswer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    std::deque<TBoxAnswer> Answers;
    std::vector<TAsked> Asked;
};

std::ostream& operator<<(std::ostream& os, const TAsked& a) {
    return os << "{" << a.Text << " | " << a.Caption << " | " << a.Style << "}";
}

class GroupCommandsTest : public test::TGroupListFixture {
  protected:
    void SetUp() override {
        Peers.List = &List;
        WriteIni("[misc]\nxover=1\n");
        ASSERT_TRUE(Settings.LoadSettings());
    }
    void TearDown() override { ClearFileFaults(); }

    std::string Key(int i) {
        return Saved().Get(GROUPLIST_SECTION, std::to_string(i)).value_or("<none>");
    }
    TGroupCommands Commands{List};
    TListPeers Peers;
    TRecordedStatus Status;
    TSettingsStore Settings{Path, Peers, &Status};
};

// ---- saving ----

TEST_F(GroupCommandsTest, DeletingAndSavingTheWholeListRemovesTheOldLastKey) {
    LoadList("0=a.b 1 10\n1=c.d 0 20\n2=e.f 1 30\n");
    TScriptedView view({ANSWER_YES});
    ASSERT_TRUE(Commands.DeleteGroups({0}, nullptr, view, Settings));
    EXPECT_EQ(Key(0), "c.d 0 20");
    EXPECT_EQ(Key(1), "e.f 1 30");
    EXPECT_EQ(Key(2), "<none>");
    EXPECT_EQ(Key(3), "<none>");
}

TEST_F(GroupCommandsTest, SavePointersWritesOnlyTheGroupsThatMoved) {
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    // Another writer changed key 0 since: a pointer save must not touch it.
    WriteIni("[grouplist]\n0=x.y 1 77\n1=c.d 0 20\n");
    Store.GetGroup(1)->Pointer = 25;
    ASSERT_TRUE(Commands.SavePointers(Settings));
    EXPECT_EQ(Key(0), "x.y 1 77");
    EXPECT_EQ(Key(1), "c.d 0 25");
    EXPECT_EQ(Store.GetGroup(1)->SavedPointer, 25);

    // Saved once, it is not written again.
    WriteIni("[grouplist]\n0=x.y 1 77\n1=c.d 0 20\n");
    ASSERT_TRUE(Commands.SavePointers(Settings));
    EXPECT_EQ(Key(1), "c.d 0 20");
}

TEST_F(GroupCommandsTest, SavePointersNeverDeletesKeys) {
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    Store.DeleteGroup(1);
    Store.GetGroup(0)->Pointer = 11;
    ASSERT_TRUE(Commands.SavePointers(Settings));
    EXPECT_EQ(Key(0), "a.b 1 11");
    EXPECT_EQ(Key(1), "c.d 0 20");
}

TEST_F(GroupCommandsTest, AnUnaskedSaveWritesTheWholeListButKeepsPointersPending) {
    // The exit-time default set calls without SavePointers or SaveGroupList.
    LoadList("0=a.b 1 10\n1=c.d 0 20\n");
    Store.DeleteGroup(1);
    Store.GetGroup(0)->Pointer = 12;
    ASSERT_TRUE(Settings.SaveWithSet(SAVE_GROUP_LIST));
    EXPECT_EQ(Key(0), "a.b 1 12");
    EXPECT_EQ(Key(1), "<none>");
    // Its outcome is not known here, so a pointer save writes it again.
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    WriteIni("[grouplist]\n0=a.b 1 10\n");
    ASSERT_TRUE(Commands.SavePointers(Settings));
    EXPECT_EQ(Key(0), "a.b 1 12");
}

enum TBreak { BREAK_PATH, BREAK_DISK_FULL, BREAK_RENAME };

class GroupCommandsFailedSave : public GroupCommandsTest,
                                public ::testing::WithParamInterface<TBreak> {
  protected:
    // The settings directory becomes a plain file: nothing can be written
    // below it, even by root.
    std::string SubDir = Dir.File("settings");
    std::string SubPath = SubDir + "/vantrel.ini";
};

TEST_P(GroupCommandsFailedSave, PointersStayPendingUntilAWriteSucceeds) {
    ASSERT_EQ(mkdir(SubDir.c_str(), 0700), 0);
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(SubPath, "[grouplist]\n0=a.b 1 10\n", &error)) << error;
    TSettingsStore settings(SubPath, Peers, &Status);
    ASSERT_TRUE(settings.LoadSettings());
    TProfile p;
    ASSERT_TRUE(p.Load(SubPath));
    List.Load(p);
    Store.GetGroup(0)->Pointer = 15;

    switch (GetParam()) {
        case BREAK_PATH:
            ASSERT_EQ(unlink(SubPath.c_str()), 0);
            ASSERT_EQ(rmdir(SubDir.c_str()), 0);
            ASSERT_TRUE(ReplaceFileAtomically(SubDir, "in the way", &error)) << error;
            break;
        case BREAK_DISK_FULL:
            InjectFileFault(TFileFault::DISK_FULL);
            break;
        case BREAK_RENAME:
            InjectFileFault(TFileFault::RENAME_FAILS);
            break;
    }
    EXPECT_FALSE(Commands.SavePointers(settings));
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    EXPECT_FALSE(Status.Lines.empty());

    if (GetParam() == BREAK_PATH) {
        ASSERT_EQ(unlink(SubDir.c_str()), 0);
        ASSERT_EQ(mkdir(SubDir.c_str(), 0700), 0);
    }
    ASSERT_TRUE(Commands.SavePointers(settings));
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 15);
    ASSERT_TRUE(p.Load(SubPath));
    EXPECT_EQ(p.Get(GROUPLIST_SECTION, "0").value_or(""), "a.b 1 15");
}

INSTANTIATE_TEST_SUITE_P(Breaks, GroupCommandsFailedSave,
                         ::testing::Values(BREAK_PATH, BREAK_DISK_FULL, BREAK_RENAME));

TEST_F(GroupCommandsTest, AStoreThatWasNotLoadedSavesNothingAndSaysSo) {
    WriteIni("[grouplist]\n0=a.b 1 10\n");
    List.Load(Saved());
    Store.GetGroup(0)->Pointer = 15;
    TSettingsStore unloaded(Path, Peers, &Status);
    EXPECT_FALSE(Commands.SavePointers(unloaded));
    EXPECT_FALSE(Commands.SaveGroupList(unloaded));
    EXPECT_EQ(Store.GetGroup(0)->SavedPointer, 10);
    EXPECT_EQ(Key(0), "a.b 1 10");
}

TEST_F(GroupCommandsTest, SixtyFourBitPointersSurviveASaveAndALoad) {
    Store.AddGroup("a.b")->Pointer = 123456789012345;
    ASSERT_TRUE(Commands.SaveGroupList(Settings));
    TNewsStore other;
    TGroupList reloaded(other);
    reloaded.Load(Saved());
    ASSERT_EQ(other.GroupCount(), 1);
    EXPECT_EQ(other.GetGroup(0)->Pointer, 123456789012345);
}

// ---- the group commands ----

TEST_F(GroupCommandsTest, AddGroupsTakesCleanNewNamesAndSaves) {
    LoadList("0=a.b 1 10\n");
    std::string longest(GROUP_NAME_ADD_MAX, 'x');
    std::string tooLong(GROUP_NAME_ADD_MAX + 1, 'y');
    Names refused;
    int added = Commands.AddGroups({" c.d\t", "A.B", "", "   ", "e f", "g\th",
                                    std::string("i\x01j"), "k\x7f", tooLong, longest, "c.d", "m.n"},
                                   Settings, &refused);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(TableNames(), (Names{"a.b", "c.d", longest, "m.n"}));
    EXPECT_EQ(refused, (Names{"", "   ", "e f", "g\th", std::string("i\x01j"), "k\x7f", tooLong}));
    EXPECT_EQ(Key(1), "c.d 1 0");
    EXPECT_EQ(Key(2), longest + " 1 0");
    EXPECT_EQ(Key(3), "m.n 1 0");
}

TEST_F(GroupCommandsTest, AddGroupsWithNothingNewDoesNotSave) {
    LoadList("0=a.b 1 10\n");
    int writes = Peers.GroupListWrites;
    EXPECT_EQ(Commands.AddGroups({"a.b", "A.B", "bad name"}, Settings), 0);
    EXPECT_EQ(Peers.GroupListWrites, writes);
}

TEST_F(GroupCommandsTest, AddGroupsStopsAtAFullTable) {
    for (int i = 0; i < MAXNEWSGROUPS; ++i) Store.AddGroup(("g." + std::to_string(i)).c_str());
    Names refused;
    EXPECT_EQ(Commands.AddGroups({"one.more"}, Settings, &refused), 0);
    EXPECT_EQ(refused, Names{"one.more"});
    EXPECT_EQ(Store.GroupCount(), MAXNEWSGROUPS);
}

struct DeleteCase {
    const char* Label;
    std::vector<int> Selection;
    int Downloading;  // index, -1 when not connected
    std::deque<TBoxAnswer> Answers;
    std::vector<TAsked> Asked;
    Names Left;
};

const char* const kBusy =
    "You cannot delete the group that is currently downloading (disconnect or use <Jump-To> to "
    "change)";

class GroupCommandsDelete : public GroupCommandsTest,
                            public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(GroupCommandsDelete, AsksThenDeletes) {
    LoadList("0=a.b 1 1\n1=c.d 1 2\n2=e.f 1 3\n");
    const DeleteCase& c = GetParam();
    TScriptedView view(c.Answers);
    const TNewsGroup* downloading = c.Downloading >= 0 ? Store.GetGroup(c.Downloading) : nullptr;
    int writes = Peers.GroupListWrites;
    bool deleted = Commands.DeleteGroups(c.Selection, downloading, view, Settings);
    EXPECT_EQ(view.Asked, c.Asked);
    EXPECT_EQ(TableNames(), c.Left);
    bool changed = c.Left.size() != 3;
    EXPECT_EQ(deleted, changed);
    EXPECT_EQ(Peers.GroupListWrites, writes + (changed ? 1 : 0));
    if (changed) {
        EXPECT_EQ(Key(static_cast<int>(c.Left.size())), "<none>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupCommandsDelete,
    ::testing::Values(DeleteCase{"One",
                                 {1},
                                 -1,
                                 {ANSWER_YES},
                                 {{"Delete NewsGroup c.d ?", "Confirm", BOX_YES_NO}},
                                 {"a.b", "e.f"}},
                      DeleteCase{"Several",
                                 {0, 2},
                                 -1,
                                 {ANSWER_YES},
                                 {{"Delete 2 groups ?", "Confirm", BOX_YES_NO}},
                                 {"c.d"}},
                      DeleteCase{"RepeatsAndStrangersIgnored",
                                 {2, 0, 2, 9, -1},
                                 1,
                                 {ANSWER_YES},
                                 {{"Delete 2 groups ?", "Confirm", BOX_YES_NO}},
                                 {"c.d"}},
                      DeleteCase{"AnsweredNo",
                                 {1},
                                 -1,
                                 {ANSWER_NO},
                                 {{"Delete NewsGroup c.d ?", "Confirm", BOX_YES_NO}},
                                 {"a.b", "c.d", "e.f"}},
                      DeleteCase{"HeadlessAnswersNo",
                                 {0, 1, 2},
                                 -1,
                                 {},
                                 {{"Delete 3 groups ?", "Confirm", BOX_YES_NO}},
                                 {"a.b", "c.d", "e.f"}},
                      DeleteCase{"TheDownloadingGroup",
                                 {0, 1},
                                 1,
                                 {ANSWER_YES},
                                 {{kBusy, "Error", BOX_OK}},
                                 {"a.b", "c.d", "e.f"}},
                      DeleteCase{
                          "NothingSelected", {}, -1, {ANSWER_YES}, {}, {"a.b", "c.d", "e.f"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(GroupCommandsTest, ToggleEnabledFlipsEachSelectedGroupOnce) {
    LoadList("0=a.b 1 1\n1=c.d 0 2\n2=e.f 1 3\n");
    Commands.ToggleEnabled({0, 1, 1, 7}, Settings);
    EXPECT_EQ(Store.IsEnabled(0), 0);
    EXPECT_EQ(Store.IsEnabled(1), 1);
    EXPECT_EQ(Store.IsEnabled(2), 1);
    EXPECT_EQ(Key(0), "a.b 0 1");
    EXPECT_EQ(Key(1), "c.d 1 2");
    EXPECT_EQ(TGroupList::DisplayText(*Store.GetGroup(0)), "[Disabled] a.b");
    EXPECT_EQ(TGroupList::DisplayText(*Store.GetGroup(1)), "[Enabled] c.d");
}

struct MoveCase {
    const char* Label;
    bool Up;
    int Index;
    bool Moved;
    std::vector<TAsked> Asked;
    Names Order;
};

class GroupCommandsMove : public GroupCommandsTest,
                          public ::testing::WithParamInterface<MoveCase> {};

TEST_P(GroupCommandsMove, PromoteAndDemote) {
    LoadList("0=a.b 1 1\n1=c.d 1 2\n2=e.f 1 3\n");
    const MoveCase& c = GetParam();
    TScriptedView view;
    bool moved =
        c.Up ? Commands.Promote(c.Index, view, Settings) : Commands.Demote(c.Index, view, Settings);
    EXPECT_EQ(moved, c.Moved);
    EXPECT_EQ(view.Asked, c.Asked);
    EXPECT_EQ(TableNames(), c.Order);
    for (int i = 0; i < Store.GroupCount(); ++i) {
        EXPECT_EQ(Store.GetGroup(i)->Ordinal, i + 1);
        EXPECT_EQ(Key(i).substr(0, 3), c.Order[static_cast<size_t>(i)]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupCommandsMove,
    ::testing::Values(MoveCase{"PromoteMiddle", true, 1, true, {}, {"c.d", "a.b", "e.f"}},
                      MoveCase{"PromoteFirst",
                               true,
                               0,
                               false,
                               {{"You cannot promote the first group", "Error", BOX_OK}},
                               {"a.b", "c.d", "e.f"}},
                      MoveCase{"DemoteMiddle", false, 1, true, {}, {"a.b", "e.f", "c.d"}},
                      MoveCase{"DemoteLast",
                               false,
                               2,
                               false,
                               {{"You cannot demote the last group", "Error", BOX_OK}},
                               {"a.b", "c.d", "e.f"}},
                      MoveCase{"NoSelection", false, -1, false, {}, {"a.b", "c.d", "e.f"}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(GroupCommandsTest, SortAsksFirst) {
    LoadList("0=b 1 1\n1=a 0 2\n2=c 1 3\n");
    TScriptedView no({ANSWER_NO});
    EXPECT_FALSE(Commands.Sort(no, Settings));
    EXPECT_EQ(TableNames(), (Names{"b", "a", "c"}));

    TScriptedView yes({ANSWER_YES});
    EXPECT_TRUE(Commands.Sort(yes, Settings));
    EXPECT_EQ(yes.Asked,
              (std::vector<TAsked>{{"Sort the newsgroup listing?", "Confirm", BOX_YES_NO}}));
    EXPECT_EQ(TableNames(), (Names{"a", "b", "c"}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Store.GetGroup(i)->Ordinal, i + 1);
    EXPECT_EQ(Key(0), "a 0 2");
    EXPECT_EQ(Key(1), "b 1 1");
    EXPECT_EQ(Key(2), "c 1 3");
}

TEST_F(GroupCommandsTest, PointerDialogShowsUnknownUntilScanned) {
    TNewsGroup* g = Store.AddGroup("a.b");
    g->Pointer = 7;
    g->First = 3;
    g->Last = 5000000000;
    TScriptedView view;
    TArticleNo field = 7;

    TPointerInfo info = TGroupList::PointerInfo(*g);
    EXPECT_EQ(info.Pointer, "7");
    EXPECT_EQ(info.First, "Unknown");
    EXPECT_EQ(info.Last, "Unknown");
    EXPECT_FALSE(TGroupCommands::CopyLast(*g, view, &field));
    EXPECT_EQ(field, 7);
    EXPECT_EQ(view.Asked, (std::vector<TAsked>{{"This group has not been scanned yet, so the "
                                                "highest message isn't known.",
                                                "Sorry!", BOX_OK}}));

    g->Done = 1;
    info = TGroupList::PointerInfo(*g);
    EXPECT_EQ(info.First, "3");
    EXPECT_EQ(info.Last, "5000000000");
    EXPECT_TRUE(TGroupCommands::CopyLast(*g, view, &field));
    EXPECT_EQ(field, 5000000000);
}

// ---- similar groups ----

struct SimilarCase {
    const char* Label;
    std::string Line;
    std::deque<TBoxAnswer> Answers;
    bool Added;
    std::vector<TAsked> Asked;
};

class GroupCommandsSimilar : public GroupCommandsTest,
                             public ::testing::WithParamInterface<SimilarCase> {};

TEST_P(GroupCommandsSimilar, AddButton) {
    LoadList("0=alt.listed 1 4\n");
    const SimilarCase& c = GetParam();
    TScriptedView view(c.Answers);
    EXPECT_EQ(Commands.AddSimilarGroup(c.Line, view, Settings), c.Added);
    EXPECT_EQ(view.Asked, c.Asked);
    EXPECT_EQ(Store.GroupCount(), c.Added ? 2 : 1);
    if (c.Added) {
        EXPECT_EQ(Key(1), "comp.x 1 0");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupCommandsSimilar,
    ::testing::Values(
        SimilarCase{"Yes",
                    "comp.x: 3",
                    {ANSWER_YES},
                    true,
                    {{"Add comp.x to group list ?", "Confirm", BOX_YES_NO}}},
        SimilarCase{"No",
                    "comp.x: 3",
                    {ANSWER_NO},
                    false,
                    {{"Add comp.x to group list ?", "Confirm", BOX_YES_NO}}},
        SimilarCase{"AlreadyListed",
                    "*alt.listed: 2",
                    {ANSWER_YES},
                    false,
                    {{"Add alt.listed to group list ?", "Confirm", BOX_YES_NO},
                     {"alt.listed is already listed in the group list!", "Error!", BOX_OK}}},
        SimilarCase{"NoLine",
                    "",
                    {ANSWER_YES},
                    false,
                    {{"Please highlight a line in the listbox first", "error", BOX_OK}}},
        SimilarCase{"NoName",
                    "*: 4",
                    {ANSWER_YES},
                    false,
                    {{"Please highlight a line in the listbox first", "error", BOX_OK}}},
        SimilarCase{"UnusableName",
                    std::string("a\x01z: 1"),
                    {ANSWER_YES},
                    false,
                    {{std::string("Add a\x01z to group list ?"), "Confirm", BOX_YES_NO},
                     {std::string("a\x01z is not a usable group name"), "Error!", BOX_OK}}}),
    [](const auto& info) { return std::string(info.param.Label); });

// ---- the browse dialog ----

TEST(BrowseDialog, FreshListButtonAsksThenForgetsTheDate) {
    test::TTempDir dir;
    TNewsrcList newsrc(dir.Path());
    newsrc.SetClock([] { return time_t{86400}; });
    newsrc.BeginRequest();
    newsrc.AddNewsrcLine("a.b");
    newsrc.EndListing(true);
    ASSERT_EQ(access(newsrc.Path().c_str(), F_OK), 0);

    TScriptedView cancel;
    EXPECT_FALSE(TGroupCommands::RequestFreshNewsrc(newsrc, cancel));
    EXPECT_EQ(newsrc.Date(), "700102");
    EXPECT_EQ(access(newsrc.Path().c_str(), F_OK), 0);

    TScriptedView ok({ANSWER_OK, ANSWER_OK});
    EXPECT_TRUE(TGroupCommands::RequestFreshNewsrc(newsrc, ok));
    EXPECT_EQ(ok.Asked, (std::vector<TAsked>{
                            {"This will cause a new Newsgroup List to be downloaded from your "
                             "server",
                             "Confirm", BOX_OK_CANCEL},
                            {"The new Newsgroup List will be downloaded next time you <connect> "
                             "to your server",
                             "Done!", BOX_OK}}));
    EXPECT_EQ(newsrc.Date(), "");
    EXPECT_FALSE(newsrc.LoadedThisRun());
    EXPECT_NE(access(newsrc.Path().c_str(), F_OK), 0);
}

}  // namespace
}  // namespace zorvex
