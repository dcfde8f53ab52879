// jpegload: a JPEG file into a picture's bitmap with libjpeg, reduced, made
// gray or quantised as the load flags ask.
#pragma once

#include "image/picture.h"
#include "image/source.h"

namespace zorvex {

// Reads the source in blocks of 16384 bytes. An empty source fails with
// PIC_EMPTY_FILE; one that ends early warns PIC_JPEG_EOF and shows what was
// there. libjpeg's errors fail with JPEG_CODE_BASE + its code and its text;
// its warnings are kept the same way, and after more than five of them no
// further scan line is read (the rows not read stay black, or the first map
// colour when quantised, so they stay map colours). Grayscale with a
// given map is mapped after decoding, as libjpeg quantises only colour to a
// given map; grayscale with a map of its own needs none (256 grays at most).
// A progressive file of more than 1000 scans fails with PIC_TOO_LARGE: each
// scan is a pass over the whole picture.
bool LoadJpegPicture(TPictureSource& source, TPicture& picture, TPicReport& report);

}  // namespace zorvex
