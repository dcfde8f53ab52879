// jpegvirus: stops JPEG files that carry a comment segment whose length
// field is 0 or 1. No valid segment is that short (the length counts its own
// two bytes), and such a segment is the known way to attack picture
// decoders. The check watches the decoded bytes of a file before they are
// written, so a stopped file never reaches the disk whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvex {

struct JpegVirusState {
    uint32_t Window = 0x11111111;  // the last four bytes after the head, newest low
    uint32_t Head = 0;             // the file's first two bytes, first high
    int32_t Count = 0;             // head bytes taken so far: 0, 1 or 2
};

constexpr uint32_t JPEG_START_OF_IMAGE = 0xFFD8;

void JpegVirusReset(JpegVirusState& state);
// True (possible virus) as soon as FF FE 00 00 or FF FE 00 01 follows a
// JPEG start-of-image; the state carries across calls so a marker split
// between two lines is found.
bool JpegVirusScan(JpegVirusState& state, const uint8_t* bytes, size_t length);

}  // namespace zorvex
