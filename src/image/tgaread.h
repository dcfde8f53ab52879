// tgaread: Truevision Targa files, plain or run-length encoded:
// colour-mapped (8 bits an index), true colour (15/16, 24 or 32 bits; the
// alpha is dropped) and grayscale (8 bits). Grayscale rows have one
// component, the others RGB. A true-colour file may carry a map, which is
// skipped; a grayscale one may not. Right-to-left rows are turned round;
// the interleave bits are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/rowreader.h"

namespace zorvex {

class TTargaReader final : public TRowReader {
  public:
    bool Start(TPictureSource& source, TRowImage& image, TPicReport& report) override;
    bool ReadRow(uint8_t* row, TPicReport& report) override;

  private:
    bool ReadHeader(TPicReport& report);
    bool ReadColourMap(int first, int length, int entryBits, TPicReport& report);
    bool DecodeRow(uint8_t* row, TPicReport& report);
    void Convert(const uint8_t* raw, uint8_t* out) const;

    TPictureSource* Source = nullptr;
    int Width = 0;
    int Height = 0;
    int Components = 3;
    int Kind = 0;  // 1 colour-mapped, 2 true colour, 3 grayscale
    bool Rle = false;
    int PixelBytes = 0;  // in the file
    bool TopDown = false;
    bool RightToLeft = false;
    uint8_t Map[256][3] = {};  // indexes outside the file's map stay black

    // A packet may go on into the next row.
    int PacketLeft = 0;
    bool PacketRepeats = false;
    uint8_t RepeatPixel[3] = {};

    std::vector<uint8_t> Raw;  // the file's bytes of one row
    // A bottom-up picture, decoded whole in file order before its first
    // (top) row is handed out.
    std::vector<uint8_t> Stored;
    bool Loaded = false;
    int NextRow = 0;
};

}  // namespace zorvex
