// Any bytes as a BMP file, read as the viewer reads it: the header, then every
// row. Nothing is read or written out of bounds (each row goes to a buffer
// of exactly Width × Components bytes), a picture that starts is within the
// size limits, there is no row after the last, and a failure names a code.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/bmpread.h"

namespace {

using namespace zorvex;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// A few bytes may describe the largest picture allowed; rows past this
// many samples are not asked for, so that a run stays quick.
constexpr size_t MAX_SAMPLES = size_t{1} << 20;

void ReadAll(TPictureSource& source, TPicReport& report) {
    TBmpReader reader;
    TRowImage image;
    if (!reader.Start(source, image, report)) {
        Check(report.Error.Code != PIC_OK);
        return;
    }
    Check(image.Width > 0 && image.Width <= MAX_PICTURE_SIDE);
    Check(image.Height > 0 && image.Height <= MAX_PICTURE_SIDE);
    Check(int64_t{image.Width} * image.Height <= MAX_PICTURE_PIXELS);
    Check(image.Components == 1 || image.Components == 3);
    const size_t rowBytes = static_cast<size_t>(image.Width) * image.Components;
    std::vector<uint8_t> row(rowBytes);
    size_t samples = 0;
    int y = 0;
    for (; y < image.Height && samples < MAX_SAMPLES; ++y, samples += rowBytes) {
        if (!reader.ReadRow(row.data(), report)) {
            Check(report.Error.Code != PIC_OK);
            return;
        }
    }
    if (y == image.Height) Check(!reader.ReadRow(row.data(), report));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryPictureSource source(std::string_view(reinterpret_cast<const char*>(data), size));
    TPicReport report;
    ReadAll(source, report);
    Check(report.Warnings.empty());
    return 0;
}
