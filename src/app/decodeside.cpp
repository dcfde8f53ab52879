#include "app/decodeside.h"

#include <utility>

#include "app/view.h"
#include "decode/crypt.h"

namespace zorvex {

bool TPlugInsAndPreview::PreviewStart(const std::string& path) {
    int width = 0, height = 0;
    if (!View.PicturePane(&width, &height)) return false;
    std::swap(Slots.Current, Slots.Previous);
    Preview.Start(Slots.Current, path, width, height);
    View.PictureChanged(Slots.Current);
    return true;
}

size_t TPlugInsAndPreview::PreviewFeed(const uint8_t* bytes, size_t length) {
    size_t taken = Preview.Feed(bytes, length);
    View.PictureChanged(Slots.Current);
    return taken;
}

void TPlugInsAndPreview::PreviewFinish() {
    Preview.Finish();
    View.PictureChanged(Slots.Current);
}

namespace {

class TFileCipher final : public TPictureCipher {
  public:
    explicit TFileCipher(std::string_view key) : Key(key) {}
    int ReadHeader(const uint8_t* bytes, size_t count) override {
        return CryptReadHeader(State, Key, bytes, count);
    }
    void Decrypt(uint8_t* bytes, size_t count) override { CryptDecrypt(State, bytes, count); }

  private:
    std::string Key;
    CryptState State;
};

}  // namespace

std::unique_ptr<TPictureCipher> TViewerKeyring::CipherFor(std::string_view key) {
    return std::make_unique<TFileCipher>(key);
}

}  // namespace zorvex
