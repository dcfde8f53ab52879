#include "app/statuslog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "app/messages.h"
#include "app/settings.h"
#include "app/statusqueue.h"
#include "library/eventloop.h"
#include "library/fileio.h"
#include "nntp/newsstore.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

// A list view that keeps its lines and selection the way a window would.
struct TRecordingView : TNewsView {
    void StatusLineAdded(std::string_view line, bool dropped) override {
        StatusSelection =
            FollowSelection(StatusSelection, static_cast<int>(Status.size()), dropped);
        Status.emplace_back(line);
        if (dropped) Status.erase(Status.begin());
    }
    void LogLineAdded(std::string_view line, const THeader* h, bool dropped) override {
        Log.emplace_back(line);
        Headers.push_back(h);
        if (dropped) {
            Log.erase(Log.begin());
            Headers.erase(Headers.begin());
        }
    }
    void ShowHint(std::string_view text) override { Hints.emplace_back(text); }
    TBoxAnswer MessageBox(std::string_view text, std::string_view caption,
                          TBoxStyle style) override {
        Boxes.push_back(std::string(caption) + "|" + std::string(text));
        return SafeAnswer(style);
    }
    std::vector<std::string> Status, Log, Hints, Boxes;
    std::vector<const THeader*> Headers;
    int StatusSelection = -1;
};

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

time_t LocalTime(int year, int month, int day) {
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return mktime(&t);
}

class StatusLog : public ::testing::Test {
  protected:
    StatusLog() { settings.LogEnabled = 1; }
    test::TTempDir dir;
    TSettings settings;
    TRecordingView view;
    TDiagnosticLog diag{dir.File(DIAGNOSTIC_LOG_NAME)};
    TStatusLog log{
        view, settings, dir.Path(), diag, TNoCoordinator::Instance(), LocalTime(2026, 12, 7)};
};

TEST_F(StatusLog, ListsKeepTheNewest250Lines) {
    for (int i = 1; i <= 251; ++i) log.PrintStatus("line " + std::to_string(i));
    ASSERT_EQ(log.StatusLines().size(), LIST_LINES_MAX);
    EXPECT_EQ(log.StatusLines().front().Text, "line 2");
    EXPECT_EQ(log.StatusLines().back().Text, "line 251");
    EXPECT_EQ(view.Status.size(), LIST_LINES_MAX);
    EXPECT_EQ(view.Status.front(), "line 2");

    THeader header{};
    const THeader* marker = &header;
    for (int i = 1; i <= 251; ++i)
        EXPECT_EQ(
            log.WriteLogLine("[RECEIVED] " + std::to_string(i), true, i == 251 ? marker : nullptr),
            i <= 250 ? i - 1 : 249);
    EXPECT_EQ(log.LogLines().front().Text, "[RECEIVED] 2");
    EXPECT_EQ(log.LogLines().back().Header, marker);
    EXPECT_EQ(view.Headers.back(), marker);
}

TEST(FollowSelection, FollowsUnlessAnOlderLineIsSelected) {
    struct {
        int Selected, CountBefore;
        bool Dropped;
        int Expected;
    } cases[] = {
        {-1, 0, false, 0},      // first line
        {-1, 5, false, 5},      // nothing selected: follow
        {4, 5, false, 5},       // on the last line: follow
        {2, 5, false, 2},       // an older line stays selected
        {249, 250, true, 249},  // full list, on the last line: follow
        {100, 250, true, 99},   // full list: the selection moves with its line
        {0, 250, true, 249},    // the selected line went: follow
    };
    for (const auto& c : cases)
        EXPECT_EQ(FollowSelection(c.Selected, c.CountBefore, c.Dropped), c.Expected)
            << c.Selected << " " << c.CountBefore << " " << c.Dropped;
}

TEST_F(StatusLog, LongTextsAreCutInTheListsAndTheDiagnosticLog) {
    diag.SetEnabled(true);
    std::string text(300, 'a');
    text[126] = 'Z';
    log.PrintStatus(text);
    log.WriteLogLine(std::string(300, 'b'), true, nullptr);
    ASSERT_EQ(view.Status.size(), 1u);
    EXPECT_EQ(view.Status[0], text.substr(0, 127));
    EXPECT_EQ(view.Log[0], std::string(126, 'b'));
    auto entries = Lines(diag.FilePath());
    ASSERT_EQ(entries.size(), 2u);
    const std::string stamp = "99/99/9999 99:99:99.9999 ";  // 9: any digit
    ASSERT_GT(entries[0].size(), stamp.size());
    for (size_t i = 0; i < stamp.size(); ++i)
        EXPECT_TRUE(stamp[i] == '9' ? isdigit(static_cast<unsigned char>(entries[0][i]))
                                    : entries[0][i] == stamp[i])
            << entries[0];
    EXPECT_EQ(entries[0].substr(stamp.size()), "MSG: " + text.substr(0, 127));
    // The daily log and the diagnostic log keep the whole log line.
    EXPECT_NE(entries[1].find(" LOG: " + std::string(300, 'b')), std::string::npos);
    EXPECT_EQ(Lines(log.DailyLogPath()), std::vector<std::string>{std::string(300, 'b')});
    // A cut never halves a character.
    std::string utf8 = std::string(126, 'x') + "\xC3\xA9";
    log.PrintStatus(utf8);
    EXPECT_EQ(view.Status.back(), std::string(126, 'x'));
}

TEST_F(StatusLog, DailyLogFileAndDetailLines) {
    EXPECT_EQ(log.DailyLogName(), "news1207.log");
    log.WriteLogLine("a.jpg [RECEIVED]", true, nullptr);
    log.WriteLogLine("  Subject: pictures", false, nullptr);
    log.WriteLogLineFormatted("[TOOSMALL] %d lines", 3);
    EXPECT_EQ(Lines(log.DailyLogPath()),
              (std::vector<std::string>{"a.jpg [RECEIVED]", "  Subject: pictures",
                                        "[TOOSMALL] 3 lines"}));
    EXPECT_EQ(view.Log, (std::vector<std::string>{"a.jpg [RECEIVED]", "[TOOSMALL] 3 lines"}));
    EXPECT_EQ(log.WriteLogLine("detail", false, nullptr), -1);
    EXPECT_FALSE(access(diag.FilePath().c_str(), F_OK) == 0) << "diagnostics are off";
}

TEST_F(StatusLog, DisabledLogFillsTheListButWritesNoFile) {
    settings.LogEnabled = 0;
    log.WriteLogLine("[NO MASK] x", true, nullptr);
    EXPECT_EQ(view.Log.size(), 1u);
    EXPECT_NE(access(log.DailyLogPath().c_str(), F_OK), 0);
}

TEST_F(StatusLog, CoordinatorTakesTheLogLines) {
    struct TActiveCoordinator : TLogCoordinator {
        bool Active() const override { return true; }
        void SendLogLine(std::string_view line) override { Sent.emplace_back(line); }
        std::vector<std::string> Sent;
    } coordinator;
    TStatusLog forwarded(view, settings, dir.Path(), diag, coordinator, LocalTime(2026, 12, 7));
    forwarded.WriteLogLine(std::string(200, 'c'), true, nullptr);
    EXPECT_EQ(coordinator.Sent, std::vector<std::string>{std::string(200, 'c')});
    EXPECT_NE(access(forwarded.DailyLogPath().c_str(), F_OK), 0);
    // Old logs are not trimmed while the coordinator keeps the log.
    std::ofstream(dir.File("news1206.log")) << "old\n";
    settings.LogTrimOldLogs = 1;
    forwarded.TrimOldLogs();
    EXPECT_EQ(access(dir.File("news1206.log").c_str(), F_OK), 0);
}

TEST_F(StatusLog, AnUnopenableDailyLogIsRetriedAtTheNextLine) {
    ASSERT_EQ(mkdir(log.DailyLogPath().c_str(), 0700), 0);
    log.WriteLogLine("lost", true, nullptr);
    EXPECT_EQ(view.Log.size(), 1u);
    ASSERT_EQ(rmdir(log.DailyLogPath().c_str()), 0);
    log.WriteLogLine("kept", true, nullptr);
    EXPECT_EQ(Lines(log.DailyLogPath()), std::vector<std::string>{"kept"});
}

TEST_F(StatusLog, TrimmingKeepsOnlyTodaysLogWhateverItsCase) {
    for (const char* name : {"news1206.log", "NEWS1207.LOG", "News0101.Log", "news.log",
                             "newsletter.txt", "mynews1206.log"})
        std::ofstream(dir.File(name)) << "x\n";
    ASSERT_EQ(mkdir(dir.File("news_dir.log").c_str(), 0700), 0);
    settings.LogTrimOldLogs = 0;
    log.TrimOldLogs();
    EXPECT_EQ(access(dir.File("news1206.log").c_str(), F_OK), 0) << "trimming is off";
    settings.LogTrimOldLogs = 1;
    log.TrimOldLogs();
    struct {
        const char* Name;
        bool Kept;
    } expected[] = {{"news1206.log", false}, {"NEWS1207.LOG", true},   {"News0101.Log", false},
                    {"news.log", false},     {"newsletter.txt", true}, {"mynews1206.log", true},
                    {"news_dir.log", true}};
    for (const auto& e : expected)
        EXPECT_EQ(access(dir.File(e.Name).c_str(), F_OK) == 0, e.Kept) << e.Name;
}

TEST_F(StatusLog, HintsAndMessageBoxesByNumber) {
    log.ShowHint(102);
    log.ShowHint(102);
    log.ShowHint(-1);
    log.ShowHint(9999);
    EXPECT_EQ(view.Hints,
              (std::vector<std::string>{"Open a connection and begin downloading", "", ""}));
    EXPECT_EQ(log.ShowMessageById(5, 1, BOX_OK), ANSWER_OK);
    EXPECT_EQ(view.Boxes.back(), "Error!|Please select a newsgroup in the group list first!");
}

TEST(LogLineExplanation, ChosenByTheLeadingTag) {
    struct {
        const char* Line;
        const char* Caption;
        const char* Starts;
    } cases[] = {
        {"[NO MASK] a.exe", "[NO MASK]", "This entry was skipped because it did not match"},
        {"[lockout from] joe", "[lockout from]", "This entry was skipped because it matched a"},
        {"[No KeyWords] x", "[No KeyWords]", "This is a [No Keywords] item."},
        {"[NO DATA]", "[NO DATA]", "This entry was aborted"},
        {"a.jpg [RECEIVED]", "Error!", "That file was not properly received!"},
        {"", "Error!", "That file was not properly received!"},
    };
    for (const auto& c : cases) {
        TLogExplanation e = TStatusLog::ExplainLogLine(c.Line);
        EXPECT_EQ(e.Caption, c.Caption) << c.Line;
        EXPECT_EQ(e.Text.rfind(c.Starts, 0), 0u) << c.Line << ": " << e.Text;
    }
}

// Drains the posted queue on the loop thread as the main object will.
struct TQueueOwner : TMessageTarget {
    explicit TQueueOwner(TStatusLog& log) : Log(log) {}
    void OnMessage(const TMessage& msg) override {
        if (msg.Msg != MSG_STATUS_QUEUE) return;
        ++Announcements;
        for (const std::string& text : TStatusQueue::Global().TakeAll()) Log.PrintStatus(text);
    }
    TStatusLog& Log;
    int Announcements = 0;
};

TEST_F(StatusLog, PostedTextsComeOutNewestFirst) {
    std::vector<std::string> early;
    TStatusQueue::Global().SetEarlyHandler([&](const std::string& t) { early.push_back(t); });
    std::thread([] { PostStatusMessage("before the main object"); }).join();
    EXPECT_EQ(early, std::vector<std::string>{"before the main object"});

    TPlainEventLoop loop;
    TQueueOwner owner(log);
    TStatusQueue::Global().Attach(loop, owner);
    std::thread worker([] {
        PostStatusMessage("first");
        PostStatusMessage("second");
        PostStatusMessage(std::string(300, 'x'));
    });
    worker.join();
    loop.RunPending();
    TStatusQueue::Global().Detach();
    loop.Detach(&owner);
    TStatusQueue::Global().SetEarlyHandler(nullptr);
    // The first announcement drains all three; the others find nothing.
    EXPECT_EQ(owner.Announcements, 3);
    EXPECT_EQ(view.Status, (std::vector<std::string>{std::string(127, 'x'), "second", "first"}));
}

TEST(StatusQueue, ManyThreadsLoseNothing) {
    TStatusQueue queue;
    TPlainEventLoop loop;
    struct : TMessageTarget {
        void OnMessage(const TMessage&) override {}
    } target;
    queue.Attach(loop, target);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&queue, t] {
            for (int i = 0; i < 500; ++i) queue.Post(std::to_string(t) + ":" + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    auto all = queue.TakeAll();
    EXPECT_EQ(all.size(), 2000u);
    EXPECT_EQ(loop.RunPending(), 2000);
    queue.Detach();
    EXPECT_TRUE(queue.TakeAll().empty());
}

}  // namespace
}  // namespace zorvex
