#include "image/loader.h"

#include "image/jpegload.h"
#include "image/output.h"
#include "image/rowreader.h"
#include "library/fileio.h"

namespace zorvex {

namespace {

constexpr size_t JPEG_BLOCK = 16384;
constexpr size_t OTHER_BLOCK = 4096;

}  // namespace

int LoadPictureNow(const std::string& path, int width, int height, uint32_t flags,
                   std::string_view key, TPictureKeyring& keyring, TPicture& picture,
                   TPicReport* report) {
    TPicReport own;
    TPicReport& r = report ? *report : own;
    r = TPicReport{};
    picture.Bitmap.reset();
    picture.Path = path;
    picture.RequestedWidth = width;
    picture.RequestedHeight = height;
    picture.Flags = flags;
    picture.Width = picture.Height = 0;
    picture.ScaleNum = picture.ScaleDenom = 1;
    picture.HasTransparent = false;
    picture.Encrypted = false;
    if (IsReservedDeviceName(path)) {
        r.Fail(PIC_CANNOT_OPEN);
        return r.Error.Code;
    }
    const TPictureKind kind = PictureKindOf(path);
    std::unique_ptr<TPictureCipher> cipher = keyring.CipherFor(key);
    TFilePictureSource source(kind == TPictureKind::JPEG ? JPEG_BLOCK : OTHER_BLOCK, cipher.get());
    if (!source.Open(path, r)) return r.Error.Code;
    picture.Encrypted = source.Encrypted();
    bool ok;
    if (kind == TPictureKind::JPEG) {
        ok = LoadJpegPicture(source, picture, r);
    } else {
        std::unique_ptr<TRowReader> reader = MakeRowReader(kind);
        ok = LoadRowPicture(*reader, source, picture, r);
    }
    if (!ok) {
        picture.Bitmap.reset();
        if (r.Error.Code == PIC_OK) r.Fail(PIC_INPUT_EOF);
    }
    return r.Error.Code;
}

TPictureLoader::TPictureLoader(TPictureKeyring& keyring) : Keyring(keyring) {}

TPictureLoader::~TPictureLoader() {
    if (!Worker.joinable()) return;
    Free.acquire();  // a look-ahead in flight ends first
    Asked = TRequest{};
    Asked.Stop = true;
    Request.release();
    Worker.join();
}

void TPictureLoader::StartThread() {
    if (!Worker.joinable()) Worker = std::thread([this] { Run(); });
}

int TPictureLoader::Load(const std::string& path, int width, int height, TPicture& picture,
                         uint32_t flags, std::string_view key, TPicReport* report) {
    StartThread();
    Free.acquire();
    Asked = TRequest{path, width, height, flags, std::string(key), true, false};
    Request.release();
    Done.acquire();
    // The caller takes the record with its bitmap; the slot forgets it.
    const bool modified = picture.Modified;
    picture = std::move(Result);
    picture.Modified = modified;
    picture.Evicted = false;
    int code = ResultCode;
    if (report) *report = ResultReport;
    Free.release();
    return code;
}

void TPictureLoader::Preload(const std::string& path, int width, int height, uint32_t flags,
                             std::string_view key) {
    StartThread();
    if (!Free.try_acquire()) return;
    Asked = TRequest{path, width, height, flags, std::string(key), false, false};
    Request.release();
}

void TPictureLoader::Run() {
    for (;;) {
        Request.acquire();
        if (Asked.Stop) return;
        const bool same = Result.Bitmap && Result.Path == Asked.Path &&
                          Result.Flags == Asked.Flags && Result.RequestedWidth == Asked.Width &&
                          Result.RequestedHeight == Asked.Height;
        if (!same) {
            ResultCode = LoadPictureNow(Asked.Path, Asked.Width, Asked.Height, Asked.Flags,
                                        Asked.Key, Keyring, Result, &ResultReport);
            ++Reads;
        }
        if (Asked.Waits)
            Done.release();
        else
            Free.release();
    }
}

}  // namespace zorvex
