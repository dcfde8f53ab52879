// The whole download path against the private INN of scripts/inn-up.sh:
// scripts/post-samples.py puts its sample set on the server, TNews walks the
// sample groups and decodes, and every file must land in its group's
// directory with the hash the script recorded, the damaged samples with the
// result they were damaged for. Skipped, with the reason, when INN is not
// running.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/news.h"
#include "app/settings.h"
#include "app/statuslog.h"
#include "app/view.h"
#include "library/eventloop.h"
#include "support/inn_env.h"
#include "support/recording_view.h"
#include "support/samples.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const char* const SAMPLE_GROUPS[] = {"alt.binaries.test.zorvex", "alt.binaries.pictures.test",
                                     "misc.test"};

// Runs a command; its output and exit status.
std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

class TDownloader : public TNews {
  public:
    TDownloader(TSettingsStore& settings, TStatusLog& log, TNewsView& view, TNewsStore& store,
                TPlainEventLoop& loop)
        : TNews(settings, log, view, TNoPlugInsNoPreview::Instance(), store), Loop(loop) {}
    ~TDownloader() override { Loop.Detach(this); }

    void OnArticleFollows() override {
        if (CurrentArticle()) ++Articles;
        TNews::OnArticleFollows();
    }
    void ReportError(const char* where, int code, bool fatal) override {
        Errors.push_back(std::string(where) + " " + std::to_string(code) + (fatal ? " fatal" : ""));
    }
    void ConnectionLost(int code) override { Lost.push_back(code); }
    void AllGroupsDone() override {
        TNews::AllGroupsDone();
        Done = true;
    }

    bool Done = false;
    int Articles = 0;
    Lines Errors;
    std::vector<int> Lost;

  private:
    TPlainEventLoop& Loop;
};

class InnDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Env = ReadInnEnv();
        if (Env.count("ZORVEX_INN_PORT") == 0)
            GTEST_SKIP() << "INN is not running (no " << InnEnvPath()
                         << "); start it with scripts/inn-up.sh";
        ASSERT_FALSE(Home.Path().empty());
    }
    void TearDown() override {
        if (!HasFailure()) return;
        std::string dump = "log lines:\n";
        for (const auto& l : View.Logged) dump += "  " + l + "\n";
        dump += "status lines (last 80):\n";
        size_t from = View.Status.size() > 80 ? View.Status.size() - 80 : 0;
        for (size_t i = from; i < View.Status.size(); ++i) dump += "  " + View.Status[i] + "\n";
        std::fputs(dump.c_str(), stderr);
    }

    bool LogStarts(const std::string& prefix) const {
        return std::any_of(View.Logged.begin(), View.Logged.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    std::string Dl() const { return Home.Path() + "/dl/"; }
    std::string GroupDir(const std::string& group) const { return Dl() + group + "/"; }

    std::map<std::string, std::string> Env;
    TTempDir Home;
    TRecordingView View;
};

TEST_F(InnDownloadTest, PostedSamplesAreDecodedIntoTheirGroupDirectories) {
    const int port = std::stoi(Env.at("ZORVEX_INN_PORT"));
    std::map<std::string, long long> last;
    {
        TGroupProbe probe(port);
        ASSERT_TRUE(probe.Ok()) << "INN on 127.0.0.1:" << port << " does not answer, yet "
                                << InnEnvPath() << " says it runs";
        for (const char* g : SAMPLE_GROUPS) {
            last[g] = probe.Last(g);
            ASSERT_GE(last[g], 0) << "GROUP " << g;
        }
    }

    const std::string out = Home.Path() + "/samples";
    const std::string tag = "dl-" + std::to_string(::getpid()) + "-" +
                            std::to_string(std::chrono::system_clock::now().time_since_epoch() /
                                           std::chrono::milliseconds(1));
    std::vector<TSample> samples;
    ASSERT_EQ(PostSampleSet(ZORVEX_SOURCE_DIR, InnEnvPath(), tag, out, &samples), "");

    TSettingsStore settings(Home.Path() + "/vantrel.ini", TNoOtherSettingsKept::Instance());
    settings.LoadSettings();
    TSettings& s = settings.Settings();
    s.DownloadPath = Home.Path() + "/dl";
    s.PathExpand = 3;
    s.RenameDupes = 1;
    s.DeleteIncomplete = 0;  // the cut-short file stays, to be looked at
    TDiagnosticLog diagnostics(Home.Path() + "/diagnost.log");
    TStatusLog log(View, s, Home.Path(), diagnostics);
    TNewsStore store;
    TPlainEventLoop loop;
    TDownloader news(settings, log, View, store, loop);
    for (const char* g : SAMPLE_GROUPS) {
        TNewsGroup* group = store.AddGroup(g);
        ASSERT_NE(group, nullptr);
        store.SetEnabled(store.IndexOf(group), 1);
        group->Pointer = last[g];
    }

    auto start = std::chrono::steady_clock::now();
    news.SetServer(("127.0.0.1:" + Env.at("ZORVEX_INN_PORT")).c_str());
    ASSERT_TRUE(news.ConnectToServer(&loop, &news, MSG_SOCKET));
    ASSERT_TRUE(
        loop.RunUntil([&] { return news.Done || !news.Lost.empty(); }, std::chrono::seconds(120)))
        << "the walk did not end within 120 s";
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    news.Disconnect();
    std::printf("[ download ] %d articles fetched in %.2f s\n", news.Articles, seconds);
    ASSERT_TRUE(news.Lost.empty()) << "connection lost";
    EXPECT_TRUE(news.Errors.empty()) << ::testing::PrintToString(news.Errors);
    EXPECT_TRUE(View.Boxes.empty()) << ::testing::PrintToString(View.Boxes);
    for (const auto& l : View.Logged) EXPECT_NE(l.rfind("[ERROR]", 0), 0u) << l;

    // What each expectation means for the driver's record of the file.
    struct TOutcome {
        const char* Expect;
        int Result;
        int Errors;
        const char* LogTag;
    } const outcomes[] = {
        {"received", RESULT_RECEIVED, 0, "[RECEIVED] "},
        {"crc-error", RESULT_RECEIVED, 1, "[RECEIVED] (1 errors) "},
        {"incomplete", RESULT_INCOMPLETE, 0, "[INCOMPLETE] "},
    };
    std::set<std::string> expectedFiles;
    for (const TSample& sample : samples) {
        const TOutcome* outcome = nullptr;
        for (const auto& o : outcomes)
            if (sample.Expect == o.Expect) outcome = &o;
        if (!outcome) continue;  // no file to look for
        for (const std::string& group : sample.Groups) {
            SCOPED_TRACE(sample.Name + " in " + group);
            const std::string dir = GroupDir(group);
            const fs::path file = dir + sample.Name;
            expectedFiles.insert(file.string());
            ASSERT_TRUE(fs::is_regular_file(file));
            EXPECT_TRUE(LogStarts(outcome->LogTag + file.string() + " " + group + " "));
            const auto& got = news.Driver().Received();
            auto entry = std::find_if(got.begin(), got.end(), [&](const TCurrentFile& f) {
                return f.Directory == dir && f.FileName == sample.Name;
            });
            ASSERT_NE(entry, got.end());
            EXPECT_EQ(entry->Result, outcome->Result);
            EXPECT_EQ(entry->Errors, outcome->Errors);
            if (sample.Expect == "incomplete") {
                // Only the lines that came, each one decoded.
                const std::string whole = ReadWhole(out + "/files/" + sample.Name);
                const std::string part = ReadWhole(file);
                EXPECT_FALSE(part.empty());
                EXPECT_LT(part.size(), whole.size());
                EXPECT_EQ(part.size() % 45, 0u);
                EXPECT_TRUE(whole.compare(0, part.size(), part) == 0) << "not a start of the file";
                continue;
            }
            // The bad CRC sample's data is intact: only its "=yend" lies.
            EXPECT_EQ(Sha256(file), sample.Sha256);
            if (sample.Expect == "crc-error") {
                const std::string data = ReadWhole(file);
                const std::string crc = Hex32(
                    static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                                static_cast<uInt>(data.size()))));
                EXPECT_TRUE(std::any_of(View.Status.begin(), View.Status.end(),
                                        [&](auto& l) {
                                            return l.find(sample.Name) != l.npos &&
                                                   l.find("CRC32 " + crc) != l.npos;
                                        }))
                    << "no status line names the CRC32 " << crc << " of " << sample.Name;
            }
        }
    }

    // Nothing else: no file from the text post, none outside a group directory.
    std::set<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(Dl()))
        if (!e.is_directory()) found.insert(e.path().string());
    EXPECT_EQ(found, expectedFiles);
}

}  // namespace
}  // namespace zorvex::test
