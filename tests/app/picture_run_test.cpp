// Pictures shown while they arrive: with a picture pane, each JPEG a run
// receives is decoded into the Current image slot as its bytes come, the
// one before it kept in Previous; without a pane (zorvexd) none is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/loader.h"
#include "support/news_fixture.h"
#include "support/news_posts.h"
#include "support/picture_files.h"

namespace zorvex::test {
namespace {

class PictureRunTest : public NewsControlTest {
  protected:
    std::string JpegBytes(int width, int height, uint32_t seed) {
        WriteJpeg(Home.File("made.jpg"), width, height, Photo(width, height, seed), 90);
        return FileBytes(Home.File("made.jpg"));
    }
    void Run(int paneWidth, int paneHeight) {
        A = JpegBytes(400, 300, 1);
        B = JpegBytes(200, 150, 2);
        posts = {{"p1", "a.jpg", "", YencBody("a.jpg", A)},
                 {"p2", "b.jpg", "", YencBody("b.jpg", B)}};
        Server.ServeSessions(Sessions(posts, {{1, 2}}));
        View.PaneWidth = paneWidth;
        View.PaneHeight = paneHeight;
        WriteIni("");
        StartApp(AutoExit());
        ASSERT_TRUE(RunUntilExited());
    }
    std::vector<TPost> posts;
    std::string A, B;
};

TEST_F(PictureRunTest, EachJpegIsShownInTheCurrentSlotAsItArrives) {
    Run(100, 100);
    const TImageSlots& slots = App->ImageSlots();
    struct {
        const TPicture& Slot;
        const char* Name;
        int Width, Height, Denom;
    } cases[] = {{slots.Current, "b.jpg", 200, 150, 2}, {slots.Previous, "a.jpg", 400, 300, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Home.File("dl/") + c.Name;
        EXPECT_EQ(c.Slot.Path, path);
        ASSERT_TRUE(c.Slot.Bitmap);
        EXPECT_EQ(c.Slot.Width, c.Width);
        EXPECT_EQ(c.Slot.ScaleDenom, c.Denom);
        EXPECT_EQ(c.Slot.Bitmap->Width, 100);
        EXPECT_EQ(c.Slot.Bitmap->Height, 75);
        // The same picture as the loader makes of the file on disk.
        TPicture loaded;
        ASSERT_EQ(
            LoadPictureNow(path, 100, 100, LOAD_REDUCE, "", TPlainPicturesOnly::Instance(), loaded),
            PIC_OK);
        ASSERT_TRUE(loaded.Bitmap);
        ASSERT_EQ(loaded.Bitmap->Pixels.size(), c.Slot.Bitmap->Pixels.size());
        int most = 0;
        for (size_t i = 0; i < loaded.Bitmap->Pixels.size(); ++i)
            most = std::max(
                most, std::abs(int(loaded.Bitmap->Pixels[i]) - int(c.Slot.Bitmap->Pixels[i])));
        EXPECT_LE(most, 2);
    }
    EXPECT_GT(View.PictureChanges, 4);
    EXPECT_TRUE(FileBytes(Home.File("dl/b.jpg")) == B);
}

TEST_F(PictureRunTest, WithoutAPaneNoPictureIsDecoded) {
    Run(0, 0);
    EXPECT_FALSE(App->ImageSlots().Current.Bitmap);
    EXPECT_FALSE(App->ImageSlots().Previous.Bitmap);
    EXPECT_EQ(View.PictureChanges, 0);
    // The files themselves arrive as they would with a pane.
    EXPECT_TRUE(FileBytes(Home.File("dl/a.jpg")) == A);
    EXPECT_TRUE(FileBytes(Home.File("dl/b.jpg")) == B);
}

}  // namespace
}  // namespace zorvex::test
