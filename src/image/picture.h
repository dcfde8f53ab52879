// picture: one loaded picture as the viewer windows, the index and the
// catalog pages take it (its record and RGB bitmap), the load flags, and
// the message codes a load ends with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorvex {

// Load flags.
constexpr uint32_t LOAD_GRAYSCALE = 0x01;
constexpr uint32_t LOAD_QUANTIZE = 0x02;         // at most 256 colours
constexpr uint32_t LOAD_REDUCE = 0x04;           // halve (to 1/8) until it fits the box
constexpr uint32_t LOAD_REDUCE_ONE_LESS = 0x08;  // with LOAD_REDUCE: undo one halving
constexpr uint32_t LOAD_NO_QUANTIZE = 0x40;
constexpr uint32_t LOAD_GIVEN_MAP = 0x80;   // quantise to a given map, not one of the picture's
constexpr uint32_t LOAD_INDEX_MAP = 0x100;  // with LOAD_GIVEN_MAP: the index window's map

// Message codes. 0 is success; the others name a text (PictureMessageText).
constexpr int PIC_OK = 0;
constexpr int PIC_EMPTY_FILE = 39;    // "Empty input file"
constexpr int PIC_INPUT_EOF = 40;     // "Premature end of input file"
constexpr int PIC_JPEG_EOF = 114;     // warning: "Premature end of JPEG file"
constexpr int PIC_BAD_KEY = 118;      // "Invalid encryption key"
constexpr int PIC_CANNOT_OPEN = 119;  // the file cannot be opened
constexpr int PIC_BMP_BADCMAP = 200;
constexpr int PIC_BMP_BADDEPTH = 201;
constexpr int PIC_BMP_BADHEADER = 202;
constexpr int PIC_BMP_BADPLANES = 203;
constexpr int PIC_BMP_COMPRESSED = 204;
constexpr int PIC_BMP_NOT = 205;
constexpr int PIC_GIF_CODESIZE = 212;  // param: the code size
constexpr int PIC_GIF_IMAGENOTFOUND = 213;
constexpr int PIC_GIF_NOT = 216;
constexpr int PIC_GIF_BADDATA = 217;     // warning
constexpr int PIC_GIF_BADVERSION = 218;  // warning
constexpr int PIC_GIF_CHAR = 219;        // warning; param: the character
constexpr int PIC_GIF_ASPECT = 220;      // warning; param: the aspect byte
constexpr int PIC_GIF_ENDCODE = 221;     // warning
constexpr int PIC_GIF_NOMOREDATA = 222;  // warning
constexpr int PIC_TGA_BADCMAP = 225;     // no text
constexpr int PIC_TGA_BADPARMS = 226;    // no text
constexpr int PIC_FITS_BITPIX = 236;
constexpr int PIC_FITS_NAXIS1 = 237;
constexpr int PIC_FITS_NAXIS2 = 238;
constexpr int PIC_FITS_BZERO = 239;
constexpr int PIC_FITS_BADCARD = 240;
constexpr int PIC_FITS_EOF = 241;
constexpr int PIC_FITS_BADBITPIX = 242;  // param: BITPIX
constexpr int PIC_TOO_LARGE = 250;       // params: width (Param), height (Param2)
// libjpeg's own codes are reported as JPEG_CODE_BASE + its code, with its
// own text, so that they never meet ours.
constexpr int JPEG_CODE_BASE = 1000;

// No side may exceed this, nor the picture this many pixels: a hostile
// header must not make a load allocate gigabytes.
constexpr int MAX_PICTURE_SIDE = 32768;
constexpr int64_t MAX_PICTURE_PIXELS = int64_t{1} << 26;

struct TPicMessage {
    int Code = PIC_OK;
    long Param = 0;
    long Param2 = 0;
    std::string Text;  // libjpeg's own text for its codes; empty for ours
};

// What a load said besides its result: its warnings in order, and the
// error that ended it (Code PIC_OK when none did).
struct TPicReport {
    std::vector<TPicMessage> Warnings;
    TPicMessage Error;
    bool Fail(int code, long param = 0, long param2 = 0) {
        Error.Code = code;
        Error.Param = param;
        Error.Param2 = param2;
        return false;
    }
    void Warn(int code, long param = 0) {
        TPicMessage m;
        m.Code = code;
        m.Param = param;
        Warnings.push_back(m);
    }
};

// The text of a code: "Jpeg Error (PATH): " (or "(unnamed image)") and the
// message, or "unknown jpeg error #N" for a code without one.
std::string PictureMessageText(const std::string& path, const TPicMessage& message);

// A decoded picture: RGB, three bytes a pixel, rows top-down and packed.
// A grayscale picture has equal components.
struct TBitmap {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
    uint8_t* Row(int y) { return Pixels.data() + static_cast<size_t>(y) * Width * 3; }
    const uint8_t* Row(int y) const { return Pixels.data() + static_cast<size_t>(y) * Width * 3; }
};

struct TPicture {
    std::string Path;
    int RequestedWidth = 0, RequestedHeight = 0;
    uint32_t Flags = 0;
    int Width = 0, Height = 0;  // in the file
    int ScaleNum = 1, ScaleDenom = 1;
    bool HasTransparent = false;
    uint8_t Transparent[4] = {0, 0, 0, 0};  // blue, green, red, 0
    bool Encrypted = false;
    std::unique_ptr<TBitmap> Bitmap;
    // Cache bookkeeping.
    bool Evicted = false;
    bool Modified = false;
};

}  // namespace zorvex
