// output: makes the bitmap of a picture from a row reader's rows, reduced,
// made gray or quantised as the load flags ask, and the colour maps and the
// size rule the JPEG loader shares with it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/picture.h"
#include "image/rowreader.h"
#include "image/source.h"

namespace zorvex {

using TColorMap = std::vector<std::array<uint8_t, 3>>;  // red, green, blue

// The divisor of both sides (1, 2, 4 or 8). Without LOAD_REDUCE, 1. With it,
// the smallest that makes ceil(side / denom) fit the box (8 when none does);
// LOAD_REDUCE_ONE_LESS then halves it once, so the picture is at least as
// large as the box. A box side <= 0 sets no limit on that side.
int ChooseScaleDenom(int width, int height, int boxWidth, int boxHeight, uint32_t flags);

// LOAD_QUANTIZE without LOAD_NO_QUANTIZE.
bool QuantizeWanted(uint32_t flags);

// Entry i: red i & 0xE0, green (i * 8) & 0xE0, blue (i & 3) * 64.
TColorMap FixedColorMap();

// The index window's map, for LOAD_INDEX_MAP loads from any thread. An
// empty map means the fixed one again; beyond 256 entries the rest is unused.
void SetIndexColorMap(const std::vector<std::array<uint8_t, 3>>& map);

// The map a LOAD_GIVEN_MAP load uses: the index map with LOAD_INDEX_MAP
// (the fixed map until one is set), otherwise the fixed map. At most 256.
TColorMap GivenColorMap(uint32_t flags);

// At most maxColors (1..256) colours for this bitmap: its own colours when
// it has no more than that, otherwise a median cut of a 5-6-5 histogram whose
// boxes take the mean of the pixels in them.
TColorMap ChooseColorMap(const TBitmap& bitmap, int maxColors);

// Every pixel becomes its nearest map entry (squared RGB distance, the lower
// index on a tie). No dithering. The map holds 1..256 entries.
void MapToColors(TBitmap& bitmap, const TColorMap& map);

// Starts the reader and builds picture.Bitmap from its rows; sets Width and
// Height (in the file), ScaleNum/ScaleDenom and the transparent colour (as
// the bitmap shows it: made gray and mapped like the pixels). Only the
// bitmap and a few rows are held. A failed row fails the load, with no
// bitmap left.
bool LoadRowPicture(TRowReader& reader, TPictureSource& source, TPicture& picture,
                    TPicReport& report);

}  // namespace zorvex
