// Pictures written for tests and benchmarks: photo-like RGB content, and
// JPEG (through libjpeg), 24-bit BMP and 256-colour GIF files of it.
#pragma once

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace zorvex::test {

// RGB rows of a photo-like picture: gradients, a few discs, some grain.
inline std::vector<uint8_t> Photo(int width, int height, uint32_t seed) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint32_t x = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) {
            x = x * 1103515245u + 12345u;
            int grain = static_cast<int>((x >> 16) & 15) - 8;
            double d = std::hypot(i - width * 0.6, y - height * 0.4) / width;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + i) * 3];
            p[0] = static_cast<uint8_t>(
                std::clamp(static_cast<int>(255 * i / width) + grain + (d < 0.2 ? 60 : 0), 0, 255));
            p[1] = static_cast<uint8_t>(
                std::clamp(static_cast<int>(255 * y / height) + grain, 0, 255));
            p[2] = static_cast<uint8_t>(
                std::clamp(static_cast<int>(128 + 100 * std::sin(d * 20 + seed)) + grain, 0, 255));
        }
    return rgb;
}

using TRgb = std::array<int, 3>;

// RGB rows of one colour.
inline std::vector<uint8_t> Solid(int width, int height, TRgb color) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3)
        for (int k = 0; k < 3; ++k) rgb[i + k] = static_cast<uint8_t>(color[k]);
    return rgb;
}

// Baseline or progressive, at the given quality.
inline void WriteJpeg(const std::string& path, int width, int height,
                      const std::vector<uint8_t>& rgb, int quality = 85, bool progressive = false) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) std::abort();
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, out);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[static_cast<size_t>(c.next_scanline) * width * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(out);
}

inline void Put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) std::abort();
    std::fclose(out);
}

// 24-bit, bottom-up, rows padded to 4 bytes.
inline void WriteBmp(const std::string& path, int width, int height,
                     const std::vector<uint8_t>& rgb) {
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    std::string s = "BM";
    Put32(s, 54 + stride * height);
    Put32(s, 0);
    Put32(s, 54);
    Put32(s, 40);
    Put32(s, static_cast<uint32_t>(width));
    Put32(s, static_cast<uint32_t>(height));
    Put16(s, 1);
    Put16(s, 24);
    for (int i = 0; i < 6; ++i) Put32(s, 0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int i = 0; i < width; ++i) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + i) * 3];
            row[i * 3] = static_cast<char>(p[2]);
            row[i * 3 + 1] = static_cast<char>(p[1]);
            row[i * 3 + 2] = static_cast<char>(p[0]);
        }
        s += row;
    }
    WriteFile(path, s);
}

// 256 colours (3-3-2 bits), LZW with 9-bit codes: a clear code before the
// table would grow past them, which every decoder must take.
inline void WriteGif(const std::string& path, int width, int height,
                     const std::vector<uint8_t>& rgb) {
    std::string s = "GIF89a";
    Put16(s, static_cast<unsigned>(width));
    Put16(s, static_cast<unsigned>(height));
    s += static_cast<char>(0xF7);  // global table of 256
    s += '\0';
    s += '\0';
    for (int i = 0; i < 256; ++i) {
        s += static_cast<char>(i & 0xE0);
        s += static_cast<char>((i << 3) & 0xE0);
        s += static_cast<char>((i & 3) << 6);
    }
    s += ',';
    Put16(s, 0);
    Put16(s, 0);
    Put16(s, static_cast<unsigned>(width));
    Put16(s, static_cast<unsigned>(height));
    s += '\0';
    s += static_cast<char>(8);
    std::string data;
    uint32_t bits = 0;
    int count = 0;
    auto emit = [&](unsigned code) {
        bits |= code << count;
        count += 9;
        while (count >= 8) {
            data += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    int sinceClear = 0;
    emit(256);
    for (size_t p = 0; p < rgb.size(); p += 3) {
        if (sinceClear == 254) {
            emit(256);
            sinceClear = 0;
        }
        emit((rgb[p] & 0xE0) | ((rgb[p + 1] >> 3) & 0x1C) | (rgb[p + 2] >> 6));
        ++sinceClear;
    }
    emit(257);
    if (count > 0) data += static_cast<char>(bits & 0xFF);
    for (size_t at = 0; at < data.size(); at += 255) {
        size_t n = std::min<size_t>(255, data.size() - at);
        s += static_cast<char>(n);
        s += data.substr(at, n);
    }
    s += '\0';
    s += ';';
    WriteFile(path, s);
}

}  // namespace zorvex::test
