// glyphs: text drawn onto our RGB bitmaps. The face is the one fontconfig
// matches for a settings font record, rendered by FreeType; no display is
// needed. Text is bytes: UTF-8 where it is valid, any other byte taken as
// a Latin-1 character, so a hostile name still draws and never fails.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/picture.h"
#include "library/logfont.h"

namespace zorvex {

// The family used when a record names none.
constexpr const char* DEFAULT_FONT_FAMILY = "DejaVu Sans";
// The line height of a record whose height is 0, as the desktop's system font.
constexpr int DEFAULT_FONT_LINE = 16;
// Sizes beyond this are taken as this many pixels.
constexpr int FONT_PIXELS_MAX = 512;

// A rectangle of a bitmap: Left and Top inside, Right and Bottom just outside.
struct TPixelRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// A colour as the settings file keeps it: red + green * 256 + blue * 65536.
inline uint8_t RedOf(uint32_t color) {
    return color & 0xFF;
}
inline uint8_t GreenOf(uint32_t color) {
    return (color >> 8) & 0xFF;
}
inline uint8_t BlueOf(uint32_t color) {
    return (color >> 16) & 0xFF;
}

class TGlyphFont {
  public:
    // The face fontconfig matches for the record: the family from the face
    // name (DEFAULT_FONT_FAMILY when empty), bold from a weight of 600 or
    // more, italic; the size from the height in pixels: below 0 the em
    // size, above 0 the line height, 0 DEFAULT_FONT_LINE. Null, with the
    // reason in error, when no face can be opened.
    static std::unique_ptr<TGlyphFont> Open(const TLogFont& font, std::string* error);
    ~TGlyphFont();
    TGlyphFont(const TGlyphFont&) = delete;
    TGlyphFont& operator=(const TGlyphFont&) = delete;

    // The font file fontconfig chose.
    const std::string& FilePath() const;
    // The height of one line and, within it, of the part above the baseline.
    int LineHeight() const;
    int Ascent() const;
    // The advance of the text in pixels.
    int TextWidth(std::string_view text) const;
    // Draws one line with its top at y, starting at x: only the glyphs'
    // coverage is blended in color; pixels outside clip and outside the
    // bitmap are left alone.
    void Draw(TBitmap& page, int x, int y, std::string_view text, uint32_t color,
              const TPixelRect& clip) const;

  private:
    struct TImpl;
    explicit TGlyphFont(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> Impl;
};

// Breaks text into lines no wider than width: at blanks, and a word wider
// than width where it no longer fits (never inside a UTF-8 character, and
// each line holds at least one character). Blanks at a break are dropped.
// Empty text gives no lines.
std::vector<std::string> WrapText(std::string_view text, int width,
                                  const std::function<int(std::string_view)>& measure);

}  // namespace zorvex
