// TNewsApp's start: the settings it refuses to run with (and that it then
// leaves every file alone), the banner, and that only autostart connects.
#include "app/newsapp.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/view.h"
#include "library/eventloop.h"
#include "support/loopback.h"
#include "support/recording_view.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// Every name under a directory with its kind and, for files, the bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> seen;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const auto status = e.symlink_status();
        std::string what = fs::is_directory(status) ? "dir" : "other";
        if (fs::is_regular_file(status)) {
            std::ifstream in(e.path(), std::ios::binary);
            what = "file:" + std::string(std::istreambuf_iterator<char>(in), {});
        }
        seen[e.path().string()] = what;
    }
    return seen;
}

bool Connecting(int listenFd, int waitMs) {
    pollfd p{listenFd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 1;
}

class NewsAppTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(Home.Path().empty()); }

    std::string Ini() const { return Home.File("vantrel.ini"); }
    void WriteIni(const std::string& text) { std::ofstream(Ini(), std::ios::binary) << text; }
    TStartup Startup(std::vector<std::string> words) {
        const std::string path = Ini();
        std::vector<const char*> argv{"zorvexd", "-i", path.c_str()};
        for (const auto& w : words) argv.push_back(w.c_str());
        return PrepareStartup(static_cast<int>(argv.size()), argv.data(), Home.Path());
    }

    TTempDir Home;
    TNewsStore Store;
    TRecordingView View;
};

TEST_F(NewsAppTest, UnusableSettingsEndTheStartAndWriteNothing) {
    std::ofstream(Home.File("plain")) << "a file, not a directory";
    struct Case {
        const char* Name;
        std::string Ini;  // "@" stands for the home directory
        bool IniIsDirectory;
        Lines Named;  // what the error must name besides the settings file
    } cases[] = {
        {"no host", "[paths]\ndownload=@/dl\n", false, {"[connection]", "host"}},
        {"no download path", "[connection]\nhost=127.0.0.1:1\n", false, {"[paths]", "download"}},
        {"download path under a file",
         "[connection]\nhost=127.0.0.1:1\n[paths]\ndownload=@/plain/dl\n",
         false,
         {"[paths] download", "@/plain/dl"}},
        {"settings file unreadable", "", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Ini());
        auto home = [&](std::string text) {
            for (size_t at; (at = text.find('@')) != std::string::npos;)
                text.replace(at, 1, Home.Path());
            return text;
        };
        if (c.IniIsDirectory)
            ASSERT_TRUE(fs::create_directory(Ini()));
        else
            WriteIni(home(c.Ini));
        View = TRecordingView{};
        const auto before = Snapshot(Home.Path());
        {
            // -diag and -auto too: neither the diagnostic log nor a
            // connection may come before the settings are known good.
            TPlainEventLoop loop;
            TNewsApp app(Startup({"-diag", "-auto"}), View, loop, Store);
            TStartResult r = app.Start();
            EXPECT_EQ(r.ExitCode, 2);
            EXPECT_NE(r.Error.find(Ini()), std::string::npos) << r.Error;
            for (const auto& word : c.Named)
                EXPECT_NE(r.Error.find(home(word)), std::string::npos) << r.Error;
        }
        EXPECT_EQ(Snapshot(Home.Path()), before);
        EXPECT_TRUE(View.Status.empty());
        EXPECT_TRUE(View.Boxes.empty());
    }
}

TEST_F(NewsAppTest, StartPrintsTheBannerAndOnlyAutostartConnects) {
    TLoopbackListener server;
    ASSERT_TRUE(server.Ok);
    struct Case {
        const char* Name;
        std::vector<std::string> Args;
        Lines Rest;  // the banner after the build date
        bool Connects;
        Lines Boxes;
    } cases[] = {
        {"plain", {}, {"Press <Connect> to begin downloading.", "..."}, false, {}},
        {"diagnostic log",
         {"-diag"},
         {"Press <Connect> to begin downloading.", "..."},
         false,
         {"Note: Diagnostic logging is enabled. Program state will be logged to Diagnost.Log"}},
        {"autostart",
         {"-auto"},
         {"Autostart in progress", "Connecting to " + server.HostString(), "..."},
         true,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteIni("[connection]\nhost=" + server.HostString() +
                 "\n[paths]\ndownload=" + Home.File("dl") + "\n");
        View = TRecordingView{};
        // A loop of its own: nothing queued for one case reaches the next.
        TPlainEventLoop loop;
        TNewsApp app(Startup(c.Args), View, loop, Store);
        TStartResult r = app.Start();
        ASSERT_EQ(r.ExitCode, 0) << r.Error;
        EXPECT_TRUE(r.Error.empty());
        EXPECT_TRUE(fs::is_directory(Home.File("dl")));
        EXPECT_EQ(app.Settings().Settings().DownloadPath, Home.File("dl") + "/");

        const std::string first = "Zorvex/Vantrel " + std::to_string(sizeof(void*) * 8) +
                                  "-bit, version 10.3: Initialized.";
        size_t at = 0;
        while (at < View.Status.size() && View.Status[at] != first) ++at;
        ASSERT_LT(at + 1 + c.Rest.size(), View.Status.size()) << "no banner";
        EXPECT_EQ(View.Status[at + 1].rfind("Build date: ", 0), 0u);
        EXPECT_GT(View.Status[at + 1].size(), std::string("Build date: ").size());
        EXPECT_EQ(Lines(View.Status.begin() + at + 2, View.Status.begin() + at + 2 + c.Rest.size()),
                  c.Rest);
        EXPECT_EQ(View.Boxes, c.Boxes);

        loop.RunPending();
        // The autostart case shows the listener does hear a client.
        EXPECT_EQ(Connecting(server.Fd, c.Connects ? 10000 : 200), c.Connects);
        if (c.Connects) {
            int fd = server.Accept();
            EXPECT_GE(fd, 0);
            if (fd >= 0) close(fd);
        } else {
            EXPECT_FALSE(app.News().IsConnected());
        }
    }
}

}  // namespace
}  // namespace zorvex::test
