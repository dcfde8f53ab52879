// The catalogs of every group: at the end of an unattended download run
// (-autocat), or asked for; each group's download directory gets its pages,
// groups without pictures are skipped, one shared directory is done once,
// and the automatic exit waits for the last page.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/catalog.h"
#include "image/loader.h"
#include "support/news_fixture.h"
#include "support/news_posts.h"
#include "support/picture_files.h"

namespace zorvex::test {
namespace {

class CatalogRunTest : public NewsControlTest {
  protected:
    std::string Picture(const std::string& dir, const std::string& name, uint32_t seed) {
        ::mkdir(Home.File("dl").c_str(), 0755);
        ::mkdir(Home.File("dl/" + dir).c_str(), 0755);
        std::string path = Home.File("dl/" + dir + name);
        WriteJpeg(path, 120, 90, Photo(120, 90, seed), 90);
        return path;
    }
    // Where a status line is, -1 when it is not there.
    long Line(const std::string& text) const {
        auto at = std::find(View.Status.begin(), View.Status.end(), text);
        return at == View.Status.end() ? -1 : at - View.Status.begin();
    }
    bool Exists(const std::string& path) const {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }
    static bool IsPageOfOneThumbnail(const std::string& page) {
        TPicture picture;
        return IsCatalogPage(page) &&
               LoadPictureNow(page, 0, 0, 0, "", TPlainPicturesOnly::Instance(), picture) ==
                   PIC_OK &&
               picture.Width == 1024 && picture.Height == 768;
    }
};

TEST_F(CatalogRunTest, AutocatCataloguesTheDownloadsThenExits) {
    std::string jpeg;
    WriteJpeg(Home.File("made.jpg"), 300, 200, Photo(300, 200, 5), 90);
    ASSERT_TRUE(ReadWholeFile(Home.File("made.jpg"), &jpeg));
    std::vector<TPost> posts = {{"p1", "got.jpg", "", YencBody("got.jpg", jpeg)}};
    Server.ServeSessions(Sessions(posts, {{1}}));
    WriteIni("[miscpref]\npathexpand=3\n[catalog]\nrows=2\ncolumns=2\n");
    TStartupSwitches switches = AutoExit();
    switches.Autocat = 1;
    StartApp(switches);
    ASSERT_TRUE(RunUntilExited(15000));

    const std::string dir = Home.File("dl/a.b/");
    ASSERT_EQ(FileBytes(dir + "got.jpg"), jpeg);
    ASSERT_TRUE(IsPageOfOneThumbnail(dir + "cat001.jpg"));
    EXPECT_EQ(View.CatalogPages, std::vector<std::string>{dir + "cat001.jpg"});
    long finished = Line("Finished all groups...");
    long start = Line("Executing Automatic Catalog All Groups...");
    long group = Line("Generating Catalogs: a.b");
    long exit = Line("Executing Automatic Exit...");
    ASSERT_GE(finished, 0);
    EXPECT_GT(start, finished);
    EXPECT_GT(group, start);
    EXPECT_GT(exit, group) << "the exit follows the catalogs";
    EXPECT_EQ(App->News().CatalogRun().PagesWritten(),
              std::vector<std::string>{dir + "cat001.jpg"});
}

TEST_F(CatalogRunTest, EachGroupWithPicturesGetsItsPagesAndTheOthersAreSkipped) {
    // 26 pictures in a.b, none in c.d (only a text file), one in e.f.
    for (int i = 0; i < 26; ++i) Picture("a.b/", "p" + std::to_string(100 + i) + ".jpg", i);
    ::mkdir(Home.File("dl/c.d").c_str(), 0755);
    WriteFile(Home.File("dl/c.d/readme.txt"), "no pictures here");
    Picture("e.f/", "only.gif.jpg", 40);
    WriteIni("[miscpref]\npathexpand=3\n", "0=a.b 1 0\n1=c.d 1 0\n2=e.f 1 0\n3=g.h 1 0\n");
    TStartupSwitches switches;
    switches.Autoexit = 1;
    StartApp(switches);
    View.Answers = {ANSWER_YES};
    App->News().CatalogAllGroupsCommand();
    EXPECT_EQ(View.Boxes.back(),
              "Confirm: This will generate image catalog files for each newsgroup in your list. "
              "Proceed?");
    App->News().StartCatalogRun();
    EXPECT_TRUE(View.Has("The catalogs are being made already"));
    ASSERT_TRUE(RunUntilExited(20000));

    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/a.b/cat001.jpg")));
    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/a.b/cat002.jpg")));
    EXPECT_FALSE(Exists(Home.File("dl/a.b/cat003.jpg")));
    EXPECT_FALSE(Exists(Home.File("dl/c.d/cat001.jpg")));
    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/e.f/cat001.jpg")));
    EXPECT_FALSE(Exists(Home.File("dl/g.h"))) << "a group's directory is never made for it";
    EXPECT_TRUE(View.Has("Generating Catalogs: a.b"));
    EXPECT_FALSE(View.Has("Generating Catalogs: c.d"));
    EXPECT_FALSE(View.Has("Generating Catalogs: g.h"));
    EXPECT_GT(Line("Executing Automatic Exit..."), Line("Generating Catalogs: e.f"));
    EXPECT_EQ(App->News().CatalogRun().PagesWritten().size(), 3u);
}

TEST_F(CatalogRunTest, OneSharedDirectoryIsCataloguedOnceAndNoIsNo) {
    Picture("", "shared.jpg", 1);
    WriteIni("[miscpref]\npathexpand=0\n", "0=a.b 1 0\n1=c.d 1 0\n");
    TStartupSwitches switches;
    switches.Autoexit = 1;
    StartApp(switches);

    App->News().CatalogAllGroupsCommand();  // answered No
    Loop.RunPending();
    EXPECT_FALSE(App->News().CatalogRun().Running());
    EXPECT_FALSE(Exists(Home.File("dl/cat001.jpg")));

    View.Answers = {ANSWER_YES};
    App->News().CatalogAllGroupsCommand();
    ASSERT_TRUE(RunUntilExited(15000));
    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/cat001.jpg")));
    EXPECT_EQ(View.Count("Generating Catalogs: a.b"), 1);
    EXPECT_FALSE(View.Has("Generating Catalogs: c.d"));
}

TEST_F(CatalogRunTest, ABrokenPictureIsReportedAndTheRunGoesOn) {
    Picture("a.b/", "good.jpg", 2);
    WriteFile(Home.File("dl/a.b/bad.jpg"), "this is no jpeg at all");
    Picture("c.d/", "next.jpg", 3);
    WriteIni("[miscpref]\npathexpand=3\n[catalog]\nrows=1\ncolumns=1\noutname=sheet\npadding=0\n",
             "0=a.b 1 0\n1=c.d 1 0\n");
    TStartupSwitches switches;
    switches.Autoexit = 1;
    StartApp(switches);
    App->News().StartCatalogRun();
    ASSERT_TRUE(RunUntilExited(15000));
    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/a.b/sheet1.jpg")));
    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/a.b/sheet2.jpg")));
    EXPECT_TRUE(IsPageOfOneThumbnail(Home.File("dl/c.d/sheet1.jpg")));
    bool reported = std::any_of(View.Status.begin(), View.Status.end(), [&](const std::string& s) {
        return s.rfind("Jpeg Error (" + Home.File("dl/a.b/bad.jpg") + "): ", 0) == 0;
    });
    EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace zorvex::test
