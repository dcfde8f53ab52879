// Any bytes as a catalog header and as a picture's title: expanded, wrapped
// to a width taken from the input and drawn anywhere on a small page, clipped
// to a rectangle. No line may be wider than the width unless it holds one
// character, and nothing may be painted outside the clip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "image/catalog.h"
#include "image/glyphs.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Characters of a UTF-8 or Latin-1 line, enough to tell one from more.
bool MoreThanOneCharacter(std::string_view line) {
    if (line.size() <= 1) return false;
    auto lead = static_cast<unsigned char>(line[0]);
    size_t first = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return line.size() > first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<zorvex::TGlyphFont> font = [] {
        std::string error;
        auto opened = zorvex::TGlyphFont::Open(zorvex::TLogFont{}, &error);
        if (!opened) std::abort();
        return opened;
    }();
    if (size < 6) return 0;
    const int width = data[0] * 4 - 20;
    const int x = static_cast<int8_t>(data[1]) * 2, y = static_cast<int8_t>(data[2]);
    zorvex::TPixelRect clip{data[3] % 64, data[4] % 32, data[3] % 64 + data[5] % 128, 40};
    std::string_view text(reinterpret_cast<const char*>(data + 6), size - 6);

    zorvex::TCatalogTextFacts facts{data[0], data[1], "/out/cat001.jpg",
                                    "/out/", "/in/",  "12/11/26"};
    std::string expanded = zorvex::ExpandCatalogText(text, facts);
    auto lines =
        zorvex::WrapText(expanded, width, [](std::string_view s) { return font->TextWidth(s); });

    zorvex::TBitmap page;
    page.Width = 160;
    page.Height = 40;
    page.Pixels.assign(size_t(page.Width) * page.Height * 3, 192);
    int top = y;
    for (const std::string& line : lines) {
        Check(!line.empty());
        if (MoreThanOneCharacter(line)) Check(font->TextWidth(line) <= width);
        font->Draw(page, x, top, line, 0x0000FF, clip);
        top += font->LineHeight();
    }
    font->Draw(page, x, y, text, 0xFF0000, clip);
    for (int py = 0; py < page.Height; ++py)
        for (int px = 0; px < page.Width; ++px) {
            bool inside = px >= clip.Left && px < clip.Right && py >= clip.Top && py < clip.Bottom;
            if (inside) continue;
            const uint8_t* p = page.Row(py) + px * 3;
            Check(p[0] == 192 && p[1] == 192 && p[2] == 192);
        }
    return 0;
}
