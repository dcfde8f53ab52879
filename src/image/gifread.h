// gifread: the first image of a GIF file (87a or 89a), with its local
// colour table or the global one, and the transparent colour its graphic
// control extension names. The picture's size is the image's own, not the
// logical screen's. Rows come out as RGB: an index beyond the table is
// black, and a file without any table gets a gray ramp over the indexes its
// code size can name. Broken data warns and the pixels it leaves out are
// index 0; the file ending inside the image is PIC_INPUT_EOF. An
// interlaced image is decoded whole before its first row is handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/rowreader.h"

namespace zorvex {

class TGifReader final : public TRowReader {
  public:
    bool Start(TPictureSource& source, TRowImage& image, TPicReport& report) override;
    bool ReadRow(uint8_t* row, TPicReport& report) override;

  private:
    static constexpr int MAX_CODES = 4096;

    bool ReadScreen(TPicReport& report);
    bool FindImage(TPicReport& report);
    bool ReadColourTable(int packed, TPicReport& report);
    bool SkipSubBlocks(TPicReport& report);
    bool ReadCode(int& code, bool& have, TPicReport& report);
    bool NextIndex(int& index, TPicReport& report);
    bool DecodeRow(uint8_t* row, TPicReport& report);
    void Colour(int index, uint8_t* rgb) const;

    TPictureSource* Source = nullptr;
    int Width = 0;
    int Height = 0;
    bool Interlaced = false;
    int Transparent = -1;  // the index, or -1
    int StrayChars = 0;

    uint8_t Global[256][3] = {};
    int GlobalSize = 0;
    uint8_t Table[256][3] = {};  // the image's: local, else global
    int TableSize = 0;           // 0: no table at all, a gray ramp

    // LZW.
    int MinCodeSize = 0;
    int ClearCode = 0;
    int EndCode = 0;
    int NextCode = 0;
    int CodeBits = 0;
    int Prev = -1;  // -1 right after a clear code
    int FirstOfPrev = 0;
    uint16_t Prefix[MAX_CODES] = {};
    uint16_t Suffix[MAX_CODES] = {};
    uint16_t Stack[MAX_CODES + 1] = {};
    int StackTop = 0;
    bool Ended = false;  // every pixel from here on is index 0

    // The bits of the data sub-blocks.
    uint32_t Bits = 0;
    int BitCount = 0;
    uint8_t Block[255] = {};
    int BlockLength = 0;
    int BlockAt = 0;
    bool BlocksEnded = false;

    // An interlaced image: the rows decoded, in file order, as RGB; the
    // rows after them are index 0.
    std::vector<uint8_t> Decoded;
    std::vector<int> FileRowOf;  // by display row
    bool Loaded = false;
    int NextRow = 0;
};

}  // namespace zorvex
