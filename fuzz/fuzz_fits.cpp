// Any bytes as a FITS file, the first byte choosing the load flags as for
// JPEG, read by the FITS reader through the output stage. A load never
// crashes; a failed one leaves no bitmap; a good one has the reduced size
// and, unless mapped to colours, equal components.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "image/fitsread.h"
#include "image/output.h"

namespace {

using namespace zorvex;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

uint32_t FlagsOf(uint8_t b) {
    uint32_t flags = 0;
    if (b & 0x01) flags |= LOAD_GRAYSCALE;
    if (b & 0x02) flags |= LOAD_QUANTIZE;
    if (b & 0x04) flags |= LOAD_REDUCE;
    if (b & 0x08) flags |= LOAD_REDUCE_ONE_LESS;
    if (b & 0x10) flags |= LOAD_NO_QUANTIZE;
    if (b & 0x20) flags |= LOAD_GIVEN_MAP;
    return flags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    TPicture picture;
    picture.Flags = FlagsOf(data[0]);
    picture.RequestedWidth = data[0] & 0x80 ? 100 : 16;
    picture.RequestedHeight = data[0] & 0x80 ? 80 : 12;
    TMemoryPictureSource source(
        std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    TFitsReader reader;
    TPicReport report;
    if (!LoadRowPicture(reader, source, picture, report)) {
        Check(report.Error.Code != PIC_OK && !picture.Bitmap);
        return 0;
    }
    const TBitmap& b = *picture.Bitmap;
    const int denom = picture.ScaleDenom;
    Check(b.Width == (picture.Width + denom - 1) / denom);
    Check(b.Height == (picture.Height + denom - 1) / denom);
    Check(b.Pixels.size() == static_cast<size_t>(b.Width) * b.Height * 3);
    const bool mapped = QuantizeWanted(picture.Flags) && (picture.Flags & LOAD_GIVEN_MAP);
    for (size_t i = 0; i < b.Pixels.size(); i += 3)
        if (!mapped) Check(b.Pixels[i] == b.Pixels[i + 1] && b.Pixels[i] == b.Pixels[i + 2]);
    return 0;
}
