// The driver as the program runs it: its options as the settings give
// them, and its report in the status list, the log list, the daily log file
// (or the coordinator) and the window.
#include "app/driverreport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/newsapp.h"
#include "app/settings.h"
#include "app/statuslog.h"
#include "library/eventloop.h"
#include "library/fileio.h"
#include "support/encoders.h"
#include "support/recording_view.h"
#include "support/scripted_server.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using Lines = std::vector<std::string>;

Lines FileLines(const std::string& path) {
    Lines out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class DriverOptionsFromTest : public ::testing::Test {
  protected:
    void SetUp() override { Store.LoadSettings(); }
    test::TTempDir Home;
    TSettingsStore Store{Home.File("vantrel.ini"), TNoOtherSettingsKept::Instance()};
};

// A swapped or forgotten flag shows as an option on or off where it should
// not be.
TEST_F(DriverOptionsFromTest, EachFlagTurnsOnItsOwnOptionOnly) {
    struct TFlag {
        const char* Name;
        int32_t TSettings::*Setting;
        bool TDriverOptions::*Option;
    } const flags[] = {
        {"ViewerEnable", &TSettings::ViewerEnable, &TDriverOptions::ViewerEnable},
        {"EnableHttpGrabber", &TSettings::EnableHttpGrabber, &TDriverOptions::EnableHttpGrabber},
        {"RenameDupes", &TSettings::RenameDupes, &TDriverOptions::RenameDupes},
        {"DeleteIncomplete", &TSettings::DeleteIncomplete, &TDriverOptions::DeleteIncomplete},
        {"EncryptionEnable", &TSettings::EncryptionEnable, &TDriverOptions::EncryptionEnable},
        {"LogMime", &TSettings::LogMime, &TDriverOptions::LogMime},
        {"LogSubject", &TSettings::LogSubject, &TDriverOptions::LogSubject},
        {"LogName", &TSettings::LogName, &TDriverOptions::LogName},
    };
    TSettings& s = Store.Settings();
    for (const TFlag& on : flags) {
        SCOPED_TRACE(on.Name);
        for (const TFlag& f : flags) s.*f.Setting = 0;
        s.*on.Setting = 2;  // any value but 0 is on
        const TDriverOptions o = DriverOptionsFrom(Store);
        for (const TFlag& f : flags) EXPECT_EQ(o.*f.Option, &f == &on) << f.Name;
    }
}

TEST_F(DriverOptionsFromTest, ValuesAreTakenAsTheSettingsHoldThem) {
    TSettings& s = Store.Settings();
    s.DownloadPath = "/srv/news";
    s.PathExpand = 3;
    s.CaseConvert = 2;
    s.NoDataThresh = 777;
    s.EncryptionKey = "secret";
    Store.PathPrefixes = {"alt", "alt.binaries"};
    const TDriverOptions o = DriverOptionsFrom(Store);
    EXPECT_EQ(o.DownloadPath, "/srv/news");
    EXPECT_EQ(o.PathExpand, 3);
    EXPECT_EQ(o.CaseConvert, 2);
    EXPECT_EQ(o.NoDataThresh, 777);
    EXPECT_EQ(o.EncryptionKey, "secret");
    EXPECT_EQ(o.PathPrefixes, (Lines{"alt", "alt.binaries"}));
}

// A view that also keeps the article and indicator calls.
struct TWindow : test::TRecordingView {
    Lines Calls;
    void ShowIndicator(std::string_view text) override {
        Calls.push_back("indicator " + std::string(text));
    }
    void ArticleStarted(long long number, int lines) override {
        Calls.push_back("start " + std::to_string(number) + " " + std::to_string(lines));
    }
    void ArticleEnded() override { Calls.push_back("end"); }
};

struct TActiveCoordinator : TLogCoordinator {
    bool Active() const override { return true; }
    void SendLogLine(std::string_view line) override { Sent.emplace_back(line); }
    Lines Sent;
};

class DriverLogReportTest : public ::testing::Test {
  protected:
    // A report on a status log; the daily log is kept unless told not to.
    void Build(bool logEnabled, TLogCoordinator& coordinator = TNoCoordinator::Instance()) {
        Report.reset();
        Log.reset();
        Settings.LogEnabled = logEnabled ? 1 : 0;
        Log = std::make_unique<TStatusLog>(View, Settings, Home.Path(), Diagnostics, coordinator);
        Report = std::make_unique<TDriverLogReport>(*Log, View);
    }
    TCurrentFile Finished(const THeader* header) {
        TCurrentFile file;
        file.FileName = "f.bin";
        file.Header = header;
        return file;
    }

    test::TTempDir Home;
    TSettings Settings{};
    TWindow View;
    TDiagnosticLog Diagnostics{Home.File(DIAGNOSTIC_LOG_NAME)};
    std::unique_ptr<TStatusLog> Log;
    std::unique_ptr<TDriverLogReport> Report;
};

TEST_F(DriverLogReportTest, LinesGoToTheirListsAndCallsToTheWindow) {
    Build(true);
    THeader header{};
    Report->StatusLine("Decoding file f.bin");
    Report->MimeLine("[MIME] 7 type=text/plain encode=unknown fname=");
    Report->FileFinished(Finished(&header), "[RECEIVED] f.bin", {});
    Report->ArticleStarted(7, 120);
    Report->ShowIndicator(DECODING_INDICATOR);
    Report->ShowIndicator("");
    Report->ArticleEnded();

    EXPECT_EQ(View.Status, Lines{"Decoding file f.bin"});
    EXPECT_EQ(View.Logged,
              (Lines{"[MIME] 7 type=text/plain encode=unknown fname=", "[RECEIVED] f.bin"}));
    ASSERT_EQ(Log->LogLines().size(), 2u);
    EXPECT_EQ(Log->LogLines()[0].Header, nullptr);
    EXPECT_EQ(Log->LogLines()[1].Header, &header);  // the file's line opens its article
    EXPECT_EQ(View.Calls, (Lines{"start 7 120", "indicator DECD", "indicator ", "end"}));
    Log->CloseDailyLog();
    EXPECT_EQ(FileLines(Log->DailyLogPath()),
              (Lines{"[MIME] 7 type=text/plain encode=unknown fname=", "[RECEIVED] f.bin"}));
}

// The subject and poster lines stand under the file's line in the daily
// log file, never in the list, and go nowhere when no daily file is kept.
TEST_F(DriverLogReportTest, DetailLinesReachOnlyAKeptDailyLog) {
    const std::string details[] = {"  Subject: my file (1/1)", "  From: Ann <ann@x>"};
    TActiveCoordinator coordinator;
    struct Case {
        const char* What;
        bool LogEnabled;
        TLogCoordinator* Coordinator;
        Lines File, Sent;
    } const cases[] = {
        {"daily log kept",
         true,
         &TNoCoordinator::Instance(),
         {"[RECEIVED] f.bin", "  Subject: my file (1/1)", "  From: Ann <ann@x>"},
         {}},
        {"logging off", false, &TNoCoordinator::Instance(), {}, {}},
        {"coordinator keeps the log", true, &coordinator, {}, {"[RECEIVED] f.bin"}},
    };
    THeader header{};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        View.Logged.clear();
        coordinator.Sent.clear();
        Build(c.LogEnabled, *c.Coordinator);
        std::remove(Log->DailyLogPath().c_str());
        Report->FileFinished(Finished(&header), "[RECEIVED] f.bin", details);
        EXPECT_EQ(View.Logged, Lines{"[RECEIVED] f.bin"});
        Log->CloseDailyLog();
        EXPECT_EQ(FileLines(Log->DailyLogPath()), c.File);
        EXPECT_EQ(coordinator.Sent, c.Sent);
    }
}

// The driver formats without a bound; the log keeps the bound of every
// formatted log line, in bytes.
TEST_F(DriverLogReportTest, LongLinesAreCutAsFormattedLogLinesAre) {
    Build(true);
    const std::string longLine(3 * LOG_BUFFER_SIZE, 'x');
    const std::string details[] = {"  Subject: " + longLine};
    THeader header{};
    Report->FileFinished(Finished(&header), "[RECEIVED] " + longLine, details);
    Report->MimeLine("[MIME] " + longLine);
    Log->CloseDailyLog();
    const Lines file = FileLines(Log->DailyLogPath());
    ASSERT_EQ(file.size(), 3u);
    EXPECT_EQ(file[0], ("[RECEIVED] " + longLine).substr(0, LOG_BUFFER_SIZE - 1));
    EXPECT_EQ(file[1], ("  Subject: " + longLine).substr(0, LOG_BUFFER_SIZE - 1));
    EXPECT_EQ(file[2], ("[MIME] " + longLine).substr(0, LOG_BUFFER_SIZE - 1));
}

// Settings changed while a run goes on count from the next article: the
// run's main object hands them to the driver as each article starts.
TEST(DriverInARun, SettingsChangedMidRunCountFromTheNextArticle) {
    test::TTempDir home;
    test::TScriptedServer server;
    const std::string data[] = {test::Noise(3000, 51), test::Noise(2000, 52)};
    std::vector<test::TStep> steps = {{"200 reader mode\n"},
                                      {"211 2 1 2 a.b\n"},
                                      {"224 overview follows\n1\tfile1\tp\td\t<1@test>\t\t100\t10\n"
                                       "2\tfile2\tp\td\t<2@test>\t\t100\t10\n.\n"}};
    for (int i = 1; i <= 2; ++i) {
        const std::string& d = data[i - 1];
        std::string article = "220 " + std::to_string(i) + " <" + std::to_string(i) +
                              "@test> article\nSubject: file" + std::to_string(i) +
                              "\nFrom: p\n\n=ybegin line=128 size=" + std::to_string(d.size()) +
                              " name=file" + std::to_string(i) + ".bin\n";
        for (const std::string& l : test::YencDataLines(d)) article += l + "\n";
        steps.push_back({article + "=yend size=" + std::to_string(d.size()) + "\n.\n"});
    }
    test::TScriptedServer::TSession session{{"200 scripted server ready\n"}, std::move(steps)};
    server.ServeSessions({std::move(session)});
    std::ofstream(home.File("vantrel.ini"))
        << "[connection]\nhost=" << server.HostString() << "\n[paths]\ndownload=" << home.File("dl")
        << "\n[misc]\nmaintain_newsrc=0\nxover=1\n[miscpref]\ncaseconvert=0\n"
        << "[log]\ntrim_old_logs=0\n[grouplist]\n0=a.b 1 0\n";

    TPlainEventLoop loop;
    TNewsStore store;
    test::TRecordingView view;
    TStartup startup;
    startup.HomeDir = home.Path();
    startup.SettingsPath = home.File("vantrel.ini");
    startup.Switches.Autostart = 1;
    startup.Switches.Autoexit = 1;
    TNewsApp app(startup, view, loop, store);
    // The first file has begun when the download path changes.
    view.OnStatus = [&](const std::string& line) {
        if (line.find("Decoding file") != std::string::npos &&
            line.find("file1.bin") != std::string::npos)
            app.News().SettingsStore().Settings().DownloadPath = home.File("later");
    };
    ASSERT_EQ(app.Start().ExitCode, 0);
    ASSERT_TRUE(loop.RunUntil([&] { return app.Exited(); }, std::chrono::seconds(8)));
    std::string first, second;
    EXPECT_TRUE(ReadWholeFile(home.File("dl/file1.bin"), &first));
    EXPECT_EQ(first, data[0]);
    EXPECT_TRUE(ReadWholeFile(home.File("later/file2.bin"), &second));
    EXPECT_EQ(second, data[1]);
}

}  // namespace
}  // namespace zorvex
