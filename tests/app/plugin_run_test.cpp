// A whole run with plug-ins named in the settings, against the scripted
// server: the sample plug-in under the names A and B (B refusing "spam")
// and a name that does not exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/profile.h"
#include "support/encoders.h"
#include "support/news_fixture.h"
#include "support/news_posts.h"
#include "support/plugin_files.h"

namespace zorvex::test {
namespace {

using Lines = std::vector<std::string>;

class PlugInRunTest : public NewsControlTest {
  protected:
    Lines Said(const std::string& name) {
        Lines lines;
        for (const std::string& l : LogLines(Home.File("wordveto.log")))
            if (l.rfind(name + " ", 0) == 0) lines.push_back(l.substr(name.size() + 1));
        return lines;
    }
};

TEST_F(PlugInRunTest, PlugInsSeeTheRunAndVetoAHeader) {
    CopyPlugIn(ZORVEX_WORDVETO, Home.File("A.so"));
    CopyPlugIn(ZORVEX_WORDVETO, Home.File("B.so"));
    ASSERT_TRUE(ReplaceFileAtomically(Home.File("B.words"), "spam\n", nullptr));
    std::string mime =
        "This is a multi-part message in MIME format.\n\n--b\n"
        "Content-Type: application/octet-stream; name=\"file3.dat\"\n"
        "Content-Transfer-Encoding: base64\n\n";
    for (size_t i = 0; i < Data[2].size(); i += 57)
        mime += Base64Line(Data[2].substr(i, 57)) + "\n";
    mime += "\n--b--\n";
    std::vector<TPost> posts = {
        {"p1", Name(1), "X-Note: hello\n", "Here it is\n" + YencBody(Name(1), Data[0])},
        {"p2", Name(2) + " spam", "", YencBody(Name(2), Data[1])},
        {"p3", "file3.dat", "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n",
         mime},
    };
    Server.ServeSessions(Sessions(posts, {{1, 3}}));
    WriteIni("[plugins]\ncount=3\ndllname0=A.so\ndllname1=B.so\ndllname2=missing.so\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());

    EXPECT_EQ(View.Boxes, Lines{"PlugIn Error: missing.so: File not found"});
    EXPECT_EQ(std::count(View.Logged.begin(), View.Logged.end(),
                         "[PLUGIN REJECT] 2: from=p2, subj=file2.bin spam"),
              1);
    EXPECT_EQ(Asked("article 2"), 0);
    EXPECT_TRUE(Whole(1));
    EXPECT_EQ(FileBytes(Home.File("dl/file3.dat")), Data[2]);

    // B is told everything first, then A the same, except the header that
    // B refused.
    const Lines b = Said("B");
    EXPECT_EQ(LogLines(Home.File("wordveto.log")), ToldBThenA(b));

    // What B was told, in order (each a line's start); base64 files raise
    // neither File nor FileBuffer.
    // The settings name the server as "127.0.0.1:port"; plug-ins get the
    // name alone.
    ASSERT_EQ(Server.HostString().rfind("127.0.0.1:", 0), 0u);
    const std::string host = "127.0.0.1";
    const Lines story = {
        "Initialize words=1",
        "Connect " + host,
        "NewGroup a.b first=1 last=3 pointer=0 enabled=1 done=0 ordinal=1 headers=0 ",
        "Header 1 lines=" + std::to_string(BodyLines(posts[0])) + "/",
        "MsgReady <1@test>",
        "HeaderLine Subject: file1.bin",
        "HeaderLine From: p1",
        "HeaderLine X-Note: hello",
        "TextLine Here it is",
        "File " + Home.File("dl/file1.bin"),
        "CodeLine ",
        "FileBuffer ",
        "FileDone 3000 given=3000 fnv=" + Fnv1a(Data[0]),
        "Header 2 ",
        "Header 3 ",
        "MsgReady <3@test>",
        "HeaderLine Content-Type: multipart/mixed; boundary=\"b\"",
        "TextLine This is a multi-part message in MIME format.",
        "CodeLine " + Base64Line(Data[2].substr(0, 57)),
        "FileDone 700 given=0 ",
        "Disconnect " + host,
        "Shutdown",
    };
    size_t at = 0;
    for (const std::string& line : b)
        if (at < story.size() && line.rfind(story[at], 0) == 0) ++at;
    EXPECT_EQ(at, story.size()) << "B was not told: " << story[std::min(at, story.size() - 1)];
    EXPECT_EQ(b.back(), "Shutdown");
    const auto count = [&b](const std::string& start) {
        return std::count_if(b.begin(), b.end(),
                             [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    // Matched whole: the story's lines are only starts.
    Lines connections;
    for (const std::string& line : b)
        if (line.rfind("Connect ", 0) == 0 || line.rfind("Disconnect ", 0) == 0)
            connections.push_back(line);
    EXPECT_EQ(connections, (Lines{"Connect " + host, "Disconnect " + host}));
    EXPECT_EQ(count("File "), 1);
    EXPECT_EQ(count("Header "), 3);
    // Every encoded line of both files, and the lines that end them (the
    // yEnc end line, the closing MIME boundary).
    EXPECT_EQ(count("CodeLine "), static_cast<long>(YencDataLines(Data[0]).size() + 1 +
                                                    (Data[2].size() + 56) / 57 + 1));
}

// The list edited while running is saved with the settings and loads only
// at the next start.
TEST_F(PlugInRunTest, AnEditedListTakesEffectAtTheNextStart) {
    CopyPlugIn(ZORVEX_WORDVETO, Home.File("A.so"));
    WriteIni("");
    TStartupSwitches idle;
    StartApp(idle);
    ASSERT_EQ(App->PlugInNames().Add("A.so"), TPlugInEdit::DONE);
    App->Exit();
    EXPECT_EQ(App->PlugIns().Count(), 0u);
    EXPECT_TRUE(LogLines(Home.File("wordveto.log")).empty());
    TProfile saved;
    ASSERT_TRUE(saved.Load(Home.File("vantrel.ini")));
    EXPECT_EQ(saved.GetString("plugins", "count", "", 255), "1");
    EXPECT_EQ(saved.GetString("plugins", "dllname0", "", 255), "A.so");

    App.reset();
    TNewsStore second;
    TStartup startup;
    startup.HomeDir = Home.Path();
    startup.SettingsPath = Home.File("vantrel.ini");
    App = std::make_unique<TNewsApp>(startup, View, Loop, second);
    ASSERT_EQ(App->Start().ExitCode, 0);
    EXPECT_EQ(App->PlugIns().LoadedPaths(), Lines{Home.File("A.so")});
    App->Exit();
    EXPECT_EQ(LogLines(Home.File("wordveto.log")), (Lines{"A Initialize words=0", "A Shutdown"}));
    App.reset();  // before the store it uses
}

}  // namespace
}  // namespace zorvex::test
