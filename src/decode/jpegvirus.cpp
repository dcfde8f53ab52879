#include "decode/jpegvirus.h"

#include <cstring>

namespace zorvex {

namespace {

// FF FE 00 00 or FF FE 00 01 in the window, newest byte low.
bool IsHit(uint32_t window) {
    return (window & 0xFFFFFFFE) == 0xFFFE0000;
}

}  // namespace

void JpegVirusReset(JpegVirusState& state) {
    state = JpegVirusState{};
}

bool JpegVirusScan(JpegVirusState& state, const uint8_t* bytes, size_t length) {
    size_t i = 0;
    for (; i < length && state.Count < 2; ++i) {
        state.Head = state.Head * 256 + bytes[i];
        ++state.Count;
    }
    if (state.Count < 2 || state.Head != JPEG_START_OF_IMAGE) return false;
    // A hit that reaches back into earlier calls ends within the first three
    // bytes: those go through the window one by one.
    uint32_t window = state.Window;
    const size_t start = i;
    for (; i < length && i < start + 3; ++i) {
        window = window << 8 | bytes[i];
        if (IsHit(window)) return true;
    }
    if (i < length) {
        // Every later hit lies wholly in this block: look at each FE.
        const uint8_t* p = bytes + i - 2;
        const uint8_t* end = bytes + length;
        while ((p = static_cast<const uint8_t*>(memchr(p, 0xFE, end - p))) != nullptr) {
            if (p + 2 >= end) break;  // completed, if at all, by the next block
            if (p[-1] == 0xFF && p[1] == 0 && p[2] <= 1) return true;
            ++p;
        }
        window = static_cast<uint32_t>(end[-4]) << 24 | static_cast<uint32_t>(end[-3]) << 16 |
                 static_cast<uint32_t>(end[-2]) << 8 | end[-1];
    }
    state.Window = window;
    return false;
}

}  // namespace zorvex
