// The live preview: a JPEG handed over in the decoder's 2048-byte pieces,
// the unconsumed rest given again with the next piece, as the decoder
// does it.
#include "image/preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/loader.h"
#include "library/fileio.h"
#include "support/picture_files.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

constexpr size_t HANDOVER = 2048;

// Feeds bytes[0, upTo) like the decoder: its buffer keeps what the preview
// did not take and hands it over again with what comes next.
void FeedLikeTheDecoder(TJpegPreview& preview, const std::string& bytes, size_t upTo,
                        std::string& kept, size_t& at) {
    while (at < upTo) {
        size_t n = std::min(HANDOVER - std::min(kept.size(), HANDOVER - 1), upTo - at);
        kept.append(bytes, at, n);
        at += n;
        size_t taken = preview.Feed(reinterpret_cast<const uint8_t*>(kept.data()), kept.size());
        ASSERT_LE(taken, kept.size());
        kept.erase(0, taken);
    }
}

class PreviewTest : public ::testing::Test {
  protected:
    std::string Picture(int width, int height, bool progressive, const std::string& extra = "") {
        WriteJpeg(Dir.File("p.jpg"), width, height, Photo(width, height, 5), 90, progressive);
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(Dir.File("p.jpg"), &bytes));
        // Extra marker segments go right after SOI.
        return bytes.substr(0, 2) + extra + bytes.substr(2);
    }
    // What the loader makes of the same file with the preview's box.
    TPicture Loaded(const std::string& bytes, int box) {
        EXPECT_TRUE(ReplaceFileAtomically(Dir.File("same.jpg"), bytes, nullptr));
        TPicture picture;
        EXPECT_EQ(LoadPictureNow(Dir.File("same.jpg"), box, box, LOAD_REDUCE, "",
                                 TPlainPicturesOnly::Instance(), picture),
                  PIC_OK);
        return picture;
    }
    static int MaxDifference(const TBitmap& a, const TBitmap& b) {
        int most = 0;
        for (size_t i = 0; i < a.Pixels.size() && i < b.Pixels.size(); ++i)
            most = std::max(most, std::abs(int(a.Pixels[i]) - int(b.Pixels[i])));
        return most;
    }

    TTempDir Dir;
    TJpegPreview Preview;
    TPicture Slot;
};

TEST_F(PreviewTest, APictureGrowsAsItsBytesArrive) {
    std::string app1(2 + 2 + 20000, 'x');  // an APP1 segment larger than a hand-over
    app1[0] = '\xFF';
    app1[1] = '\xE1';
    app1[2] = static_cast<char>((20002 >> 8) & 0xFF);
    app1[3] = static_cast<char>(20002 & 0xFF);
    struct {
        const char* Name;
        bool Progressive;
        std::string Extra;
    } cases[] = {{"baseline", false, ""}, {"progressive", true, ""}, {"big APP1", false, app1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string bytes = Picture(640, 480, c.Progressive, c.Extra);
        Preview.Start(Slot, "p.jpg", 200, 200);
        std::string kept;
        size_t at = 0;
        FeedLikeTheDecoder(Preview, bytes, bytes.size() / 2, kept, at);
        ASSERT_TRUE(Preview.Active());
        if (!c.Progressive) {
            // Half the data: some of the rows, not all.
            EXPECT_GT(Preview.RowsDone(), 0);
            EXPECT_LT(Preview.RowsDone(), 120);
        }
        FeedLikeTheDecoder(Preview, bytes, bytes.size(), kept, at);
        Preview.Finish();
        ASSERT_TRUE(Slot.Bitmap);
        EXPECT_EQ(Slot.ScaleDenom, 4);
        EXPECT_EQ(Slot.Width, 640);
        EXPECT_EQ(Slot.Bitmap->Width, 160);
        EXPECT_EQ(Slot.Bitmap->Height, 120);
        EXPECT_EQ(Preview.RowsDone(), 120);
        TPicture loaded = Loaded(bytes, 200);
        ASSERT_TRUE(loaded.Bitmap);
        EXPECT_LE(MaxDifference(*Slot.Bitmap, *loaded.Bitmap), 2);
    }
}

TEST_F(PreviewTest, AFileThatEndsEarlyIsShownAsFarAsItGoes) {
    const std::string bytes = Picture(320, 240, false);
    Preview.Start(Slot, "p.jpg", 400, 400);
    std::string kept;
    size_t at = 0;
    FeedLikeTheDecoder(Preview, bytes, bytes.size() * 6 / 10, kept, at);
    Preview.Finish();
    EXPECT_FALSE(Preview.Active());
    ASSERT_TRUE(Slot.Bitmap);
    EXPECT_EQ(Slot.Bitmap->Height, 240);
    EXPECT_GT(Preview.RowsDone(), 100);
}

TEST_F(PreviewTest, ABrokenPictureEndsQuietly) {
    std::string bytes = Picture(320, 240, false);
    struct {
        const char* Name;
        std::string Bytes;
    } cases[] = {
        {"not a JPEG", std::string(5000, 'A')},
        {"absurd size",
         [&] {
             // The SOF0 frame header's height and width set to 60000 x 60000.
             std::string b = bytes;
             size_t sof = b.find("\xFF\xC0");
             b[sof + 5] = b[sof + 7] = static_cast<char>(0xEA);
             b[sof + 6] = b[sof + 8] = static_cast<char>(0x60);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Preview.Start(Slot, "p.jpg", 100, 100);
        std::string kept;
        size_t at = 0;
        FeedLikeTheDecoder(Preview, c.Bytes, c.Bytes.size(), kept, at);
        EXPECT_FALSE(Preview.Active());
        EXPECT_TRUE(kept.empty()) << "a broken picture holds on to the decoder's bytes";
        Preview.Finish();
        EXPECT_FALSE(Slot.Bitmap);
    }
    // The preview is usable again after a broken picture.
    Preview.Start(Slot, "p.jpg", 400, 400);
    std::string kept;
    size_t at = 0;
    FeedLikeTheDecoder(Preview, bytes, bytes.size(), kept, at);
    Preview.Finish();
    ASSERT_TRUE(Slot.Bitmap);
    EXPECT_EQ(Preview.RowsDone(), 240);
}

}  // namespace
}  // namespace zorvex::test
