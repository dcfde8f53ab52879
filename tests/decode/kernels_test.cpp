#include "decode/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "decode/kernels_impl.h"
#include "support/encoders.h"

namespace zorvex {
namespace {

using TBytes = std::vector<uint8_t>;

constexpr std::string_view ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Heap copies of exactly the given size, so that ASan sees any read or
// write past either end.
struct TExact {
    explicit TExact(std::string_view s) : Size(s.size()), Data(new char[s.size()]) {
        std::memcpy(Data.get(), s.data(), s.size());
    }
    size_t Size;
    std::unique_ptr<char[]> Data;
};

TBytes YencRun(TYencFn fn, std::string_view line) {
    TExact in(line);
    std::unique_ptr<uint8_t[]> out(new uint8_t[line.size()]);
    const size_t n = fn(in.Data.get(), in.Size, out.get());
    EXPECT_LE(n, line.size());
    return TBytes(out.get(), out.get() + std::min(n, line.size()));
}

struct TBase64Result {
    TBytes Bytes;
    size_t Consumed = 0;
    bool operator==(const TBase64Result&) const = default;
};

TBase64Result Base64Run(TBase64Fn fn, std::string_view line, size_t maxGroups) {
    TExact in(line);
    // Room for what the limit and the input allow, and not a byte more.
    const size_t room = 3 * std::min(maxGroups, line.size() / 4);
    std::unique_ptr<uint8_t[]> out(new uint8_t[room]);
    TBase64Result r;
    r.Consumed = 12345;  // must be overwritten
    const size_t n = fn(in.Data.get(), in.Size, maxGroups, out.get(), &r.Consumed);
    EXPECT_EQ(r.Consumed % 4, 0u);
    EXPECT_EQ(n, 3 * (r.Consumed / 4));
    EXPECT_LE(r.Consumed, line.size());
    r.Bytes.assign(out.get(), out.get() + std::min(n, room));
    return r;
}

uint32_t Crc(TCrc32Fn fn, uint32_t crc, const TBytes& data) {
    // An exact copy, and no pointer at all for nothing.
    if (data.empty()) return fn(crc, nullptr, 0);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size()]);
    std::memcpy(copy.get(), data.data(), data.size());
    return fn(crc, copy.get(), data.size());
}

TBytes Noise(size_t n, std::mt19937& rng) {
    TBytes out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

std::vector<std::string> YencEncode(const TBytes& data, size_t lineLen) {
    return test::YencDataLines(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), lineLen);
}

std::string Base64Encode(const TBytes& data) {
    std::string out;
    for (size_t i = 0; i + 3 <= data.size(); i += 3) {
        const uint32_t x = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        for (int s = 18; s >= 0; s -= 6) out += ALPHABET[x >> s & 63];
    }
    return out;
}

std::string Str(const TBytes& b) {
    return std::string(b.begin(), b.end());
}

// The fast versions on this machine; the reference is compared against.
template <class TFn>
std::vector<TKernel<TFn>> FastOnly(std::vector<TKernel<TFn>> all) {
    all.pop_back();
    return all;
}

TEST(KernelsTest, DispatchTakesTheFirstAvailableAndEveryListEndsWithTheReference) {
    const auto yenc = YencKernelsAvailable();
    const auto base64 = Base64KernelsAvailable();
    const auto crc = Crc32KernelsAvailable();
    EXPECT_STREQ(YencKernelName(), yenc.front().Name);
    EXPECT_STREQ(Base64KernelName(), base64.front().Name);
    EXPECT_STREQ(Crc32KernelName(), crc.front().Name);
    EXPECT_EQ(yenc.back().Run, &YencDecodeDataScalar);
    EXPECT_EQ(base64.back().Run, &Base64DecodeGroupsScalar);
    EXPECT_EQ(crc.back().Run, &Crc32UpdateScalar);
#if defined(__x86_64__)
    // SSE2 is part of x86-64, so there is always a vector yEnc version, and
    // a machine with AVX2 must not be left on something slower.
    EXPECT_GE(yenc.size(), 2u);
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2")) {
        EXPECT_STREQ(YencKernelName(), "avx512");
    } else if (__builtin_cpu_supports("avx2")) {
        EXPECT_STREQ(YencKernelName(), "avx2");
    }
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_STREQ(Base64KernelName(), "avx2");
    }
    if (__builtin_cpu_supports("pclmul")) {
        EXPECT_STREQ(Crc32KernelName(), "pclmul");
    }
#endif
    // The entry points are live.
    uint8_t out[4];
    EXPECT_EQ(YencDecodeData("k\x8B=}", 4, out), 3u);
    EXPECT_EQ(TBytes(out, out + 3), (TBytes{'A', 'a', 0x13}));
    size_t used = 0;
    EXPECT_EQ(Base64DecodeGroups("TWFu", 4, 1, out, &used), 3u);
    EXPECT_EQ(used, 4u);
    EXPECT_EQ(Crc32Update(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

// ---- yEnc ----

TEST(KernelsTest, YencWorkedExamples) {
    struct TCase {
        std::string_view In;
        TBytes Out;
    } cases[] = {
        {"", {}},
        {"*", {0}},
        {"+", {1}},
        {")", {0xFF}},
        {std::string_view("\0", 1), {214}},
        {"\xFF", {213}},
        {"=", {}},                         // lone escape at the end: nothing
        {"*=", {0}},                       // the same after data
        {"=J", {0xE0}},                    // 'J' - 106
        {"=@", {0xD6}},                    // '@' - 106
        {"=}", {0x13}},                    // the usual escape of "=" itself
        {"==", {0xD3}},                    // an escaped "=" is data
        {"===", {0xD3}},                   // ... and the third one is a lone escape
        {"====", {0xD3, 0xD3}},            //
        {"=\n", {0xA0}},                   // no check on what follows an escape
        {"a\r\nb", {55, 0xE3, 0xE0, 56}},  // nor on line ends inside the data
    };
    for (const auto& kernel : YencKernelsAvailable()) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(kernel.Name) + " on \"" + std::string(c.In) + "\"");
            EXPECT_EQ(YencRun(kernel.Run, c.In), c.Out);
        }
    }
}

// Lines that catch the block edges: every length up to a few blocks, an
// escape at every position, escapes that straddle two blocks, runs of "=".
std::vector<std::string> AwkwardYencLines() {
    std::mt19937 rng(7);
    std::vector<std::string> lines;
    auto text = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += static_cast<char>(rng() % 60 + 64);  // no "="
        return s;
    };
    for (size_t len = 0; len <= 200; ++len) {
        lines.push_back(text(len));
        if (len > 0) lines.push_back(text(len - 1) + "=");  // lone "=" last
    }
    for (size_t len : {15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 130}) {
        for (size_t p = 0; p < len; ++p) {
            std::string s = text(len);
            s[p] = '=';  // escape anywhere, partner in the next block at block ends
            lines.push_back(s);
            if (p + 2 < len) {
                s[p + 2] = '=';  // two escapes with one data character between
                lines.push_back(s);
            }
        }
    }
    for (size_t run = 1; run <= 140; ++run) {
        for (size_t at : {0, 1, 14, 15, 16, 30, 31, 32, 62, 63, 64}) {
            std::string s = text(at) + std::string(run, '=') + text(7);
            lines.push_back(s);
            lines.push_back(text(at) + std::string(run, '='));  // ending in the run
        }
    }
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    lines.push_back(all);
    std::reverse(all.begin(), all.end());
    lines.push_back(all);
    std::string twice;
    for (int b = 0; b < 256; ++b) twice += std::string(2, static_cast<char>(b));
    lines.push_back(twice);
    lines.push_back(std::string(300, '\0'));
    lines.push_back(std::string(300, '='));
    lines.push_back(std::string(301, '='));
    return lines;
}

TEST(KernelsTest, YencFastVersionsMatchTheReferenceOnAwkwardLines) {
    const auto lines = AwkwardYencLines();
    for (const auto& kernel : FastOnly(YencKernelsAvailable())) {
        SCOPED_TRACE(kernel.Name);
        for (const std::string& line : lines) {
            ASSERT_EQ(YencRun(kernel.Run, line), YencRun(YencDecodeDataScalar, line))
                << "line of " << line.size() << ": " << line;
        }
    }
}

TEST(KernelsTest, YencFastVersionsMatchTheReferenceOnRandomLines) {
    // Random bytes with "=" made common, so that pairs, runs and escapes at
    // block ends all turn up, at every length and offset.
    std::mt19937 rng(2024);
    for (int round = 0; round < 3000; ++round) {
        const size_t len = rng() % 400;
        const unsigned equalsPercent = round % 4 == 0 ? 50 : 8;
        std::string line(len, '\0');
        for (char& c : line) {
            c = rng() % 100 < equalsPercent ? '=' : static_cast<char>(rng());
        }
        const TBytes want = YencRun(YencDecodeDataScalar, line);
        for (const auto& kernel : FastOnly(YencKernelsAvailable())) {
            ASSERT_EQ(YencRun(kernel.Run, line), want) << kernel.Name << " round " << round;
        }
    }
}

TEST(KernelsTest, YencHugeAndHostileLines) {
    std::mt19937 rng(99);
    std::string random(1 << 20, '\0');
    for (char& c : random) c = rng() % 20 == 0 ? '=' : static_cast<char>(rng());
    const std::string lines[] = {random, std::string(1 << 20, '='), std::string((1 << 20) + 1, '='),
                                 std::string(1 << 20, '\0')};
    for (const std::string& line : lines) {
        const TBytes want = YencRun(YencDecodeDataScalar, line);
        for (const auto& kernel : FastOnly(YencKernelsAvailable())) {
            ASSERT_EQ(YencRun(kernel.Run, line), want) << kernel.Name;
        }
    }
    EXPECT_EQ(YencRun(YencDecodeDataScalar, lines[1]).size(), size_t{1} << 19);
    EXPECT_EQ(YencRun(YencDecodeDataScalar, lines[2]).size(), size_t{1} << 19);
}

TEST(KernelsTest, YencDecodesWhatAnEncoderWrote) {
    std::mt19937 rng(5);
    for (size_t lineLen : {128, 16, 31, 64, 255}) {
        const TBytes data = Noise(200000, rng);
        const auto lines = YencEncode(data, lineLen);
        for (const auto& kernel : YencKernelsAvailable()) {
            SCOPED_TRACE(std::string(kernel.Name) + " lines of " + std::to_string(lineLen));
            TBytes decoded;
            for (const std::string& line : lines) {
                const TBytes part = YencRun(kernel.Run, line);
                decoded.insert(decoded.end(), part.begin(), part.end());
            }
            ASSERT_EQ(decoded, data);
        }
    }
}

TEST(KernelsTest, YencDecodesInPlace) {
    std::mt19937 rng(11);
    auto lines = AwkwardYencLines();
    for (const std::string& line : YencEncode(Noise(20000, rng), 128)) lines.push_back(line);
    for (const auto& kernel : YencKernelsAvailable()) {
        SCOPED_TRACE(kernel.Name);
        for (const std::string& line : lines) {
            std::unique_ptr<char[]> buf(new char[line.size() + 1]);
            std::memcpy(buf.get(), line.data(), line.size());
            const size_t n =
                kernel.Run(buf.get(), line.size(), reinterpret_cast<uint8_t*>(buf.get()));
            const TBytes got(buf.get(), buf.get() + n);
            ASSERT_EQ(got, YencRun(YencDecodeDataScalar, line)) << line;
        }
    }
}

// ---- base64 ----

TEST(KernelsTest, Base64WorkedExamples) {
    struct TCase {
        std::string_view In;
        size_t MaxGroups;
        std::string_view Out;
        size_t Consumed;
    } cases[] = {
        {"TWFu", 10, "Man", 4},
        {"TWFuTWFu", 10, "ManMan", 8},
        {"TWFuTWFu", 1, "Man", 4},   // at most maxGroups
        {"TWFuTWFu", 0, "", 0},      //
        {"SGVsbG8=", 10, "Hel", 4},  // stops before a group with "="
        {"SGVsbG8", 10, "Hel", 4},   // an unfinished group is left over
        {"TWF", 10, "", 0},          //
        {"TWFu\r\n", 10, "Man", 4},  // line end: not the alphabet
        {"TW-u", 10, "", 0},         // foreign byte inside the first group
        {"////++++AAAA", 10, std::string_view("\xFF\xFF\xFF\xFB\xEF\xBE\0\0\0", 9), 12},
        {"Zz09", 10, "\x67\x3D\x3D", 4},  // Z=25 z=51 0=52 9=61
    };
    for (const auto& kernel : Base64KernelsAvailable()) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(kernel.Name) + " on \"" + std::string(c.In) + "\"");
            const TBase64Result r = Base64Run(kernel.Run, c.In, c.MaxGroups);
            EXPECT_EQ(Str(r.Bytes), std::string(c.Out));
            EXPECT_EQ(r.Consumed, c.Consumed);
        }
    }
}

TEST(KernelsTest, Base64EveryByteValueIsJudgedByTheAlphabet) {
    // One odd character in the middle of a 76-character line: the prefix
    // ends before its group unless it is one of the 64.
    for (const auto& kernel : Base64KernelsAvailable()) {
        SCOPED_TRACE(kernel.Name);
        for (int b = 0; b < 256; ++b) {
            std::string line(76, 'Q');
            line[37] = static_cast<char>(b);
            const bool inAlphabet = ALPHABET.find(static_cast<char>(b)) != std::string_view::npos;
            const TBase64Result r = Base64Run(kernel.Run, line, 100);
            ASSERT_EQ(r.Consumed, inAlphabet ? 76u : 36u) << "byte " << b;
            if (inAlphabet) {
                // 'Q' is 16: the groups around it decode to 0x41 0x04 0x10.
                const uint32_t v = static_cast<uint32_t>(ALPHABET.find(static_cast<char>(b)));
                const uint32_t x = 16u << 18 | v << 12 | 16u << 6 | 16u;
                EXPECT_EQ(r.Bytes[27], x >> 16);
                EXPECT_EQ(r.Bytes[28], (x >> 8) & 0xFF);
                EXPECT_EQ(r.Bytes[29], x & 0xFF);
            }
        }
    }
}

TEST(KernelsTest, Base64FastVersionsMatchTheReferenceAtEveryStop) {
    // Valid text of every length, cut by a foreign byte at every position
    // and by every limit on the groups.
    std::mt19937 rng(3);
    const char foreign[] = {'=', '\0', '\n', ' ',    '-',    '.',    ':',   '@',
                            '[', '`',  '{',  '\x7F', '\x80', '\xAB', '\xFF'};
    const auto fast = FastOnly(Base64KernelsAvailable());
    for (size_t len = 0; len <= 140; ++len) {
        std::string line(len, 'A');
        for (char& c : line) c = ALPHABET[rng() % 64];
        std::vector<std::string> variants = {line};
        for (size_t p = 0; p < len; ++p) {
            std::string s = line;
            s[p] = foreign[(p + len) % sizeof foreign];
            variants.push_back(s);
        }
        for (const std::string& s : variants) {
            const size_t limits[] = {0, 1,  3,  4,       5,           7,       8,
                                     9, 16, 17, len / 4, len / 4 + 1, SIZE_MAX};
            for (size_t maxGroups : limits) {
                const TBase64Result want = Base64Run(Base64DecodeGroupsScalar, s, maxGroups);
                for (const auto& kernel : fast) {
                    ASSERT_EQ(Base64Run(kernel.Run, s, maxGroups), want)
                        << kernel.Name << " on \"" << s << "\" max " << maxGroups;
                }
            }
        }
    }
}

TEST(KernelsTest, Base64RandomBytesAndAHugeLine) {
    std::mt19937 rng(8);
    const auto fast = FastOnly(Base64KernelsAvailable());
    for (int round = 0; round < 2000; ++round) {
        // Mostly alphabet, some anything: prefixes of all lengths.
        std::string s(rng() % 300, 'A');
        for (char& c : s) c = rng() % 40 == 0 ? static_cast<char>(rng()) : ALPHABET[rng() % 64];
        const size_t maxGroups = rng() % 3 == 0 ? rng() % 80 : SIZE_MAX;
        const TBase64Result want = Base64Run(Base64DecodeGroupsScalar, s, maxGroups);
        for (const auto& kernel : fast) {
            ASSERT_EQ(Base64Run(kernel.Run, s, maxGroups), want) << kernel.Name << " " << s;
        }
    }
    const TBytes data = Noise(3 << 18, rng);
    const std::string huge = Base64Encode(data);
    for (const auto& kernel : Base64KernelsAvailable()) {
        const TBase64Result r = Base64Run(kernel.Run, huge, SIZE_MAX);
        EXPECT_EQ(r.Consumed, huge.size()) << kernel.Name;
        EXPECT_TRUE(r.Bytes == data) << kernel.Name;
        std::string broken = huge;
        broken[broken.size() - 5] = '*';
        EXPECT_EQ(Base64Run(kernel.Run, broken, SIZE_MAX).Consumed, huge.size() - 8) << kernel.Name;
    }
}

TEST(KernelsTest, Base64DecodesWhatAnEncoderWrote) {
    std::mt19937 rng(21);
    const TBytes data = Noise(57 * 500, rng);
    const std::string text = Base64Encode(data);
    for (const auto& kernel : Base64KernelsAvailable()) {
        TBytes decoded;
        for (size_t at = 0; at < text.size(); at += 76) {
            const TBase64Result r =
                Base64Run(kernel.Run, std::string(text.substr(at, 76)) + "\r\n", SIZE_MAX);
            ASSERT_EQ(r.Consumed, 76u) << kernel.Name;
            decoded.insert(decoded.end(), r.Bytes.begin(), r.Bytes.end());
        }
        EXPECT_TRUE(decoded == data) << kernel.Name;
    }
}

// ---- CRC-32 ----

TEST(KernelsTest, Crc32KnownValues) {
    struct TCase {
        std::string_view Text;
        uint32_t Crc;
    } cases[] = {
        {"", 0},
        {"123456789", 0xCBF43926u},
        {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& kernel : Crc32KernelsAvailable()) {
        SCOPED_TRACE(kernel.Name);
        for (const TCase& c : cases) {
            EXPECT_EQ(Crc(kernel.Run, 0, TBytes(c.Text.begin(), c.Text.end())), c.Crc) << c.Text;
        }
        // Nothing more leaves a running value alone.
        EXPECT_EQ(Crc(kernel.Run, 0xDEADBEEFu, {}), 0xDEADBEEFu);
        // A long run of zeros and of 0xFF against the byte loop.
        const TBytes zeros(100000, 0);
        const TBytes ones(100001, 0xFF);
        EXPECT_EQ(Crc(kernel.Run, 0, zeros), Crc(Crc32UpdateScalar, 0, zeros));
        EXPECT_EQ(Crc(kernel.Run, 0, ones), Crc(Crc32UpdateScalar, 0, ones));
    }
}

TEST(KernelsTest, Crc32FastVersionsMatchTheReference) {
    std::mt19937 rng(17);
    const TBytes data = Noise((1 << 20) + 77, rng);
    const auto fast = FastOnly(Crc32KernelsAvailable());
    // Every length up to a few folding rounds, from every alignment, with
    // running values that are not 0.
    for (size_t len = 0; len <= 600; ++len) {
        const size_t offset = len % 16;
        const TBytes piece(data.begin() + offset, data.begin() + offset + len);
        const uint32_t start = len % 3 == 0 ? 0 : static_cast<uint32_t>(rng());
        const uint32_t want = Crc(Crc32UpdateScalar, start, piece);
        for (const auto& kernel : fast) {
            ASSERT_EQ(Crc(kernel.Run, start, piece), want) << kernel.Name << " length " << len;
        }
    }
    const uint32_t whole = Crc(Crc32UpdateScalar, 0, data);
    for (const auto& kernel : fast) EXPECT_EQ(Crc(kernel.Run, 0, data), whole) << kernel.Name;
}

TEST(KernelsTest, Crc32ContinuesAcrossAnySplit) {
    std::mt19937 rng(23);
    const TBytes data = Noise(20000, rng);
    const uint32_t whole = Crc(Crc32UpdateScalar, 0, data);
    for (const auto& kernel : Crc32KernelsAvailable()) {
        SCOPED_TRACE(kernel.Name);
        for (int round = 0; round < 40; ++round) {
            // Pieces of 0 to 300 bytes, sometimes far bigger.
            uint32_t crc = 0;
            size_t at = 0;
            while (at < data.size()) {
                size_t n = round % 5 == 0 ? rng() % 5000 : rng() % 301;
                n = std::min(n, data.size() - at);
                crc = kernel.Run(crc, data.data() + at, n);
                at += n;
            }
            ASSERT_EQ(crc, whole) << "round " << round;
        }
        uint32_t crc = 0;
        for (uint8_t b : data) crc = kernel.Run(crc, &b, 1);
        EXPECT_EQ(crc, whole);
    }
}

}  // namespace
}  // namespace zorvex
