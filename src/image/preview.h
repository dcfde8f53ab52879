// preview: a JPEG shown while it is still being decoded from an article.
// The decoder hands over its bytes as they come; the decompressor takes
// what it can use and leaves the rest with the decoder until more has
// arrived. A picture that breaks ends its preview quietly: the file
// itself is the decoder's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/picture.h"

namespace zorvex {

class TJpegPreview {
  public:
    TJpegPreview();
    ~TJpegPreview();
    TJpegPreview(const TJpegPreview&) = delete;
    TJpegPreview& operator=(const TJpegPreview&) = delete;

    // Starts a picture into target (its bitmap is replaced once the header
    // is read), halved as often as needed (up to 1/8) to fit the pane.
    void Start(TPicture& target, const std::string& path, int paneWidth, int paneHeight);
    // Takes what it can from the front of bytes; returns how much.
    size_t Feed(const uint8_t* bytes, size_t length);
    // The file ended: completes the picture from what was given.
    void Finish();

    bool Active() const;
    // Rows of the bitmap filled so far.
    int RowsDone() const;

    // The decompressor and where it stands (its callbacks reach it).
    struct TState;

  private:
    std::unique_ptr<TState> State;
};

}  // namespace zorvex
