// Any bytes as a GIF file, read as the viewer reads it: the header, then every
// row. Nothing is read or written out of bounds (each row goes to a buffer
// of exactly Width × Components bytes), a picture that starts is within the
// size limits, there is no row after the last, and a failure names a code.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/gifread.h"
#include "picture_fuzz.h"

using namespace zorvex;
using namespace zorvex::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryPictureSource source(std::string_view(reinterpret_cast<const char*>(data), size));
    TPicReport report;
    ReadAll<TGifReader>(source, report);
    // Junk between blocks warns at most 16 times; the version, the aspect
    // and the data once each.
    Check(report.Warnings.size() <= 19);
    return 0;
}
