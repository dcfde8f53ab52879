#include "image/output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zorvex {

namespace {

constexpr int MAX_COLORS = 256;

std::mutex IndexMapLock;
TColorMap& IndexMap() {
    static TColorMap map;
    return map;
}

uint8_t Luma(int r, int g, int b) {
    return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

int Distance(const std::array<uint8_t, 3>& c, int r, int g, int b) {
    const int dr = c[0] - r, dg = c[1] - g, db = c[2] - b;
    return dr * dr + dg * dg + db * db;
}

// Nearest map entry, exact, without searching the whole map for every
// pixel: each 8x8x8 cell of colour space keeps the entries that can be the
// nearest for some colour in it (those no farther at their nearest than the
// best entry is at its farthest), found the first time the cell is met.
class TNearestColor {
  public:
    explicit TNearestColor(const TColorMap& map) : Map(map), CellStart(CELLS, -1) {}

    int Index(int r, int g, int b) {
        const int cell = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
        if (CellStart[cell] < 0) FillCell(cell);
        const uint16_t* list = Pool.data() + CellStart[cell];
        int best = list[1], bestDistance = Distance(Map[best], r, g, b);
        for (int i = 2; i <= list[0]; ++i) {
            const int d = Distance(Map[list[i]], r, g, b);
            if (d < bestDistance) {
                bestDistance = d;
                best = list[i];
            }
        }
        return best;
    }

  private:
    static constexpr int CELLS = 1 << 15;

    void FillCell(int cell) {
        const int lo[3] = {(cell >> 10) << 3, ((cell >> 5) & 31) << 3, (cell & 31) << 3};
        const int n = static_cast<int>(Map.size());
        std::vector<int> nearest(n);
        int bound = INT32_MAX;
        for (int i = 0; i < n; ++i) {
            int dMin = 0, dMax = 0;
            for (int k = 0; k < 3; ++k) {
                const int v = Map[i][k], a = lo[k], z = lo[k] + 7;
                const int inside = v < a ? a - v : v > z ? v - z : 0;
                const int outside = std::max(std::abs(v - a), std::abs(v - z));
                dMin += inside * inside;
                dMax += outside * outside;
            }
            nearest[i] = dMin;
            bound = std::min(bound, dMax);
        }
        CellStart[cell] = static_cast<int32_t>(Pool.size());
        Pool.push_back(0);
        const size_t countAt = Pool.size() - 1;
        for (int i = 0; i < n; ++i)
            if (nearest[i] <= bound) {
                Pool.push_back(static_cast<uint16_t>(i));
                ++Pool[countAt];
            }
    }

    const TColorMap& Map;
    std::vector<int32_t> CellStart;
    std::vector<uint16_t> Pool;  // per cell: the count, then the entries
};

// A box of the 5-6-5 histogram, bounds inclusive in histogram steps.
struct TBox {
    int Lo[3], Hi[3];
    uint64_t Count = 0;
};

constexpr int HIST_BITS[3] = {5, 6, 5};
constexpr int HIST_SIZE = 1 << 16;

int HistIndex(int r, int g, int b) {
    return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
}
int HistIndexOfSteps(int r, int g, int b) {
    return r << 11 | g << 5 | b;
}

// Narrows the box to the steps that hold pixels and counts them.
void Shrink(TBox& box, const std::vector<uint32_t>& hist) {
    int lo[3] = {box.Hi[0], box.Hi[1], box.Hi[2]};
    int hi[3] = {box.Lo[0], box.Lo[1], box.Lo[2]};
    uint64_t count = 0;
    for (int r = box.Lo[0]; r <= box.Hi[0]; ++r)
        for (int g = box.Lo[1]; g <= box.Hi[1]; ++g)
            for (int b = box.Lo[2]; b <= box.Hi[2]; ++b) {
                const uint32_t n = hist[HistIndexOfSteps(r, g, b)];
                if (n == 0) continue;
                count += n;
                const int at[3] = {r, g, b};
                for (int k = 0; k < 3; ++k) {
                    lo[k] = std::min(lo[k], at[k]);
                    hi[k] = std::max(hi[k], at[k]);
                }
            }
    std::copy(lo, lo + 3, box.Lo);
    std::copy(hi, hi + 3, box.Hi);
    box.Count = count;
}

// The longest side in 8-bit units, or -1 when the box is one step.
int LongestAxis(const TBox& box) {
    int axis = -1, longest = 0;
    for (int k = 0; k < 3; ++k) {
        const int side = (box.Hi[k] - box.Lo[k]) << (8 - HIST_BITS[k]);
        if (side > longest) {
            longest = side;
            axis = k;
        }
    }
    return axis;
}

// Splits at the step where half the box's pixels lie below.
void Split(TBox& box, TBox& other, const std::vector<uint32_t>& hist) {
    const int axis = LongestAxis(box);
    std::vector<uint64_t> slice(box.Hi[axis] - box.Lo[axis] + 1, 0);
    for (int r = box.Lo[0]; r <= box.Hi[0]; ++r)
        for (int g = box.Lo[1]; g <= box.Hi[1]; ++g)
            for (int b = box.Lo[2]; b <= box.Hi[2]; ++b) {
                const int at[3] = {r, g, b};
                slice[at[axis] - box.Lo[axis]] += hist[HistIndexOfSteps(r, g, b)];
            }
    int cut = box.Lo[axis];
    uint64_t below = 0;
    for (size_t i = 0; i < slice.size(); ++i) {
        below += slice[i];
        cut = box.Lo[axis] + static_cast<int>(i);
        if (below * 2 >= box.Count) break;
    }
    // Both halves keep an end step, and the ends hold pixels.
    if (cut == box.Hi[axis]) --cut;
    other = box;
    box.Hi[axis] = cut;
    other.Lo[axis] = cut + 1;
    Shrink(box, hist);
    Shrink(other, hist);
}

// The bitmap's own colours, or empty when it has more than maxColors.
TColorMap DistinctColors(const TBitmap& bitmap, int maxColors) {
    TColorMap colors;
    std::vector<bool> seen(size_t{1} << 24);
    const uint8_t* p = bitmap.Pixels.data();
    for (size_t i = 0, n = bitmap.Pixels.size() / 3; i < n; ++i, p += 3) {
        const uint32_t key = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        if (seen[key]) continue;
        if (static_cast<int>(colors.size()) == maxColors) return {};
        seen[key] = true;
        colors.push_back({p[0], p[1], p[2]});
    }
    return colors;
}

}  // namespace

int ChooseScaleDenom(int width, int height, int boxWidth, int boxHeight, uint32_t flags) {
    if (!(flags & LOAD_REDUCE) || width <= 0 || height <= 0) return 1;
    int denom = 8;
    for (int d = 1; d <= 8; d *= 2) {
        const bool fitsWidth = boxWidth <= 0 || (width + d - 1) / d <= boxWidth;
        const bool fitsHeight = boxHeight <= 0 || (height + d - 1) / d <= boxHeight;
        if (fitsWidth && fitsHeight) {
            denom = d;
            break;
        }
    }
    if ((flags & LOAD_REDUCE_ONE_LESS) && denom > 1) denom /= 2;
    return denom;
}

bool QuantizeWanted(uint32_t flags) {
    return (flags & LOAD_QUANTIZE) && !(flags & LOAD_NO_QUANTIZE);
}

TColorMap FixedColorMap() {
    TColorMap map(MAX_COLORS);
    for (int i = 0; i < MAX_COLORS; ++i)
        map[i] = {static_cast<uint8_t>(i & 0xE0), static_cast<uint8_t>((i * 8) & 0xE0),
                  static_cast<uint8_t>((i & 3) * 64)};
    return map;
}

void SetIndexColorMap(const std::vector<std::array<uint8_t, 3>>& map) {
    TColorMap copy(map.begin(), map.begin() + std::min<size_t>(map.size(), MAX_COLORS));
    std::lock_guard<std::mutex> lock(IndexMapLock);
    IndexMap().swap(copy);
}

TColorMap GivenColorMap(uint32_t flags) {
    if (flags & LOAD_INDEX_MAP) {
        std::lock_guard<std::mutex> lock(IndexMapLock);
        if (!IndexMap().empty()) return IndexMap();
    }
    return FixedColorMap();
}

TColorMap ChooseColorMap(const TBitmap& bitmap, int maxColors) {
    maxColors = std::clamp(maxColors, 1, MAX_COLORS);
    TColorMap own = DistinctColors(bitmap, maxColors);
    if (!own.empty() || bitmap.Pixels.empty()) return own;

    std::vector<uint32_t> hist(HIST_SIZE, 0);
    const size_t pixels = bitmap.Pixels.size() / 3;
    const uint8_t* p = bitmap.Pixels.data();
    for (size_t i = 0; i < pixels; ++i, p += 3) ++hist[HistIndex(p[0], p[1], p[2])];

    std::vector<TBox> boxes(1);
    boxes[0] = {{0, 0, 0}, {31, 63, 31}, 0};
    Shrink(boxes[0], hist);
    // Split where most error is likely: many pixels over a long side.
    while (static_cast<int>(boxes.size()) < maxColors) {
        int pick = -1;
        uint64_t best = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const int axis = LongestAxis(boxes[i]);
            if (axis < 0) continue;
            const int side = (boxes[i].Hi[axis] - boxes[i].Lo[axis]) << (8 - HIST_BITS[axis]);
            const uint64_t score = boxes[i].Count * static_cast<uint64_t>(side);
            if (pick < 0 || score > best) {
                pick = static_cast<int>(i);
                best = score;
            }
        }
        if (pick < 0) break;
        TBox other;
        Split(boxes[pick], other, hist);
        boxes.push_back(other);
    }

    // Each box's colour is the mean of its pixels, not of its steps.
    std::vector<uint8_t> boxOf(HIST_SIZE, 0);
    for (size_t i = 0; i < boxes.size(); ++i)
        for (int r = boxes[i].Lo[0]; r <= boxes[i].Hi[0]; ++r)
            for (int g = boxes[i].Lo[1]; g <= boxes[i].Hi[1]; ++g)
                for (int b = boxes[i].Lo[2]; b <= boxes[i].Hi[2]; ++b)
                    boxOf[HistIndexOfSteps(r, g, b)] = static_cast<uint8_t>(i);
    std::vector<std::array<uint64_t, 3>> sums(boxes.size(), {0, 0, 0});
    p = bitmap.Pixels.data();
    for (size_t i = 0; i < pixels; ++i, p += 3) {
        std::array<uint64_t, 3>& s = sums[boxOf[HistIndex(p[0], p[1], p[2])]];
        s[0] += p[0];
        s[1] += p[1];
        s[2] += p[2];
    }
    TColorMap map(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i)
        for (int k = 0; k < 3; ++k)
            map[i][k] = static_cast<uint8_t>((sums[i][k] + boxes[i].Count / 2) / boxes[i].Count);
    return map;
}

void MapToColors(TBitmap& bitmap, const TColorMap& map) {
    if (map.empty()) return;
    TNearestColor nearest(map);
    uint8_t* p = bitmap.Pixels.data();
    for (size_t i = 0, n = bitmap.Pixels.size() / 3; i < n; ++i, p += 3) {
        const std::array<uint8_t, 3>& c = map[nearest.Index(p[0], p[1], p[2])];
        std::memcpy(p, c.data(), 3);
    }
}

bool LoadRowPicture(TRowReader& reader, TPictureSource& source, TPicture& picture,
                    TPicReport& report) {
    picture.Bitmap.reset();
    TRowImage image;
    if (!reader.Start(source, image, report)) return false;
    if (PictureTooLarge(image.Width, image.Height))
        return report.Fail(PIC_TOO_LARGE, image.Width, image.Height);
    // A reader hands out 1 or 3 samples a pixel; anything else is its bug.
    if (image.Components != 1 && image.Components != 3) return report.Fail(PIC_INPUT_EOF);

    const int width = image.Width, height = image.Height;
    picture.Width = width;
    picture.Height = height;
    const int denom = ChooseScaleDenom(width, height, picture.RequestedWidth,
                                       picture.RequestedHeight, picture.Flags);
    picture.ScaleNum = 1;
    picture.ScaleDenom = denom;
    const int outWidth = (width + denom - 1) / denom, outHeight = (height + denom - 1) / denom;

    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Width = outWidth;
    bitmap->Height = outHeight;
    bitmap->Pixels.resize(static_cast<size_t>(outWidth) * outHeight * 3);

    std::vector<uint8_t> row(static_cast<size_t>(width) * image.Components);
    std::vector<uint8_t> rgb(image.Components == 1 ? static_cast<size_t>(width) * 3 : 0);
    std::vector<uint32_t> sums(denom > 1 ? static_cast<size_t>(outWidth) * 3 : 0);
    // The row as RGB: in place for colour, widened for gray.
    auto readRgb = [&]() -> const uint8_t* {
        if (!reader.ReadRow(row.data(), report)) return nullptr;
        if (image.Components == 3) return row.data();
        for (int x = 0; x < width; ++x) std::memset(&rgb[x * 3], row[x], 3);
        return rgb.data();
    };

    for (int oy = 0; oy < outHeight; ++oy) {
        uint8_t* out = bitmap->Row(oy);
        if (denom == 1) {
            const uint8_t* in = readRgb();
            if (!in) return false;
            std::memcpy(out, in, static_cast<size_t>(width) * 3);
        } else {
            std::fill(sums.begin(), sums.end(), 0);
            const int rows = std::min(denom, height - oy * denom);
            for (int r = 0; r < rows; ++r) {
                const uint8_t* in = readRgb();
                if (!in) return false;
                for (int x = 0; x < width; ++x) {
                    uint32_t* s = &sums[(x / denom) * 3];
                    s[0] += in[x * 3];
                    s[1] += in[x * 3 + 1];
                    s[2] += in[x * 3 + 2];
                }
            }
            for (int ox = 0; ox < outWidth; ++ox) {
                const uint32_t n = rows * std::min(denom, width - ox * denom);
                for (int k = 0; k < 3; ++k)
                    out[ox * 3 + k] = static_cast<uint8_t>((sums[ox * 3 + k] + n / 2) / n);
            }
        }
        if (picture.Flags & LOAD_GRAYSCALE)
            for (int x = 0; x < outWidth; ++x)
                std::memset(out + x * 3, Luma(out[x * 3], out[x * 3 + 1], out[x * 3 + 2]), 3);
    }

    uint8_t transparent[3] = {image.TransparentRgb[0], image.TransparentRgb[1],
                              image.TransparentRgb[2]};
    if (picture.Flags & LOAD_GRAYSCALE)
        std::memset(transparent, Luma(transparent[0], transparent[1], transparent[2]), 3);
    if (QuantizeWanted(picture.Flags)) {
        const TColorMap map = (picture.Flags & LOAD_GIVEN_MAP)
                                  ? GivenColorMap(picture.Flags)
                                  : ChooseColorMap(*bitmap, MAX_COLORS);
        MapToColors(*bitmap, map);
        if (!map.empty()) {
            const auto& c =
                map[TNearestColor(map).Index(transparent[0], transparent[1], transparent[2])];
            std::memcpy(transparent, c.data(), 3);
        }
    }
    picture.HasTransparent = image.HasTransparent;
    picture.Transparent[0] = transparent[2];
    picture.Transparent[1] = transparent[1];
    picture.Transparent[2] = transparent[0];
    picture.Transparent[3] = 0;
    picture.Bitmap = std::move(bitmap);
    return true;
}

}  // namespace zorvex
