// The plug-in host with real libraries: the sample plug-in loaded twice
// under the names A and B, and one that exports a single entry point.
#include "plugin/pluginhost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "library/fileio.h"
#include "support/plugin_files.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

using Lines = std::vector<std::string>;

class PlugInHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Dir.Path().empty());
        CopyPlugIn(ZORVEX_WORDVETO, Dir.File("A.so"));
        CopyPlugIn(ZORVEX_WORDVETO, Dir.File("B.so"));
        ASSERT_TRUE(ReplaceFileAtomically(Dir.File("B.words"), "# B refuses\n\nSPAM\n", nullptr));
    }
    // Loads the names in order; each box as "caption: text".
    void Load(const Lines& names, const std::string& home = "") {
        Host.Load(names, home, [this](const std::string& caption, const std::string& text) {
            Boxes.push_back(caption + ": " + text);
        });
    }
    Lines Logged() { return LogLines(Dir.File("wordveto.log")); }
    static THeader Header(const char* subject) {
        THeader h{};
        h.Subject = subject;
        h.Poster = "poster@example.com";
        h.CrossPosts = "null";
        h.PostingHost = "null";
        h.Number = 5000000000LL;  // beyond 32 bits: the record carries 64
        h.Date = 1700000000u;
        h.Lines = 1234;
        return h;
    }

    TTempDir Dir;
    TPlugInHost Host;
    Lines Boxes;
};

// Dllname0 is A and dllname1 is B: every call reaches B first, then A,
// with the records and texts as the host holds them.
TEST_F(PlugInHostTest, EveryCallReachesTheLastLoadedFirst) {
    Load({Dir.File("A.so"), Dir.File("B.so")});
    EXPECT_TRUE(Boxes.empty()) << Boxes[0];
    EXPECT_EQ(Host.LoadedPaths(), (Lines{Dir.File("B.so"), Dir.File("A.so")}));

    TNewsGroup group{};
    group.Name = "alt.binaries.test";
    group.First = 3000000000LL;
    group.Last = 3000000100LL;
    group.Pointer = 3000000050LL;
    group.Enabled = 1;
    group.Done = 0;
    group.Ordinal = 7;
    group.NumHeaders = 42;
    group.HighestLoaded = 3000000099LL;
    group.LowestLoaded = 3000000051LL;
    THeader header = Header("holiday.jpg (1/1)");
    header.CrossPosts = "a.b: c.d: ";
    const uint8_t bytes[] = {'a', 0, 'b'};
    const std::string line("line\0cut here", 13);

    Host.Initialize();
    Host.Connect("news.example.com");
    Host.NewGroup(group);
    EXPECT_FALSE(Host.HeaderVetoed(header));
    Host.MessageReady("<part1@example.com>");
    Host.HeaderLine("Subject: holiday.jpg (1/1)");
    Host.TextLine("Here it is");
    Host.CodeLine(line);  // a C text ends at its first NUL
    Host.File("/dl/holiday.jpg");
    Host.FileBuffer(bytes, sizeof bytes);
    Host.FileDone(3);
    Host.Disconnect("news.example.com");
    Host.Shutdown();
    EXPECT_EQ(Host.Count(), 0u);

    const Lines calls = {
        "Initialize words=%",
        "Connect news.example.com",
        "NewGroup alt.binaries.test first=3000000000 last=3000000100 pointer=3000000050 "
        "enabled=1 done=0 ordinal=7 headers=42 highest=3000000099 lowest=3000000051",
        "Header 5000000000 lines=1234/1234 date=1700000000 from=poster@example.com "
        "xref=a.b: c.d:  subj=holiday.jpg (1/1) -> pass",
        "MsgReady <part1@example.com>",
        "HeaderLine Subject: holiday.jpg (1/1)",
        "TextLine Here it is",
        "CodeLine line",
        "File /dl/holiday.jpg",
        "FileBuffer 3",
        "FileDone 3 given=3 fnv=" + Fnv1a(std::string("a\0b", 3)),
        "Disconnect news.example.com",
        "Shutdown",
    };
    Lines expected;
    for (const std::string& call : calls)
        for (const char* name : {"B", "A"}) {
            std::string text = std::string(name) + " " + call;
            // Only B has a word list.
            if (call == "Initialize words=%")
                text = std::string(name) + " Initialize words=" + (name[0] == 'B' ? "1" : "0");
            expected.push_back(text);
        }
    EXPECT_EQ(Logged(), expected);

    // Nothing reaches a library after its shutdown.
    Host.Connect("news.example.com");
    EXPECT_EQ(Logged().size(), expected.size());
}

// B's veto ends the question: A is not asked about that header. A header
// that B lets pass is put to A too.
TEST_F(PlugInHostTest, AVetoStopsTheLibrariesAfterIt) {
    Load({Dir.File("A.so"), Dir.File("B.so")});
    THeader spam = Header("cheap spam here");
    THeader fine = Header("holiday.jpg");
    EXPECT_TRUE(Host.HeaderVetoed(spam));
    EXPECT_FALSE(Host.HeaderVetoed(fine));
    const std::string tail = " lines=1234/1234 date=1700000000 from=poster@example.com xref=null";
    EXPECT_EQ(Logged(), (Lines{"B Header 5000000000" + tail + " subj=cheap spam here -> veto",
                               "B Header 5000000000" + tail + " subj=holiday.jpg -> pass",
                               "A Header 5000000000" + tail + " subj=holiday.jpg -> pass"}));
}

// A library that cannot be loaded gets one box naming it and why, and the
// next name is loaded all the same.
TEST_F(PlugInHostTest, ALibraryThatCannotBeLoadedIsShownAndSkipped) {
    ASSERT_TRUE(ReplaceFileAtomically(Dir.File("text.so"), "not a library\n", nullptr));
    ASSERT_EQ(::mkdir(Dir.File("folder.so").c_str(), 0700), 0);
    struct {
        std::string Name;
        std::string Text;  // the box's text, or its start before " ("
    } cases[] = {
        {Dir.File("missing.so"), "File not found"},
        {Dir.File("nowhere/missing.so"), "Path not found"},
        {Dir.File("A.so/missing.so"), "Path not found"},  // a file where a folder should be
        {"libzorvex-no-such-plugin.so", "File not found"},
        {Dir.File("text.so"), "LoadLibrary() error 8"},
        {Dir.File("folder.so"), "LoadLibrary() error 21"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPlugInHost host;
        Lines boxes;
        host.Load({c.Name, "", Dir.File("A.so")}, "",
                  [&](const std::string& caption, const std::string& text) {
                      boxes.push_back(caption + ": " + text);
                  });
        ASSERT_EQ(boxes.size(), 1u);
        const std::string prefix = "PlugIn Error: " + c.Name + ": " + c.Text;
        if (c.Text.rfind("LoadLibrary", 0) == 0)
            EXPECT_EQ(boxes[0].rfind(prefix + " (", 0), 0u) << boxes[0];
        else
            EXPECT_EQ(boxes[0], prefix);
        EXPECT_EQ(host.LoadedPaths(), Lines{Dir.File("A.so")});
    }
}

// Without PlugInInitialize a library is shown once and still used: it
// gets every header line, and the calls it lacks are passed over.
TEST_F(PlugInHostTest, ALibraryWithOnlyHeaderLinesStillGetsThem) {
    CopyPlugIn(ZORVEX_HEADERLINE_ONLY, Dir.File("H.so"));
    Load({Dir.File("H.so"), Dir.File("A.so")});
    EXPECT_EQ(Boxes, Lines{Dir.File("H.so") + ": Could not link PlugInInitialize"});
    ASSERT_EQ(Host.Count(), 2u);
    Host.Initialize();
    THeader header = Header("holiday.jpg");
    EXPECT_FALSE(Host.HeaderVetoed(header));
    Host.HeaderLine("Subject: holiday.jpg");
    Host.HeaderLine("From: poster@example.com");
    Host.TextLine("text");
    Host.FileDone(0);
    Host.Shutdown();
    EXPECT_EQ(LogLines(Dir.File("headerlineonly.log")),
              (Lines{"Subject: holiday.jpg", "From: poster@example.com"}));
    EXPECT_EQ(Logged().front(), "A Initialize words=0");
    EXPECT_EQ(Logged().back(), "A Shutdown");
}

// A name without '/' is looked for in the home directory first, then by
// the system's search (which finds the C library, a library without any
// entry point).
TEST_F(PlugInHostTest, ANameWithoutSlashIsLookedForAtHomeFirst) {
    Load({"A.so", "libc.so.6"}, Dir.Path());
    EXPECT_EQ(Boxes, Lines{"libc.so.6: Could not link PlugInInitialize"});
    ASSERT_EQ(Host.Count(), 2u);
    EXPECT_EQ(Host.LoadedPaths()[1], Dir.File("A.so"));
    EXPECT_EQ(Host.LoadedPaths()[0], "libc.so.6");
    Host.Connect("h");
    EXPECT_EQ(Logged(), Lines{"A Connect h"});
}

// The [connection] host in each form the socket takes: plug-ins are told
// the name alone, through Connect and Disconnect alike.
TEST_F(PlugInHostTest, ThePlugInsAreToldTheHostWithoutItsPort) {
    const struct {
        const char* Setting;
        const char* Told;
    } cases[] = {
        {"news.example.com", "news.example.com"},
        {"news.example.com:119", "news.example.com"},
        {" news.example.com : 563 ", "news.example.com"},
        {"127.0.0.1:11119", "127.0.0.1"},
        {"[::1]:119", "::1"},
        {"[2001:db8::7]", "2001:db8::7"},
        {"2001:db8::7", "2001:db8::7"},
        {"news.example.com:", "news.example.com"},
    };
    Load({Dir.File("A.so")});
    Lines expected;
    for (const auto& c : cases) {
        EXPECT_EQ(PlugInHostName(c.Setting), c.Told) << c.Setting;
        Host.Connect(c.Setting);
        Host.Disconnect(c.Setting);
        expected.push_back(std::string("A Connect ") + c.Told);
        expected.push_back(std::string("A Disconnect ") + c.Told);
    }
    EXPECT_EQ(Logged(), expected);
}

}  // namespace
}  // namespace zorvex::test
