// The headless program's view: what reaches standard output and standard
// error, and the live progress line that must never mix into logged lines.
#include "app/view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace zorvex::test {
namespace {

// A FILE* whose bytes can be read back.
class TMemFile {
  public:
    TMemFile() : File(open_memstream(&Buffer, &Size)) {}
    ~TMemFile() {
        if (File) fclose(File);
        free(Buffer);
    }
    FILE* Get() { return File; }
    std::string Text() {
        fflush(File);
        return std::string(Buffer, Size);
    }

  private:
    char* Buffer = nullptr;
    size_t Size = 0;
    FILE* File;
};

TEST(HeadlessViewTest, LinesGoWhereTheyBelongAndQuestionsGetTheSafeAnswer) {
    TMemFile out, err;
    THeadlessView view(out.Get(), err.Get());
    view.StatusLineAdded("Connecting to news", false);
    view.LogLineAdded("[RECEIVED] /dl/a.bin", nullptr, false);
    EXPECT_EQ(view.MessageBox("Delete NewsGroup a.b ?", "Confirm", BOX_YES_NO), ANSWER_NO);
    EXPECT_EQ(view.MessageBox("Unable to open file", "Decode File", BOX_OK), ANSWER_OK);
    EXPECT_EQ(view.MessageBox("You cannot promote the first group", "Error", BOX_OK), ANSWER_OK);
    EXPECT_EQ(view.MessageBox("Disconnect?", "Confirm", BOX_YES_NO_CANCEL), ANSWER_CANCEL);
    EXPECT_EQ(view.MessageBox("Please select a newsgroup", "Error!", BOX_OK), ANSWER_OK);
    EXPECT_EQ(view.MessageBox("File not found", "PlugIn Error: a.so", BOX_OK), ANSWER_OK);
    EXPECT_EQ(view.MessageBox("Could not link PlugInInitialize", "wordveto.so", BOX_OK), ANSWER_OK);
    EXPECT_EQ(out.Text(),
              "Connecting to news\n"
              "log: [RECEIVED] /dl/a.bin\n"
              "Confirm: Delete NewsGroup a.b ?\n"
              "Decode File: Unable to open file\n"
              "Confirm: Disconnect?\n"
              "wordveto.so: Could not link PlugInInitialize\n");
    EXPECT_EQ(err.Text(),
              "Error: You cannot promote the first group\n"
              "Error!: Please select a newsgroup\n"
              "PlugIn Error: a.so: File not found\n");
}

TEST(HeadlessViewTest, ControlCharactersNeverReachTheTerminal) {
    TMemFile out, err;
    THeadlessView view(out.Get(), err.Get());
    view.StatusLineAdded("Subject: evil\x1b]0;title\x07 and \x7f", false);
    EXPECT_EQ(out.Text(), "Subject: evil?]0;title? and ?\n");
}

TEST(HeadlessViewTest, NoProgressLineUnlessAskedFor) {
    TMemFile out, err;
    THeadlessView view(out.Get(), err.Get(), false);
    TProgress p;
    p.Group = "a.b";
    p.Article = 7;
    view.Progress(p);
    view.StatusLineAdded("line", false);
    EXPECT_EQ(out.Text(), "line\n");
}

TEST(HeadlessViewTest, ProgressLineIsClearedBeforeEveryLineAndDrawnAfter) {
    TMemFile out, err;
    THeadlessView view(out.Get(), err.Get(), true);
    view.GroupShown("alt.test", 99);
    TProgress p;
    p.Article = 42;
    p.Lines = 200;
    p.LinesReceived = 50;
    p.BytesReceived = 2500000;
    view.Progress(p);
    std::string progress = THeadlessView::ProgressText("alt.test", p, 0);
    EXPECT_EQ(out.Text(), progress);
    view.StatusLineAdded("Asking for message #43", false);
    view.LogLineAdded("[RECEIVED] x", nullptr, false);
    view.EndProgress();
    const std::string clear = "\r\033[K";
    EXPECT_EQ(out.Text(), progress + clear + "Asking for message #43\n" + progress + clear +
                              "log: [RECEIVED] x\n" + progress + clear);
    // Once ended, lines come plain.
    view.StatusLineAdded("bye", false);
    EXPECT_EQ(out.Text().substr(out.Text().size() - 4), "bye\n");
}

TEST(HeadlessViewTest, ProgressText) {
    struct {
        long long Article;
        int Lines, Received;
        double Rate;
        const char* Expected;
    } cases[] = {
        {42, 200, 50, 1.5e6, "g.h #42 25% | 3.0 MB received | 1.50 MB/s"},
        {42, 200, 400, 0, "g.h #42 100% | 3.0 MB received | 0.00 MB/s"},
        {42, 0, 400, 0, "g.h #42 | 3.0 MB received | 0.00 MB/s"},
        {0, 0, 0, 0, "g.h | 3.0 MB received | 0.00 MB/s"},
    };
    for (const auto& c : cases) {
        TProgress p;
        p.Article = c.Article;
        p.Lines = c.Lines;
        p.LinesReceived = c.Received;
        p.BytesReceived = 3000000;
        EXPECT_EQ(THeadlessView::ProgressText("g.h", p, c.Rate), c.Expected);
    }
}

}  // namespace
}  // namespace zorvex::test
