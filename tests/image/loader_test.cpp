// Loading pictures: the reader chosen by the extension, reserved device
// names, enciphered files with the right and the wrong key, and the
// loader thread's look-ahead that a following load takes over.
#include "image/loader.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "app/decodeside.h"
#include "decode/cryptfiles.h"
#include "library/fileio.h"
#include "support/picture_files.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Dir.Path().empty());
        Rgb = Photo(64, 48, 3);
    }
    std::string Jpeg(const std::string& name) {
        WriteJpeg(Dir.File(name), 64, 48, Rgb, 95);
        return Dir.File(name);
    }
    std::string Bmp(const std::string& name) {
        WriteBmp(Dir.File(name), 64, 48, Rgb);
        return Dir.File(name);
    }
    int Load(const std::string& path, TPicture& picture, std::string_view key = "",
             uint32_t flags = 0, int box = 0) {
        return LoadPictureNow(path, box, box, flags, key, Keys, picture, &Report);
    }
    static void Encipher(const std::string& path, const std::string& key) {
        TFileCryptJob job(TFileCryptJob::ENCRYPT, key, {path});
        ASSERT_NE(job.Step().find("Success!"), std::string::npos);
    }

    TTempDir Dir;
    std::vector<uint8_t> Rgb;
    TViewerKeyring Keys;
    TPicReport Report;
};

TEST_F(LoaderTest, TheExtensionChoosesTheReader) {
    TPicture picture;
    ASSERT_EQ(Load(Bmp("p.BMP"), picture), PIC_OK);
    ASSERT_TRUE(picture.Bitmap);
    EXPECT_EQ(picture.Bitmap->Pixels, Rgb) << "a 24-bit BMP is exact";
    EXPECT_EQ(picture.Width, 64);
    EXPECT_FALSE(picture.Encrypted);

    // The same bytes under a JPEG name go to the JPEG reader, which refuses
    // them with libjpeg's own code and text.
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(Dir.File("p.BMP"), &bytes));
    ASSERT_TRUE(ReplaceFileAtomically(Dir.File("p.jpg"), bytes, nullptr));
    EXPECT_GE(Load(Dir.File("p.jpg"), picture), JPEG_CODE_BASE);
    EXPECT_FALSE(picture.Bitmap);
    EXPECT_FALSE(Report.Error.Text.empty());

    ASSERT_TRUE(ReplaceFileAtomically(Dir.File("e.jpg"), "", nullptr));
    EXPECT_EQ(Load(Dir.File("e.jpg"), picture), PIC_EMPTY_FILE);
    ASSERT_TRUE(ReplaceFileAtomically(Dir.File("e.bmp"), "", nullptr));
    EXPECT_EQ(Load(Dir.File("e.bmp"), picture), PIC_INPUT_EOF);
    EXPECT_EQ(Load(Dir.File("missing.jpg"), picture), PIC_CANNOT_OPEN);

    // FITS files are named either way.
    for (const char* name : {"sky.fts", "sky.FITS"}) {
        ASSERT_TRUE(ReadWholeFile(ZORVEX_TEST_DATA "/images/fits/bitpix8.fts", &bytes));
        ASSERT_TRUE(ReplaceFileAtomically(Dir.File(name), bytes, nullptr));
        EXPECT_EQ(Load(Dir.File(name), picture), PIC_OK) << name;
    }
    EXPECT_EQ(PictureMessageText(Dir.File("e.jpg"), TPicMessage{PIC_EMPTY_FILE, 0, 0, ""}),
              "Jpeg Error (" + Dir.File("e.jpg") + "): Empty input file");
}

TEST_F(LoaderTest, ReservedDeviceNamesAreNeverLoaded) {
    struct {
        const char* Name;
        bool Reserved;
    } cases[] = {{"con.jpg", true},     {"CON.JPG", true},   {"nul.gif", true},
                 {"com1.bmp", true},    {"lpt3.tga", true},  {"aux", true},
                 {"icon.jpg", false},   {"con1.jpg", false}, {"console.jpg", false},
                 {"con.d/a.jpg", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsReservedDeviceName(Dir.File(c.Name)), c.Reserved) << c.Name;
        if (!c.Reserved) continue;
        // Even a good picture under such a name is not read.
        WriteJpeg(Dir.File("con.jpg"), 64, 48, Rgb);
        TPicture picture;
        EXPECT_EQ(Load(Dir.File("con.jpg"), picture), PIC_CANNOT_OPEN);
        EXPECT_FALSE(picture.Bitmap);
    }
}

TEST_F(LoaderTest, EncipheredPicturesNeedTheirKey) {
    for (const std::string& path : {Jpeg("photo.jpg"), Bmp("photo.bmp")}) {
        SCOPED_TRACE(path);
        TPicture plain;
        ASSERT_EQ(Load(path, plain), PIC_OK);
        Encipher(path, "secret");

        TPicture right;
        ASSERT_EQ(Load(path, right, "secret"), PIC_OK);
        EXPECT_TRUE(right.Encrypted);
        ASSERT_TRUE(right.Bitmap);
        EXPECT_EQ(right.Bitmap->Pixels, plain.Bitmap->Pixels);

        TPicture wrong;
        EXPECT_EQ(Load(path, wrong, "guess"), PIC_BAD_KEY);
        EXPECT_FALSE(wrong.Bitmap) << "decoded under a wrong key";
        EXPECT_EQ(PictureMessageText("", Report.Error),
                  "Jpeg Error (unnamed image): Invalid encryption key");
    }
}

// Holds the loader thread inside a load until the test lets it go.
class TGate final : public TPictureKeyring {
  public:
    std::unique_ptr<TPictureCipher> CipherFor(std::string_view) override {
        std::unique_lock<std::mutex> lock(Lock);
        ++Entered;
        Changed.notify_all();
        Changed.wait(lock, [this] { return Open; });
        return nullptr;
    }
    void WaitEntered(int n) {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait(lock, [&] { return Entered >= n; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(Lock);
        Open = true;
        Changed.notify_all();
    }

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    int Entered = 0;
    bool Open = false;
};

TEST_F(LoaderTest, ALoadAfterItsLookAheadDoesNotReadTheFileAgain) {
    const std::string a = Jpeg("a.jpg"), b = Bmp("b.bmp");
    TPictureLoader loader;
    loader.Preload(a, 32, 32, LOAD_REDUCE, "");
    TPicture picture;
    ASSERT_EQ(loader.Load(a, 32, 32, picture, LOAD_REDUCE, ""), PIC_OK);
    EXPECT_EQ(loader.FilesRead(), 1u);
    ASSERT_TRUE(picture.Bitmap);
    EXPECT_EQ(picture.ScaleDenom, 2);
    EXPECT_EQ(picture.Bitmap->Width, 32);

    // The bitmap went to the caller: the same request reads again, and so
    // does one with other flags or another box.
    ASSERT_EQ(loader.Load(a, 32, 32, picture, LOAD_REDUCE, ""), PIC_OK);
    EXPECT_EQ(loader.FilesRead(), 2u);
    loader.Preload(a, 32, 32, LOAD_REDUCE, "");
    ASSERT_EQ(loader.Load(a, 32, 32, picture, LOAD_REDUCE | LOAD_GRAYSCALE, ""), PIC_OK);
    EXPECT_EQ(loader.FilesRead(), 4u);
    ASSERT_EQ(loader.Load(b, 0, 0, picture, 0, ""), PIC_OK);
    EXPECT_EQ(picture.Bitmap->Pixels, Rgb);
}

TEST_F(LoaderTest, ALookAheadWhileTheThreadIsBusyIsDropped) {
    const std::string a = Jpeg("a.jpg"), b = Bmp("b.bmp");
    TGate gate;
    TPictureLoader loader(gate);
    loader.Preload(a, 0, 0, 0, "");
    gate.WaitEntered(1);
    loader.Preload(b, 0, 0, 0, "");  // busy: dropped
    gate.Release();
    TPicture picture;
    ASSERT_EQ(loader.Load(a, 0, 0, picture, 0, ""), PIC_OK);
    EXPECT_EQ(loader.FilesRead(), 1u);
    ASSERT_EQ(loader.Load(b, 0, 0, picture, 0, ""), PIC_OK);
    EXPECT_EQ(loader.FilesRead(), 2u) << "the dropped look-ahead was loaded after all";
}

}  // namespace
}  // namespace zorvex::test
