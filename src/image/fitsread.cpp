#include "image/fitsread.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace zorvex {

namespace {

constexpr size_t CARD_SIZE = 80;
constexpr int CARDS_PER_BLOCK = 36;
constexpr int64_t MAX_BZERO = int64_t{1} << 62;  // so sample - BZERO cannot overflow
// The stretch ends at the level below which this share of the samples lies.
constexpr double KEPT_SHARE = 0.998;

// The integer from the 11th character on, as sscanf's %ld reads it; false
// when there is none or it does not fit 64 bits.
bool CardValue(const char* card, int64_t& value) {
    const char* p = card + 10;
    const char* end = card + CARD_SIZE;
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || *p < '0' || *p > '9') return false;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string_view Keyword(const char* card) {
    std::string_view key(card, 8);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    return key;
}

}  // namespace

int64_t TFitsReader::Sample(size_t index) const {
    const uint8_t* p = Data.data() + index * SampleBytes;
    uint32_t raw = 0;
    for (int i = 0; i < SampleBytes; ++i) raw = raw << 8 | p[i];
    return static_cast<int64_t>(raw) - Zero;
}

bool TFitsReader::Start(TPictureSource& source, TRowImage& image, TPicReport& report) {
    char card[CARD_SIZE];
    int64_t cards = 0;
    bool haveBitpix = false, haveWidth = false, haveHeight = false;
    int64_t bitpix = 0, width = 0, height = 0, zero = 0;
    for (bool end = false; !end;) {
        if (!source.ReadExact(reinterpret_cast<uint8_t*>(card), CARD_SIZE, report))
            return report.Fail(PIC_FITS_EOF);
        ++cards;
        for (int i = 0; i < 10; ++i)
            if (card[i] < 0x20 || card[i] > 0x7E) return report.Fail(PIC_FITS_BADCARD);
        const std::string_view key = Keyword(card);
        if (key == "BITPIX") {
            if (!CardValue(card, bitpix)) return report.Fail(PIC_FITS_BITPIX);
            haveBitpix = true;
        } else if (key == "NAXIS1") {
            if (!CardValue(card, width)) return report.Fail(PIC_FITS_NAXIS1);
            haveWidth = true;
        } else if (key == "NAXIS2") {
            if (!CardValue(card, height)) return report.Fail(PIC_FITS_NAXIS2);
            haveHeight = true;
        } else if (key == "BZERO") {
            if (!CardValue(card, zero) || zero < -MAX_BZERO || zero > MAX_BZERO)
                return report.Fail(PIC_FITS_BZERO);
        } else if (key == "END") {
            end = true;
        }
    }
    for (; cards % CARDS_PER_BLOCK != 0; ++cards)
        if (!source.ReadExact(reinterpret_cast<uint8_t*>(card), CARD_SIZE, report))
            return report.Fail(PIC_FITS_EOF);

    if (!haveBitpix) return report.Fail(PIC_FITS_BITPIX);
    const int64_t bits = bitpix < 0 ? -bitpix : bitpix;
    if (bits != 8 && bits != 16 && bits != 32)
        return report.Fail(PIC_FITS_BADBITPIX, static_cast<long>(bitpix));
    if (!haveWidth) return report.Fail(PIC_FITS_NAXIS1);
    if (!haveHeight) return report.Fail(PIC_FITS_NAXIS2);
    if (PictureTooLarge(width, height))
        return report.Fail(PIC_TOO_LARGE, static_cast<long>(width), static_cast<long>(height));

    Width = static_cast<int>(width);
    Height = static_cast<int>(height);
    SampleBytes = static_cast<int>(bits / 8);
    Zero = zero;
    NextRow = 0;
    // Grows with what the file really holds, not with what its header says.
    const size_t rowBytes = static_cast<size_t>(Width) * SampleBytes;
    Data.clear();
    Data.reserve(std::min<size_t>(rowBytes * Height, size_t{1} << 20));
    for (int y = 0; y < Height; ++y) {
        Data.resize(Data.size() + rowBytes);
        if (!source.ReadExact(Data.data() + Data.size() - rowBytes, rowBytes, report)) {
            Data = {};
            return false;
        }
    }

    const size_t count = static_cast<size_t>(Width) * Height;
    int64_t min = Sample(0), max = min;
    for (size_t i = 1; i < count; ++i) {
        const int64_t s = Sample(i);
        min = std::min(min, s);
        max = std::max(max, s);
    }
    Min = min;
    Scale = 0;
    if (max > min) {
        double scale = 255.0 / static_cast<double>(max - min);
        uint64_t histogram[256] = {};
        for (size_t i = 0; i < count; ++i) {
            const double level = static_cast<double>(Sample(i) - min) * scale;
            ++histogram[level >= 255.0 ? 255 : static_cast<int>(level)];
        }
        // The few brightest samples (stars) would leave the rest dark: they
        // are clipped to white.
        const double kept = KEPT_SHARE * static_cast<double>(count);
        uint64_t sum = 0;
        int bin = 0;
        for (; bin < 255; ++bin) {
            sum += histogram[bin];
            if (static_cast<double>(sum) > kept) break;
        }
        if (bin > 0) {
            const double range = bin / scale;  // the new max less min
            scale = 255.0 / range;
        }
        Scale = scale;
    }

    image.Width = Width;
    image.Height = Height;
    image.Components = 1;
    image.HasTransparent = false;
    return true;
}

bool TFitsReader::ReadRow(uint8_t* row, TPicReport& report) {
    if (NextRow >= Height) return report.Fail(PIC_INPUT_EOF);
    const size_t first = static_cast<size_t>(NextRow) * Width;
    for (int x = 0; x < Width; ++x) {
        const double level = static_cast<double>(Sample(first + x) - Min) * Scale;
        row[x] = level >= 255.0 ? 255 : static_cast<uint8_t>(level);
    }
    ++NextRow;
    return true;
}

}  // namespace zorvex
