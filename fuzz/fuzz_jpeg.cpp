// Any bytes as a JPEG file, the first byte choosing the load flags (gray,
// quantising to a map of its own, the fixed or the index map, reduction to
// one of two boxes). A load never crashes; a failed one leaves no bitmap
// and names its error; a good one has the scaled size and keeps to the
// flags' promises (equal components, at most 256 colours, map colours).
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "image/jpegload.h"
#include "image/output.h"
#include "picture_fuzz.h"

namespace {

using namespace zorvex;
using namespace zorvex::fuzz;

const TColorMap& IndexMap() {
    static const TColorMap map = [] {
        TColorMap m;
        for (int i = 0; i < 24; ++i)
            m.push_back({static_cast<uint8_t>(i * 11), static_cast<uint8_t>(255 - i * 7),
                         static_cast<uint8_t>(i * 37 % 256)});
        SetIndexColorMap(m);
        return m;
    }();
    return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const TColorMap& index = IndexMap();
    TPicture picture = PictureAskedBy(data[0]);
    TMemoryPictureSource source(FileAfterFlags(data, size));
    TPicReport report;
    const bool ok = LoadJpegPicture(source, picture, report);
    if (!ok) {
        Check(report.Error.Code != PIC_OK && !picture.Bitmap);
        return 0;
    }
    Check(picture.Bitmap != nullptr);
    const TBitmap& b = *picture.Bitmap;
    const int denom = picture.ScaleDenom;
    Check(denom == ChooseScaleDenom(picture.Width, picture.Height, picture.RequestedWidth,
                                    picture.RequestedHeight, picture.Flags));
    Check(b.Width == (picture.Width + denom - 1) / denom);
    Check(b.Height == (picture.Height + denom - 1) / denom);
    Check(b.Pixels.size() == static_cast<size_t>(b.Width) * b.Height * 3);
    if (b.Pixels.size() > (size_t{3} << 16)) return 0;  // the checks below are slow

    const bool quantized = QuantizeWanted(picture.Flags);
    const bool given = quantized && (picture.Flags & LOAD_GIVEN_MAP);
    const TColorMap& map = (picture.Flags & LOAD_INDEX_MAP) ? index : FixedColorMap();
    const std::set<std::array<uint8_t, 3>> allowed(map.begin(), map.end());
    std::set<std::array<uint8_t, 3>> colors;
    for (size_t i = 0; i < b.Pixels.size(); i += 3) {
        const std::array<uint8_t, 3> c = {b.Pixels[i], b.Pixels[i + 1], b.Pixels[i + 2]};
        if ((picture.Flags & LOAD_GRAYSCALE) && !given) Check(c[0] == c[1] && c[0] == c[2]);
        if (given) Check(allowed.count(c) == 1);
        colors.insert(c);
    }
    if (quantized) Check(colors.size() <= 256);
    return 0;
}
