// fitsread: the first picture of a FITS file (astronomy) as 8-bit gray,
// stretched from its darkest sample to the level below its brightest 0.2%.
#pragma once

#include <cstdint>
#include <vector>

#include "image/rowreader.h"

namespace zorvex {

// The header is read in 80-character cards up to END and the rest of its
// 2880-byte block; of its cards only BITPIX, NAXIS1, NAXIS2 and BZERO count
// (the integer at the 11th character; the keyword must match exactly).
// Samples are unsigned big-endian integers of |BITPIX| bits (8, 16 or 32:
// the sign of BITPIX is not looked at, so -32 is read as 32-bit integers),
// less BZERO. A card that is missing or unreadable fails with its code,
// BITPIX also when it is not 8, 16 or 32 in size, BZERO also beyond 2^62.
// The whole picture is read in Start (a short file fails with
// PIC_INPUT_EOF), as the stretch needs every sample, and kept as the file
// had it. Rows come in file order, first row first, although FITS pictures
// are usually drawn bottom row first. When every sample is the same, every
// pixel is black: there is no range to stretch.
class TFitsReader final : public TRowReader {
  public:
    TFitsReader() = default;
    bool Start(TPictureSource& source, TRowImage& image, TPicReport& report) override;
    bool ReadRow(uint8_t* row, TPicReport& report) override;

  private:
    int64_t Sample(size_t index) const;

    std::vector<uint8_t> Data;
    int Width = 0, Height = 0;
    int SampleBytes = 1;
    int64_t Zero = 0;
    int64_t Min = 0;
    double Scale = 0;  // 0: all samples equal
    int NextRow = 0;
};

}  // namespace zorvex
