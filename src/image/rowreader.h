// rowreader: the readers of GIF, BMP, Targa and FITS files. Each reads its
// header, then hands out the picture one row at a time, top row first,
// 8-bit samples: one a pixel for grayscale, three (red, green, blue) for
// colour. The output stage makes the bitmap from the rows as it does from
// the JPEG decompressor's.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "image/picture.h"
#include "image/source.h"

namespace zorvex {

struct TRowImage {
    int Width = 0;
    int Height = 0;
    int Components = 3;  // 1 grayscale, 3 RGB
    bool HasTransparent = false;
    uint8_t TransparentRgb[3] = {0, 0, 0};
};

class TRowReader {
  public:
    virtual ~TRowReader() = default;
    // Reads the header: the size, the kind, the colour map. A side of 0
    // or beyond MAX_PICTURE_SIDE, or more than MAX_PICTURE_PIXELS, fails
    // with PIC_TOO_LARGE before anything is allocated for the picture.
    virtual bool Start(TPictureSource& source, TRowImage& image, TPicReport& report) = 0;
    // The next row: Width × Components bytes.
    virtual bool ReadRow(uint8_t* row, TPicReport& report) = 0;
};

enum class TPictureKind { JPEG, GIF, BMP, TARGA, FITS };

// By the extension: ".gif", ".bmp", ".tga", ".fts" or ".fits" (any case);
// anything else is JPEG.
TPictureKind PictureKindOf(std::string_view path);

// The reader for a kind other than JPEG.
std::unique_ptr<TRowReader> MakeRowReader(TPictureKind kind);

// True when a side or the pixel count is beyond the limits above.
bool PictureTooLarge(int64_t width, int64_t height);

}  // namespace zorvex
