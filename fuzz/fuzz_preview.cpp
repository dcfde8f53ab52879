// Any bytes as a JPEG arriving in an article: handed to the live preview
// in pieces whose sizes the first byte picks, the unconsumed rest offered
// again with the next piece as the decoder does, then finished. The
// preview never crashes, never takes more than it was given, and never
// holds on to the decoder's bytes once its buffer is full.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/preview.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zorvex;
    if (size < 1) return 0;
    constexpr size_t BUFFER = 2048;
    const size_t piece = 1 + data[0] % 97 * 21;
    ++data;
    --size;
    TJpegPreview preview;
    TPicture slot;
    preview.Start(slot, "fuzz.jpg", 64 + (size > 0 ? data[0] : 0) % 200, 120);
    std::string kept;
    size_t at = 0;
    while (at < size) {
        size_t n = std::min({piece, size - at, BUFFER - kept.size()});
        kept.append(reinterpret_cast<const char*>(data) + at, n);
        at += n;
        size_t taken = preview.Feed(reinterpret_cast<const uint8_t*>(kept.data()), kept.size());
        Check(taken <= kept.size());
        kept.erase(0, taken);
        // A full buffer the preview takes nothing of would stall the
        // decoder's hand-overs; the decoder then drops what does not fit.
        if (kept.size() == BUFFER) kept.clear();
    }
    preview.Finish();
    Check(!preview.Active());
    if (slot.Bitmap) {
        Check(slot.Bitmap->Pixels.size() ==
              static_cast<size_t>(slot.Bitmap->Width) * slot.Bitmap->Height * 3);
        Check(preview.RowsDone() <= slot.Bitmap->Height);
    }
    return 0;
}
