// bmpread: Windows and OS/2 bitmaps, 8-bit colour-mapped or 24-bit, not
// compressed. Rows come out as RGB; an index beyond the map is black. A
// bottom-up file is read whole before its first (top) row is handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/rowreader.h"

namespace zorvex {

class TBmpReader final : public TRowReader {
  public:
    bool Start(TPictureSource& source, TRowImage& image, TPicReport& report) override;
    bool ReadRow(uint8_t* row, TPicReport& report) override;

  private:
    bool ReadHeader(TPicReport& report);
    void Convert(const uint8_t* stored, uint8_t* row) const;

    TPictureSource* Source = nullptr;
    int Width = 0;
    int Height = 0;
    int Depth = 0;      // 8 or 24
    size_t Stride = 0;  // a stored row, padded to 4 bytes
    bool TopDown = false;
    uint8_t Map[256][3] = {};  // entries beyond the file's map stay black
    // One row for a top-down picture; the whole picture, in file order,
    // for a bottom-up one (its top row is stored last).
    std::vector<uint8_t> Stored;
    bool Loaded = false;
    int NextRow = 0;
};

}  // namespace zorvex
