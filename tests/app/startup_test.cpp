// The command line and the start-up switches: "-i" and where the settings
// file is, switches that only switch on over the [switches] defaults,
// capitals, the extra argument, help, and the usage text.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace zorvex::test {
namespace {

using Words = std::vector<std::string>;

// The nine flags in one line, so a wrong one shows by name.
std::string Flags(const TStartupSwitches& s) {
    return "about=" + std::to_string(s.About) + " auto=" + std::to_string(s.Autostart) +
           " autoexit=" + std::to_string(s.Autoexit) + " autocat=" + std::to_string(s.Autocat) +
           " diag=" + std::to_string(s.DiagnosticLog) +
           " autorestart=" + std::to_string(s.Autorestart) +
           " minimize=" + std::to_string(s.MinTaskbar) +
           " autoshrink=" + std::to_string(s.Autoshrink) +
           " noresize=" + std::to_string(s.NoResize);
}

constexpr const char* DEFAULT_FLAGS =
    "about=1 auto=0 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 noresize=0";

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// "vantrel.ini" without "-i" is relative: it is found in the working
// directory, which the test moves into its own directory for a while.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::string& dir) {
        char here[PATH_MAX];
        Saved = getcwd(here, sizeof here) ? here : "";
        Moved = chdir(dir.c_str()) == 0;
    }
    ~WorkingDirectory() {
        if (!Saved.empty() && chdir(Saved.c_str()) != 0) ADD_FAILURE() << "cannot return";
    }
    bool Moved = false;

  private:
    std::string Saved;
};

TStartup Prepare(const Words& words, const std::string& home) {
    std::vector<const char*> argv{"zorvexd"};
    for (const auto& w : words) argv.push_back(w.c_str());
    return PrepareStartup(static_cast<int>(argv.size()), argv.data(), home);
}

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(Home.Path().empty()); }
    TTempDir Home;
};

TEST_F(StartupTest, CommandLineOverTheSwitchDefaults) {
    struct Case {
        const char* Name;
        Words Args;
        std::string Ini;  // vantrel.ini in the working directory; empty: none
        std::string Expected;
        std::string SettingsPath = "vantrel.ini";  // "HOME/" stands for the home directory
        std::string Extra = "";
        bool Help = false;
    } cases[] = {
        {"nothing", {}, "", DEFAULT_FLAGS},
        {"bare name after -i", {"-i", "my.ini"}, "", DEFAULT_FLAGS, "HOME/my.ini"},
        {"name with a slash", {"-i", "conf/my.ini"}, "", DEFAULT_FLAGS, "conf/my.ini"},
        {"absolute name", {"-i", "/etc/zv/my.ini"}, "", DEFAULT_FLAGS, "/etc/zv/my.ini"},
        {"-i last",
         {"-auto", "-i"},
         "",
         "about=1 auto=1 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"-i then empty word",
         {"-i", "", "-autoexit"},
         "",
         "about=1 auto=0 autoexit=1 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"capitals",
         {"-AUTO", "-AutoExit", "-NoAbout", "-DIAG"},
         "",
         "about=0 auto=1 autoexit=1 autocat=0 diag=1 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        // "-autoexit" begins with "-auto" and must not also start the run.
        {"whole words only",
         {"-autoexit", "-autorestart"},
         "",
         "about=1 auto=0 autoexit=1 autocat=0 diag=0 autorestart=1 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"every other switch",
         {"-autocat", "-autoshrink", "-noresize"},
         "",
         "about=1 auto=0 autoexit=0 autocat=1 diag=0 autorestart=0 minimize=0 autoshrink=1 "
         "noresize=1"},
        {"autostart from the file",
         {},
         "[switches]\nautostart=1\n",
         "about=1 auto=1 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"-noabout beats about=1",
         {"-noabout"},
         "[switches]\nabout=1\n",
         "about=0 auto=0 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"about=0 from the file",
         {},
         "[switches]\nabout=0\n",
         "about=0 auto=0 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"a missing switch does not clear",
         {"-diag"},
         "[switches]\nautoexit=1\n",
         "about=1 auto=0 autoexit=1 autocat=0 diag=1 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {"every key from the file",
         {},
         "[switches]\nabout=0\nautostart=1\nautoexit=1\nautocat=1\ndiagnosticlog=1\n"
         "autorestart=1\nmintaskbar=1\nautoshrink=1\nnoresize=1\n",
         "about=0 auto=1 autoexit=1 autocat=1 diag=1 autorestart=1 minimize=1 autoshrink=1 "
         "noresize=1"},
        {"-minimize starts the run",
         {"-minimize"},
         "",
         "about=1 auto=1 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=1 autoshrink=0 "
         "noresize=0"},
        {"mintaskbar=1 starts the run",
         {},
         "[switches]\nmintaskbar=1\n",
         "about=1 auto=1 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=1 autoshrink=0 "
         "noresize=0"},
        {"extra argument is the last plain word",
         {"first.nzb", "-auto", "second.nzb"},
         "",
         "about=1 auto=1 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0",
         "vantrel.ini",
         "second.nzb"},
        {"unknown switches are ignored",
         {"keep", "-x", "/x", "--verbose"},
         "",
         DEFAULT_FLAGS,
         "vantrel.ini",
         "keep"},
        {"the name after -i is not extra",
         {"-i", "other.ini"},
         "",
         DEFAULT_FLAGS,
         "HOME/other.ini",
         ""},
        {"-h", {"-h"}, "", DEFAULT_FLAGS, "vantrel.ini", "", true},
        {"-H", {"-H"}, "", DEFAULT_FLAGS, "vantrel.ini", "", true},
        {"--help", {"--help"}, "", DEFAULT_FLAGS, "vantrel.ini", "", true},
    };
    WorkingDirectory cwd(Home.Path());
    ASSERT_TRUE(cwd.Moved);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        unlink("vantrel.ini");
        if (!c.Ini.empty()) WriteText("vantrel.ini", c.Ini);
        TStartup s = Prepare(c.Args, Home.Path());
        EXPECT_EQ(Flags(s.Switches), c.Expected);
        std::string path = c.SettingsPath;
        if (path.rfind("HOME/", 0) == 0) path = Home.Path() + path.substr(4);
        EXPECT_EQ(s.SettingsPath, path);
        EXPECT_EQ(s.ExtraArgument, c.Extra);
        EXPECT_EQ(s.HelpAsked, c.Help);
        EXPECT_EQ(s.HomeDir, Home.Path());
    }
}

TEST_F(StartupTest, TheFileNamedByDashIIsTheOneRead) {
    WriteText(Home.File("vantrel.ini"), "[switches]\nautostart=1\n");
    WriteText(Home.File("other.ini"), "[switches]\nautoexit=1\nabout=0\n");
    ASSERT_EQ(mkdir(Home.File("sub").c_str(), 0700), 0);
    WriteText(Home.File("sub/third.ini"), "[switches]\nautorestart=1\n");
    struct Case {
        Words Args;
        std::string Expected;
    } cases[] = {
        {{"-i", "other.ini"},
         "about=0 auto=0 autoexit=1 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
         "noresize=0"},
        {{"-i", Home.File("sub/third.ini")},
         "about=1 auto=0 autoexit=0 autocat=0 diag=0 autorestart=1 minimize=0 autoshrink=0 "
         "noresize=0"},
        {{"-i", "absent.ini"}, DEFAULT_FLAGS},
        {{},
         "about=1 auto=1 autoexit=0 autocat=0 diag=0 autorestart=0 minimize=0 "
         "autoshrink=0 noresize=0"},
    };
    WorkingDirectory cwd(Home.Path());
    ASSERT_TRUE(cwd.Moved);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.empty() ? "no -i" : c.Args[1]);
        EXPECT_EQ(Flags(Prepare(c.Args, Home.Path()).Switches), c.Expected);
    }
}

TEST_F(StartupTest, OnePassLeavesWhatTheCommandLineDoesNotName) {
    TStartup s;
    s.HomeDir = "/home/u";
    s.Switches.Autoexit = 1;
    s.Switches.About = 0;
    const char* argv[] = {"zorvexd", "-auto", "-i", "x.ini"};
    ParseCommandLine(4, argv, s);
    EXPECT_EQ(Flags(s.Switches),
              "about=0 auto=1 autoexit=1 autocat=0 diag=0 autorestart=0 minimize=0 autoshrink=0 "
              "noresize=0");
    EXPECT_EQ(s.SettingsPath, "/home/u/x.ini");
}

TEST(UsageTest, ListsTheElevenSwitchesWithTheirHelp) {
    const std::pair<const char*, const char*> expected[] = {
        {"-h", "Print usage information"},
        {"-i", "Specify INI filename -i xxx"},
        {"-auto", "Automatic Start"},
        {"-noabout", "Omit about dialog"},
        {"-autoexit", "Automatic Exit"},
        {"-diag", "Diagnostic Log"},
        {"-autocat", "Automatic Catalog Generation"},
        {"-autorestart", "Automatic Restart"},
        {"-minimize", "Minimize to Taskbar"},
        {"-autoshrink", "Automatically shrink to taskbar"},
        {"-noresize", "Disable resizable window"},
    };
    static_assert(std::size(expected) == NUM_SWITCHES);
    const std::string text = UsageText("zorvexd");
    EXPECT_NE(text.find("zorvexd"), std::string::npos);
    size_t from = 0;
    for (int i = 0; i < NUM_SWITCHES; ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_STREQ(SWITCHES[i].Word, expected[i].first);
        EXPECT_STREQ(SWITCHES[i].Help, expected[i].second);
        // In order, each on its own line with its help text.
        size_t at = text.find(std::string("  ") + expected[i].first + " ", from);
        ASSERT_NE(at, std::string::npos);
        size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(at, end - at);
        EXPECT_TRUE(line.ends_with(expected[i].second)) << line;
        from = end;
    }
}

}  // namespace
}  // namespace zorvex::test
