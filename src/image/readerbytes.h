// readerbytes: little-endian fields of the picture formats' headers.
#pragma once

#include <cstdint>

namespace zorvex {

inline uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t U32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace zorvex
