// The checks every row reader's fuzzer makes: the header, then every row
// into a buffer of exactly Width x Components bytes. A picture that starts
// is within the size limits, there is no row after the last, and a
// failure names a code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/rowreader.h"

namespace zorvex::fuzz {

inline void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// A few bytes may describe the largest picture allowed; rows past this
// many samples are not asked for, so that a run stays quick.
constexpr size_t MAX_SAMPLES = size_t{1} << 20;

template <typename TReader>
void ReadAll(TPictureSource& source, TPicReport& report) {
    TReader reader;
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

// The load flags the first byte of an input chooses.
inline uint32_t FlagsOf(uint8_t b) {
    uint32_t flags = 0;
    if (b & 0x01) flags |= LOAD_GRAYSCALE;
    if (b & 0x02) flags |= LOAD_QUANTIZE;
    if (b & 0x04) flags |= LOAD_REDUCE;
    if (b & 0x08) flags |= LOAD_REDUCE_ONE_LESS;
    if (b & 0x10) flags |= LOAD_NO_QUANTIZE;
    if (b & 0x20) flags |= LOAD_GIVEN_MAP;
    if (b & 0x40) flags |= LOAD_INDEX_MAP;
    return flags;
}

// The request the first byte of an input makes: its flags and one of two
// boxes. The rest of the input is the file.
inline TPicture PictureAskedBy(uint8_t b) {
    TPicture picture;
    picture.Flags = FlagsOf(b);
    picture.RequestedWidth = b & 0x80 ? 100 : 16;
    picture.RequestedHeight = b & 0x80 ? 80 : 12;
    return picture;
}

inline std::string_view FileAfterFlags(const uint8_t* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
}

}  // namespace zorvex::fuzz
