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
#include "picture_fuzz.h"

namespace {

using namespace zorvex;
using namespace zorvex::fuzz;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    TPicture picture = PictureAskedBy(data[0]);
    TMemoryPictureSource source(FileAfterFlags(data, size));
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
