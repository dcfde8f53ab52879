#include "image/glyphs.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <climits>
#include <unordered_map>

namespace zorvex {

namespace {

// Used when fontconfig matches nothing FreeType can open; fonts-dejavu-core
// puts it here on every machine we run on.
constexpr const char* FALLBACK_FONT_FILE = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A hostile text can name every code point; past this the cache starts over.
constexpr size_t GLYPH_CACHE_MAX = 4096;

// One character of a text and the bytes it takes.
struct TChar {
    char32_t Code;
    size_t Length;
};

// UTF-8 where the sequence at pos is valid (no overlongs, surrogates or
// code points past U+10FFFF), otherwise the byte at pos as Latin-1.
TChar NextChar(std::string_view text, size_t pos) {
    const auto byteAt = [text](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byteAt(pos);
    const TChar latin1{lead, 1};
    if (lead < 0x80) return latin1;
    size_t follow = 0;
    char32_t code = 0;
    // The range of the first continuation byte is what rules out overlongs,
    // surrogates and values beyond U+10FFFF.
    uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return latin1;
    }
    if (text.size() - pos <= follow) return latin1;
    for (size_t i = 1; i <= follow; ++i) {
        const uint8_t b = byteAt(pos + i);
        if (b < low || b > high) return latin1;
        low = 0x80;
        high = 0xBF;
        code = (code << 6) | (b & 0x3F);
    }
    return {code, follow + 1};
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// fontconfig wants UTF-8; a face name from an old settings file may be
// Latin-1, or padded with NULs after the name.
std::string FamilyOf(const std::string& faceName) {
    const std::string_view name(faceName.data(), std::min(faceName.find('\0'), faceName.size()));
    if (name.empty()) return DEFAULT_FONT_FAMILY;
    std::string family;
    for (size_t pos = 0; pos < name.size();) {
        const TChar c = NextChar(name, pos);
        AppendUtf8(family, c.Code);
        pos += c.Length;
    }
    return family;
}

// Loaded once for the process, thread-safely as a C++ static, and freed at
// its exit: LeakSanitizer cannot follow what a live configuration holds.
// Fonts are opened while the program runs, never from its exit handlers.
struct TFontConfig {
    FcConfig* Config = FcInitLoadConfigAndFonts();
    ~TFontConfig() {
        if (Config) FcConfigDestroy(Config);
    }
};

// Null when fontconfig cannot load its configuration.
FcConfig* FontConfig() {
    static TFontConfig loaded;
    return loaded.Config;
}

struct TMatch {
    std::string File;
    int Index = 0;
};

TMatch MatchFont(const std::string& family, bool bold, bool italic) {
    TMatch found;
    FcConfig* config = FontConfig();
    if (!config) return found;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return found;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (bold) FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_BOLD);
    if (italic) FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ITALIC);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return found;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
        found.File = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) found.Index = index;
    FcPatternDestroy(match);
    return found;
}

int RoundPixels(FT_Pos value) {
    return static_cast<int>((value + 32) >> 6);
}

}  // namespace

// The face and its cache are changed by every call, const ones too: one
// object is for one thread at a time. Each has its own FT_Library, so
// objects on different threads share nothing.
struct TGlyphFont::TImpl {
    struct TGlyph {
        FT_UInt Index = 0;
        FT_Pos Advance = 0;  // 26.6
    };

    FT_Library Library = nullptr;
    FT_Face Face = nullptr;
    std::string Path;
    int Line = 1, Above = 0;
    // How far any glyph's ink reaches left and right of its origin, in
    // pixels: glyphs farther than that from the clip are not rendered.
    int64_t ReachLeft = 0, ReachRight = 0;
    std::unordered_map<char32_t, TGlyph> Glyphs;

    ~TImpl() {
        if (Face) FT_Done_Face(Face);
        if (Library) FT_Done_FreeType(Library);
    }

    bool Load(const std::string& file, int index, const TLogFont& font, std::string* why);
    bool SetSize(const TLogFont& font);
    void Measure();
    TGlyph Glyph(char32_t code);
};

bool TGlyphFont::TImpl::Load(const std::string& file, int index, const TLogFont& font,
                             std::string* why) {
    if (Face) {
        FT_Done_Face(Face);
        Face = nullptr;
    }
    Glyphs.clear();
    FT_Error failed = FT_New_Face(Library, file.c_str(), index, &Face);
    if (failed) {
        Face = nullptr;
        *why = file + " cannot be opened (FreeType error " + std::to_string(failed) + ")";
        return false;
    }
    if (!SetSize(font)) {
        *why = file + " has no usable size";
        return false;
    }
    Path = file;
    return true;
}

bool TGlyphFont::TImpl::SetSize(const TLogFont& font) {
    const int64_t height = font.Height;
    // Below 0 the em size, above 0 the line height.
    const bool emSize = height < 0;
    const int target = static_cast<int>(std::clamp<int64_t>(
        height == 0 ? DEFAULT_FONT_LINE : (emSize ? -height : height), 1, FONT_PIXELS_MAX));

    if (!FT_IS_SCALABLE(Face)) {
        if (Face->num_fixed_sizes <= 0) return false;
        int best = 0;
        int64_t bestOff = INT64_MAX;
        for (int i = 0; i < Face->num_fixed_sizes; ++i) {
            const FT_Bitmap_Size& size = Face->available_sizes[i];
            const int64_t have = emSize ? RoundPixels(size.y_ppem) : size.height;
            const int64_t off = have > target ? have - target : target - have;
            if (off < bestOff) {
                bestOff = off;
                best = i;
            }
        }
        if (FT_Select_Size(Face, best)) return false;
        Measure();
        return true;
    }

    const auto setEm = [this](int em) {
        if (FT_Set_Pixel_Sizes(Face, 0, static_cast<FT_UInt>(em))) return false;
        Measure();
        return true;
    };
    if (emSize) return setEm(target);

    // The em size whose ascent plus descent is the line height: estimated
    // from the design units, then stepped, since hinting rounds each size.
    const int64_t span = int64_t{Face->ascender} - Face->descender;
    int em = target;
    if (span > 0 && Face->units_per_EM > 0)
        em = static_cast<int>(std::clamp<int64_t>(
            (int64_t{target} * Face->units_per_EM + span / 2) / span, 1, FONT_PIXELS_MAX));
    // A few steps are enough for any sane face; a face whose metrics do
    // not grow with the size stops there.
    constexpr int STEPS_MAX = 16;
    if (!setEm(em)) return false;
    for (int step = 0; step < STEPS_MAX && em > 1 && Line > target; ++step)
        if (!setEm(--em)) return false;
    for (int step = 0; step < STEPS_MAX && em < FONT_PIXELS_MAX && Line < target; ++step) {
        if (!setEm(em + 1)) return false;
        if (Line > target) return setEm(em);
        ++em;
    }
    return true;
}

void TGlyphFont::TImpl::Measure() {
    const FT_Size_Metrics& metrics = Face->size->metrics;
    Above = std::max(0, RoundPixels(metrics.ascender));
    const int below = std::max(0, RoundPixels(-metrics.descender));
    Line = std::max(1, Above + below);
    const int em = std::max<int>(1, metrics.y_ppem);
    if (FT_IS_SCALABLE(Face)) {
        // The face's box, plus a little for hinting.
        ReachLeft = std::max<int64_t>(0, -RoundPixels(FT_MulFix(Face->bbox.xMin, metrics.x_scale)));
        ReachRight = std::max<int64_t>(0, RoundPixels(FT_MulFix(Face->bbox.xMax, metrics.x_scale)));
        ReachLeft += 2;
        ReachRight += 2;
    } else {
        ReachLeft = ReachRight = 4 * int64_t{em};
    }
    Glyphs.clear();
}

TGlyphFont::TImpl::TGlyph TGlyphFont::TImpl::Glyph(char32_t code) {
    const auto known = Glyphs.find(code);
    if (known != Glyphs.end()) return known->second;
    if (Glyphs.size() >= GLYPH_CACHE_MAX) Glyphs.clear();
    // Index 0 is the face's .notdef, which is what a missing character shows.
    TGlyph glyph;
    glyph.Index = FT_Get_Char_Index(Face, code);
    // The advance as Draw's rendering load gives it, so that widths and
    // drawing agree.
    if (FT_Load_Glyph(Face, glyph.Index, FT_LOAD_DEFAULT) == 0)
        glyph.Advance = std::max<FT_Pos>(0, Face->glyph->advance.x);
    Glyphs.emplace(code, glyph);
    return glyph;
}

TGlyphFont::TGlyphFont(std::unique_ptr<TImpl> impl) : Impl(std::move(impl)) {}

TGlyphFont::~TGlyphFont() = default;

std::unique_ptr<TGlyphFont> TGlyphFont::Open(const TLogFont& font, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const std::string family = FamilyOf(font.FaceName);
    auto impl = std::make_unique<TImpl>();
    if (FT_Init_FreeType(&impl->Library)) {
        impl->Library = nullptr;
        *error = "No font for \"" + family + "\": FreeType cannot start";
        return nullptr;
    }
    const TMatch match = MatchFont(family, font.Weight >= 600, font.Italic != 0);
    std::string why = "fontconfig matched no font file";
    if (!match.File.empty() && impl->Load(match.File, match.Index, font, &why))
        return std::unique_ptr<TGlyphFont>(new TGlyphFont(std::move(impl)));
    std::string fallbackWhy;
    if (impl->Load(FALLBACK_FONT_FILE, 0, font, &fallbackWhy))
        return std::unique_ptr<TGlyphFont>(new TGlyphFont(std::move(impl)));
    *error = "No font for \"" + family + "\": " + why + ", and " + fallbackWhy;
    return nullptr;
}

const std::string& TGlyphFont::FilePath() const {
    return Impl->Path;
}

int TGlyphFont::LineHeight() const {
    return Impl->Line;
}

int TGlyphFont::Ascent() const {
    return Impl->Above;
}

int TGlyphFont::TextWidth(std::string_view text) const {
    int64_t width = 0;
    for (size_t pos = 0; pos < text.size();) {
        const TChar c = NextChar(text, pos);
        pos += c.Length;
        width += Impl->Glyph(c.Code).Advance;
    }
    return static_cast<int>(std::min<int64_t>(INT_MAX, (width + 32) >> 6));
}

namespace {

// Blends colour into the page by the coverage of one rendered glyph whose
// top left pixel is at (left, top), within the box [x0, x1) x [y0, y1).
void BlendGlyph(TBitmap& page, const FT_Bitmap& glyph, int64_t left, int64_t top, int64_t x0,
                int64_t y0, int64_t x1, int64_t y1, uint32_t color) {
    if (!glyph.buffer) return;
    int levels = 0;
    if (glyph.pixel_mode == FT_PIXEL_MODE_GRAY)
        levels = glyph.num_grays > 1 ? glyph.num_grays - 1 : 255;
    else if (glyph.pixel_mode != FT_PIXEL_MODE_MONO)
        return;
    const int64_t rows = glyph.rows, width = glyph.width;
    const int64_t pitch = glyph.pitch < 0 ? -int64_t{glyph.pitch} : glyph.pitch;
    const int64_t rowFrom = std::max<int64_t>(0, y0 - top), rowTo = std::min(rows, y1 - top);
    const int64_t colFrom = std::max<int64_t>(0, x0 - left), colTo = std::min(width, x1 - left);
    const uint8_t ink[3] = {RedOf(color), GreenOf(color), BlueOf(color)};
    for (int64_t r = rowFrom; r < rowTo; ++r) {
        // A negative pitch stores the rows bottom up.
        const uint8_t* source = glyph.buffer + (glyph.pitch < 0 ? rows - 1 - r : r) * pitch;
        uint8_t* target = page.Row(static_cast<int>(top + r)) + (left + colFrom) * 3;
        for (int64_t c = colFrom; c < colTo; ++c, target += 3) {
            int coverage;
            if (levels)
                coverage = levels == 255 ? source[c] : source[c] * 255 / levels;
            else
                coverage = (source[c >> 3] >> (7 - (c & 7))) & 1 ? 255 : 0;
            if (coverage == 0) continue;
            for (int k = 0; k < 3; ++k)
                target[k] = static_cast<uint8_t>(
                    (target[k] * (255 - coverage) + ink[k] * coverage + 127) / 255);
        }
    }
}

}  // namespace

void TGlyphFont::Draw(TBitmap& page, int x, int y, std::string_view text, uint32_t color,
                      const TPixelRect& clip) const {
    if (text.empty() || page.Width <= 0 || page.Height <= 0) return;
    if (page.Pixels.size() / 3 / static_cast<size_t>(page.Width) < static_cast<size_t>(page.Height))
        return;
    const int64_t x0 = std::max(clip.Left, 0), y0 = std::max(clip.Top, 0);
    const int64_t x1 = std::min(clip.Right, page.Width), y1 = std::min(clip.Bottom, page.Height);
    if (x0 >= x1 || y0 >= y1) return;
    FT_Face face = Impl->Face;
    const int64_t baseline = int64_t{y} + Impl->Above;
    int64_t pen = int64_t{x} * 64;
    for (size_t pos = 0; pos < text.size();) {
        const TChar c = NextChar(text, pos);
        pos += c.Length;
        const TImpl::TGlyph glyph = Impl->Glyph(c.Code);
        const int64_t origin = (pen + 32) >> 6;
        pen += glyph.Advance;
        if (origin - Impl->ReachLeft >= x1) break;
        if (origin + Impl->ReachRight < x0) continue;
        if (FT_Load_Glyph(face, glyph.Index, FT_LOAD_RENDER)) continue;
        const FT_GlyphSlot slot = face->glyph;
        BlendGlyph(page, slot->bitmap, origin + slot->bitmap_left, baseline - slot->bitmap_top, x0,
                   y0, x1, y1, color);
    }
}

std::vector<std::string> WrapText(std::string_view text, int width,
                                  const std::function<int(std::string_view)>& measure) {
    std::vector<std::string> lines;
    const size_t size = text.size();
    const auto skipBlanks = [&](size_t pos) {
        while (pos < size && text[pos] == ' ') ++pos;
        return pos;
    };
    const auto wordEnd = [&](size_t pos) {
        while (pos < size && text[pos] != ' ') ++pos;
        return pos;
    };
    // Lines neither start nor end with blanks, so a text of blanks alone
    // gives no lines.
    size_t start = skipBlanks(0);
    while (start < size) {
        // As many whole words as fit, with the blanks between them as written.
        size_t end = start;
        for (size_t word = start; word < size;) {
            const size_t after = wordEnd(word);
            if (measure(text.substr(start, after - start)) > width) break;
            end = after;
            word = skipBlanks(after);
        }
        if (end == start) {
            // The first word alone is too wide: it is cut where the next
            // character no longer fits, after one character at least.
            const size_t last = wordEnd(start);
            end = start + NextChar(text, start).Length;
            while (end < last) {
                const size_t next = end + NextChar(text, end).Length;
                if (measure(text.substr(start, next - start)) > width) break;
                end = next;
            }
        }
        lines.emplace_back(text.substr(start, end - start));
        start = skipBlanks(end);
    }
    return lines;
}

}  // namespace zorvex
