// decodeside: what the decoder hands on while it writes a file: every
// uu/xx/yEnc file to the plug-ins, and each new JPEG to the live preview in
// the Current image slot (the slots swap first, so Previous keeps the
// picture before it) when the view has a picture pane.
#pragma once

#include <string>

#include "decode/ncdc.h"
#include "image/loader.h"
#include "image/picture.h"
#include "image/preview.h"
#include "image/source.h"
#include "plugin/plugins.h"

namespace zorvex {

class TNewsView;

// The two image slots: the picture being received and the one before it.
struct TImageSlots {
    TPicture Current;
    TPicture Previous;
};

class TPlugInsAndPreview final : public TDecodeObservers {
  public:
    TPlugInsAndPreview(TPlugIns& plugIns, TImageSlots& slots, TNewsView& view)
        : PlugIns(plugIns), Slots(slots), View(view) {}
    void PlugInFile(const std::string& path) override { PlugIns.File(path); }
    void PlugInFileBuffer(const uint8_t* bytes, size_t length) override {
        PlugIns.FileBuffer(bytes, length);
    }
    void PlugInFileDone(int64_t length) override { PlugIns.FileDone(length); }
    bool PreviewStart(const std::string& path) override;
    size_t PreviewFeed(const uint8_t* bytes, size_t length) override;
    void PreviewFinish() override;

  private:
    TPlugIns& PlugIns;
    TImageSlots& Slots;
    TNewsView& View;
    TJpegPreview Preview;
};

// The viewer's files enciphered with the program's file cipher.
class TViewerKeyring final : public TPictureKeyring {
  public:
    std::unique_ptr<TPictureCipher> CipherFor(std::string_view key) override;
};

}  // namespace zorvex
