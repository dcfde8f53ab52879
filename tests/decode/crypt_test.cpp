#include "decode/crypt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "library/fileio.h"

namespace zorvex {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes Bytes(std::string_view s) {
    return TBytes(s.begin(), s.end());
}

uint8_t Rotl(uint8_t c, int r) {
    return static_cast<uint8_t>((c * 0x101u) >> (8 - r));
}

// Stream from the building rule, walking the key as a C text.
TBytes ReferenceStream(const std::string& key) {
    TBytes out;
    const char* p = key.c_str();
    int r = 0;
    while (out.size() < 256) {
        uint16_t e = KeyTable[Rotl(static_cast<uint8_t>(*p), r)];
        out.push_back(static_cast<uint8_t>(e & 0xFF));
        out.push_back(static_cast<uint8_t>(e >> 8));
        if (*++p == '\0') {
            p = key.c_str();
            r = r == 6 ? 0 : r + 1;
        }
    }
    return out;
}

// Byte by byte with the reference stream: what the fast path must match.
struct TReference {
    TBytes Stream;
    size_t Cursor = 0;
    uint32_t Checksum = 0;
    void Run(uint8_t* buf, size_t len, bool encrypt) {
        for (size_t i = 0; i < len; ++i) {
            uint8_t in = buf[i];
            buf[i] = in ^ Stream[Cursor];
            Cursor = (Cursor + 1) % 256;
            if (encrypt) {
                Checksum += in;
            } else {
                Checksum -= buf[i];
            }
        }
    }
};

TBytes Noise(size_t n, uint32_t seed) {
    TBytes out(n);
    for (uint8_t& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

TBytes StreamOf(std::string_view key, size_t n) {
    CryptState s;
    CryptInit(s, key, 1);
    TBytes zeros(n, 0);
    CryptEncrypt(s, zeros.data(), zeros.size());
    return zeros;
}

// A header read: the first Count bytes of Data under Key give Result.
struct THeaderCase {
    const char* Name;
    TBytes Data;
    size_t Count;
    const char* Key;
    int Result;
};

TEST(CryptTest, KeyTableMatchesTheLayout) {
    // A few entries read off the rows by hand, and the sum of all 256.
    EXPECT_EQ(KeyTable[0x00], 0x4488);
    EXPECT_EQ(KeyTable[0x0F], 0x5FF6);
    EXPECT_EQ(KeyTable[0x3F], 0x8700);
    EXPECT_EQ(KeyTable[0x80], 0xBD89);
    EXPECT_EQ(KeyTable[0xCA], 0x00AC);
    EXPECT_EQ(KeyTable[0xFF], 0x3C20);
    uint32_t sum = 0;
    for (uint16_t v : KeyTable) sum += v;
    EXPECT_EQ(sum, 0x809FDCu);
}

TEST(CryptTest, KnownStreamsForShortKeys) {
    // Worked by hand from the table. "a" = 61: rotations 61 C2 85 0B 16 2C 58,
    // then 61 again. "ab" turns the rotation after every second entry.
    struct TCase {
        const char* Key;
        TBytes Start;
    } cases[] = {
        {"a",
         {0x70, 0x06, 0x28, 0xB2, 0xEE, 0xFE, 0xFB, 0xF0, 0xFF, 0x86, 0x86, 0x04, 0xA2, 0x03, 0x70,
          0x06}},
        {"ab", {0x70, 0x06, 0xEB, 0x8B, 0x28, 0xB2, 0x2D, 0xF1}},
        {"T", {0xD8, 0x1E}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Key);
        EXPECT_EQ(StreamOf(c.Key, c.Start.size()), c.Start);
    }
    CryptState s;
    CryptInit(s, "a", 1);
    TBytes text = Bytes("hello");
    CryptEncrypt(s, text.data(), text.size());
    EXPECT_EQ(text, (TBytes{0x18, 0x63, 0x44, 0xDE, 0x81}));
    EXPECT_EQ(s.Checksum, 532u);
}

TEST(CryptTest, OneCharacterKeyWalksTheSevenRotations) {
    for (int c : {0x61, 0x01, 0x80, 0xFF, 0xA5}) {
        SCOPED_TRACE(c);
        const std::string key(1, static_cast<char>(c));
        TBytes stream = StreamOf(key, 256);
        for (int n = 0; n < 128; ++n) {
            const int r = n % 7;
            const uint8_t index = static_cast<uint8_t>(c << r | c >> (8 - r));
            EXPECT_EQ(stream[2 * n] | stream[2 * n + 1] << 8, KeyTable[index]) << "entry " << n;
        }
    }
}

TEST(CryptTest, StreamFollowsTheBuildingRule) {
    const char* longKey =
        "a key long enough that 128 entries never reach its end, since it "
        "runs well over one hundred and twenty-eight characters in all, really";
    const char* keys[] = {"ab", "secret",
                          "seven77",  // exactly one rotation cycle per pass
                          "\x01\x80\xFF\x7F", longKey};
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(StreamOf(key, 256), ReferenceStream(key));
    }
}

TEST(CryptTest, CursorWrapsAtTheEndOfTheStream) {
    TBytes stream = StreamOf("wrap", 700);
    for (size_t i = 256; i < stream.size(); ++i) ASSERT_EQ(stream[i], stream[i % 256]) << i;
}

TEST(CryptTest, KeyIsTakenUpToItsFirstNul) {
    EXPECT_EQ(StreamOf(std::string_view("ab\0cd", 5), 256), StreamOf("ab", 256));
    CryptState s;
    CryptInit(s, std::string_view("ab\0cd", 5), 1);
    EXPECT_EQ(s.UserKey, "ab");
    EXPECT_EQ(s.KeyCheck, static_cast<uint32_t>('a' + 'b'));
}

TEST(CryptTest, EmptyKeyGivesTheFirstTableEntryRepeated) {
    // The guard: no key byte to read, so the byte 0 stands in for it.
    TBytes stream = StreamOf("", 512);
    for (size_t i = 0; i < stream.size(); i += 2) {
        ASSERT_EQ(stream[i], 0x88) << i;
        ASSERT_EQ(stream[i + 1], 0x44) << i;
    }
}

TEST(CryptTest, InitSetsMagicKeyCheckAndClearsState) {
    CryptState s;
    CryptInit(s, "zz", 1);
    TBytes junk(300, 1);
    CryptEncrypt(s, junk.data(), junk.size());
    CryptInit(s, "\xFF\xFF\x03", 2);
    EXPECT_EQ(std::memcmp(s.Magic, "KVEN1\n\0\0", 8), 0);
    EXPECT_EQ(s.KeyCheck, (0xFFu + 0xFF + 3) % 256);
    EXPECT_EQ(s.Checksum, 0u);
    EXPECT_EQ(s.Cursor, 0u);
    EXPECT_FALSE(s.KeyStreamBuilt);
    EXPECT_EQ(s.Kind, 2);
    EXPECT_EQ(s.WorkingKey, "\xFF\xFF\x03");
    CryptInit(s, "k", 1);
    EXPECT_EQ(std::memcmp(s.Magic, "KVENC\n\0\0", 8), 0);
    EXPECT_EQ(s.Kind, 1);
}

TEST(CryptTest, FastPathMatchesByteByByteAcrossAwkwardSplits) {
    // Each split runs through the blocks in order; all-0xFF data fills the
    // checksum lanes to their limit.
    const std::vector<std::vector<size_t>> splits = {
        {5000},
        {1, 7, 8, 9, 255, 256, 257, 511, 513, 3183},
        {3, 1021, 1024, 1025, 2, 1925},
        {256, 256, 256, 4232},
        {0, 4999, 0, 1},
    };
    const TBytes inputs[] = {Noise(5000, 7), TBytes(5000, 0xFF), TBytes(5000, 0)};
    for (const TBytes& input : inputs) {
        for (const auto& split : splits) {
            for (bool encrypt : {true, false}) {
                SCOPED_TRACE(::testing::Message() << "encrypt " << encrypt << " first block "
                                                  << split[0] << " byte " << int(input[0]));
                TReference ref{ReferenceStream("Sp1it"), 0, 0};
                CryptState s;
                CryptInit(s, "Sp1it", 1);
                TBytes fast = input;
                TBytes slow = input;
                size_t at = 0;
                for (size_t n : split) {
                    if (encrypt) {
                        CryptEncrypt(s, fast.data() + at, n);
                    } else {
                        CryptDecrypt(s, fast.data() + at, n);
                    }
                    ref.Run(slow.data() + at, n, encrypt);
                    at += n;
                    ASSERT_EQ(s.Cursor, ref.Cursor);
                    ASSERT_EQ(s.Checksum, ref.Checksum);
                }
                ASSERT_EQ(at, input.size());
                EXPECT_EQ(fast, slow);
            }
        }
    }
}

TEST(CryptTest, ChecksumWrapsBothWays) {
    // 17 MiB of 0xFF sums past 2^32.
    TBytes big(17u << 20, 0xFF);
    CryptState s;
    CryptInit(s, "wrap", 1);
    CryptEncrypt(s, big.data(), big.size());
    const uint64_t total = 0xFFull * big.size();
    EXPECT_EQ(s.Checksum, static_cast<uint32_t>(total));

    CryptState d;
    CryptInit(d, "wrap", 1);
    TBytes plain = Bytes("abc");
    CryptEncrypt(d, plain.data(), plain.size());
    CryptInit(d, "wrap", 1);
    CryptDecrypt(d, plain.data(), plain.size());
    EXPECT_EQ(plain, Bytes("abc"));
    EXPECT_EQ(d.Checksum, static_cast<uint32_t>(0) - ('a' + 'b' + 'c'));
    EXPECT_FALSE(CryptChecksumOk(d));
}

TBytes EncryptWhole(std::string_view key, const TBytes& plain) {
    CryptState s;
    CryptInit(s, key, 1);
    TBytes out(CRYPT_HEADER_SIZE);
    TBytes data = plain;
    CryptEncrypt(s, data.data(), data.size());
    CryptFormatHeader(s, out.data());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST(CryptTest, FormatsTheKindOneHeaderLittleEndian) {
    CryptState s;
    CryptInit(s, "ab", 2);  // the header written is always kind 1
    s.Checksum = 0x04030201;
    uint8_t header[CRYPT_HEADER_SIZE];
    std::memset(header, 0xEE, sizeof header);
    CryptFormatHeader(s, header);
    TBytes expected(CRYPT_HEADER_SIZE, 0);
    const uint8_t start[] = {'K', 'V', 'E', 'N', 'C', '\n', 0, 0, 0xC3, 0, 0, 0, 1, 2, 3, 4};
    std::copy(std::begin(start), std::end(start), expected.begin());
    EXPECT_EQ(TBytes(header, header + sizeof header), expected);
}

TEST(CryptTest, WritesTheHeaderAtTheCurrentPosition) {
    char path[] = "/tmp/zorvex_crypt_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "12345", 5));
    CryptState s;
    CryptInit(s, "k", 1);
    s.Checksum = 7;
    EXPECT_TRUE(CryptWriteHeader(s, fd));
    uint8_t expected[CRYPT_HEADER_SIZE];
    CryptFormatHeader(s, expected);
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(path, &contents));
    EXPECT_EQ(contents.substr(0, 5), "12345");
    EXPECT_EQ(contents.substr(5), std::string(reinterpret_cast<char*>(expected), sizeof expected));

    InjectFileFault(TFileFault::DISK_FULL);
    EXPECT_FALSE(CryptWriteHeader(s, fd));
    ClearFileFaults();
    close(fd);
    unlink(path);
}

TEST(CryptTest, RoundTripThroughTheHeader) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{255}, size_t{1000}, size_t{70001}}) {
        SCOPED_TRACE(size);
        const TBytes plain = Noise(size, static_cast<uint32_t>(size));
        TBytes file = EncryptWhole("Pass Word", plain);
        if (size > 8) {
            EXPECT_NE(TBytes(file.begin() + 40, file.end()), plain);
        }
        CryptState s;
        ASSERT_EQ(CryptReadHeader(s, "Pass Word", file.data(), file.size()), 40);
        // Uneven pieces, as a reader would deliver them.
        for (size_t at = 40, step = 1; at < file.size(); at += step, step = step * 3 + 1) {
            size_t n = std::min(step, file.size() - at);
            CryptDecrypt(s, file.data() + at, n);
        }
        EXPECT_TRUE(CryptChecksumOk(s));
        EXPECT_EQ(TBytes(file.begin() + 40, file.end()), plain);
    }
}

TEST(CryptHeaderTest, RecognisesKindOne) {
    TBytes good = EncryptWhole("ab", Bytes("plain data"));
    auto with = [&](size_t at, uint8_t value) {
        TBytes copy = good;
        copy[at] = value;
        return copy;
    };
    const THeaderCase cases[] = {
        {"right key", good, good.size(), "ab", 40},
        {"same byte sum", good, good.size(), "ba", 40},
        {"header only", good, 40, "ab", 40},
        {"eighth byte not examined", with(7, 'X'), good.size(), "ab", 40},
        {"other byte sum", good, good.size(), "abc", CRYPT_BAD_KEY},
        {"no key", good, good.size(), "", CRYPT_BAD_KEY},
        {"no key beats short", good, 12, "", CRYPT_BAD_KEY},
        {"key check over 255", with(9, 1), good.size(), "ab", CRYPT_BAD_KEY},
        {"short header", good, 39, "ab", CRYPT_NOT_ENCRYPTED},
        {"under eight bytes", good, 7, "ab", CRYPT_NOT_ENCRYPTED},
        {"no NUL after magic", with(6, ' '), good.size(), "ab", CRYPT_NOT_ENCRYPTED},
        {"magic changed", with(0, 'k'), good.size(), "ab", CRYPT_NOT_ENCRYPTED},
        {"plain text", Bytes("Just some ordinary file contents, long enough."), 46, "ab",
         CRYPT_NOT_ENCRYPTED},
    };
    for (const THeaderCase& c : cases) {
        SCOPED_TRACE(c.Name);
        CryptState s;
        EXPECT_EQ(CryptReadHeader(s, c.Key, c.Data.data(), c.Count), c.Result);
    }
    CryptState s;
    EXPECT_EQ(CryptReadHeader(s, "ab", nullptr, 0), CRYPT_NOT_ENCRYPTED);

    ASSERT_EQ(CryptReadHeader(s, "ab", good.data(), good.size()), 40);
    uint32_t stored;
    std::memcpy(&stored, good.data() + 12, 4);
    EXPECT_EQ(s.Checksum, stored);
    EXPECT_EQ(s.Kind, 1);
    EXPECT_EQ(s.WorkingKey, "ab");
    EXPECT_FALSE(s.KeyStreamBuilt);
}

TEST(CryptHeaderTest, ReadingAHeaderRestartsTheStream) {
    TBytes file = EncryptWhole("key", Bytes("0123456789"));
    CryptState s;
    CryptInit(s, "key", 1);
    TBytes junk(100, 0);
    CryptEncrypt(s, junk.data(), junk.size());
    ASSERT_EQ(CryptReadHeader(s, "key", file.data(), file.size()), 40);
    CryptDecrypt(s, file.data() + 40, file.size() - 40);
    EXPECT_EQ(TBytes(file.begin() + 40, file.end()), Bytes("0123456789"));
    EXPECT_TRUE(CryptChecksumOk(s));
}

void PutLe32(TBytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Kind-2 files come from elsewhere; this writer exists only here. The inner
// key block is enciphered under the user key, the data under the inner key
// (as a text: up to its first NUL).
struct TKind2 {
    std::string UserKey = "user key";
    std::string Inner = std::string("inner!", 7);  // with its NUL
    std::string Note = "made by another program";
    std::string Extra = "xx";
    TBytes Plain = Bytes("kind two plain data");

    TBytes Build() const {
        TBytes out = Bytes(std::string_view("KVEN1\n\0\0", 8));
        uint32_t check = 0;
        for (unsigned char c : UserKey) check += c;
        uint32_t sum = 0;
        for (uint8_t b : Plain) sum += b;
        PutLe32(out, check & 0xFF);
        PutLe32(out, sum);
        TBytes inner = Bytes(Inner);
        CryptState outer;
        CryptInit(outer, UserKey, 1);
        CryptEncrypt(outer, inner.data(), inner.size());
        PutLe32(out, static_cast<uint32_t>(inner.size()));
        out.insert(out.end(), inner.begin(), inner.end());
        PutLe32(out, static_cast<uint32_t>(Note.size()));
        out.insert(out.end(), Note.begin(), Note.end());
        PutLe32(out, static_cast<uint32_t>(Extra.size()));
        out.insert(out.end(), Extra.begin(), Extra.end());
        TBytes data = Plain;
        CryptState s;
        CryptInit(s, std::string_view(Inner.c_str()), 1);
        CryptEncrypt(s, data.data(), data.size());
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
    size_t HeaderSize() const { return 28 + Inner.size() + Note.size() + Extra.size(); }
};

void SetLe32(TBytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(CryptKind2Test, ReadsHeaderAndDecipherUnderTheInnerKey) {
    TKind2 k;
    TBytes file = k.Build();
    CryptState s;
    ::testing::internal::CaptureStderr();
    int header = CryptReadHeader(s, k.UserKey, file.data(), file.size());
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(header, static_cast<int>(k.HeaderSize()));
    EXPECT_EQ(err, "7 2 23\n");  // L1, X, L2
    EXPECT_EQ(s.Kind, 2);
    EXPECT_STREQ(s.InnerKey, "inner!");
    EXPECT_EQ(s.WorkingKey, "inner!");
    EXPECT_EQ(s.UserKey, k.UserKey);
    EXPECT_EQ(std::memcmp(s.Magic, "KVEN1\n\0\0", 8), 0);
    CryptDecrypt(s, file.data() + header, file.size() - header);
    EXPECT_EQ(TBytes(file.begin() + header, file.end()), k.Plain);
    EXPECT_TRUE(CryptChecksumOk(s));
}

TEST(CryptKind2Test, InnerKeyAreaIsDecipheredWholeWithZeroPadding) {
    TBytes userStream = StreamOf("user key", 128);
    struct TCase {
        const char* Name;
        std::string Inner;
        std::string Expected;
    } cases[] = {
        // Past L1 the zeros decipher to the user key's stream, up to its first 0.
        {"no NUL in the block", "abc",
         "abc" + std::string(reinterpret_cast<char*>(userStream.data()) + 3,
                             strnlen(reinterpret_cast<char*>(userStream.data()) + 3, 125))},
        {"empty block", "",
         std::string(reinterpret_cast<char*>(userStream.data()),
                     strnlen(reinterpret_cast<char*>(userStream.data()), 128))},
        // 128 non-zero bytes still end in a NUL.
        {"full block", std::string(128, 'q'), std::string(128, 'q')},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TKind2 k;
        k.Inner = c.Inner;
        TBytes file = k.Build();
        CryptState s;
        ::testing::internal::CaptureStderr();
        int header = CryptReadHeader(s, k.UserKey, file.data(), file.size());
        ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(header, static_cast<int>(k.HeaderSize()));
        EXPECT_EQ(s.WorkingKey, c.Expected);
        EXPECT_EQ(std::string(s.InnerKey), c.Expected);
        EXPECT_EQ(s.InnerKey[CRYPT_INNER_KEY_SIZE], '\0');
    }
}

TEST(CryptKind2Test, RejectsBrokenHeaders) {
    TKind2 k;
    const TBytes good = k.Build();
    const size_t l2At = 20 + k.Inner.size();
    const size_t xAt = l2At + 4 + k.Note.size();
    auto patched = [&](size_t at, uint32_t v) {
        TBytes b = good;
        SetLe32(b, at, v);
        return b;
    };
    TKind2 emptyInner;
    emptyInner.Inner = std::string("\0tail", 5);
    TKind2 maxSizes;
    maxSizes.Inner = std::string(127, 'i') + '\0';
    maxSizes.Note = std::string(256, 'n');
    maxSizes.Extra.clear();
    TBytes tooLongNote = maxSizes.Build();
    SetLe32(tooLongNote, 20 + 128, 257);
    const uint32_t fixed = static_cast<uint32_t>(28 + k.Inner.size() + k.Note.size());
    const THeaderCase cases[] = {
        {"good", good, good.size(), "user key", static_cast<int>(k.HeaderSize())},
        {"header exactly", good, k.HeaderSize(), "user key", static_cast<int>(k.HeaderSize())},
        {"largest blocks", maxSizes.Build(), maxSizes.Build().size(), "user key",
         static_cast<int>(maxSizes.HeaderSize())},
        {"header one byte short", good, k.HeaderSize() - 1, "user key", CRYPT_NOT_ENCRYPTED},
        {"X past the data", patched(xAt, 1000), good.size(), "user key", CRYPT_NOT_ENCRYPTED},
        // In 32 bits this length would wrap round to 40 and pass.
        {"X wraps 32 bits", patched(xAt, 0u - fixed + 40), good.size(), "user key",
         CRYPT_NOT_ENCRYPTED},
        {"X largest", patched(xAt, UINT32_MAX), good.size(), "user key", CRYPT_NOT_ENCRYPTED},
        {"L1 over 128", patched(16, 129), good.size(), "user key", CRYPT_NOT_ENCRYPTED},
        {"L1 huge", patched(16, 0xFFFFFFF0u), good.size(), "user key", CRYPT_NOT_ENCRYPTED},
        {"L1 past the data", patched(16, 100), 60, "user key", CRYPT_NOT_ENCRYPTED},
        {"L2 over 256", tooLongNote, tooLongNote.size(), "user key", CRYPT_NOT_ENCRYPTED},
        {"L2 past the data", patched(l2At, 200), good.size(), "user key", CRYPT_NOT_ENCRYPTED},
        {"27 bytes", good, 27, "user key", CRYPT_NOT_ENCRYPTED},
        {"no key", good, 10, "", CRYPT_BAD_KEY},
        {"other byte sum", good, good.size(), "user kez", CRYPT_BAD_KEY},
        {"empty inner key", emptyInner.Build(), emptyInner.Build().size(), "user key",
         CRYPT_BAD_KEY},
    };
    for (const THeaderCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_LE(c.Count, c.Data.size());
        CryptState s;
        ::testing::internal::CaptureStderr();
        int result = CryptReadHeader(s, c.Key, c.Data.data(), c.Count);
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, c.Result);
        // The three numbers are written only for a header that was taken.
        EXPECT_EQ(err.empty(), result < 0) << err;
    }
}

TEST(CryptStoredKeyTest, KnownVectors) {
    // Worked by hand: "a" starts 70 06 28 B2 EE, the settings phrase ("Ta")
    // D8 1E, the viewer phrase ("Am") CB 5F.
    struct TCase {
        const char* Text;
        const char* Phrase;
        const char* Hex;
    } cases[] = {
        {"hello", "a", "186344DE81"},
        {"AB", SETTINGS_KEY_PHRASE, "995C"},
        {"AB", VIEWER_KEY_PHRASE, "8A1D"},
        {"", SETTINGS_KEY_PHRASE, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(EncodeStoredKey(c.Text, c.Phrase), c.Hex);
        EXPECT_EQ(DecodeStoredKey(c.Hex, c.Phrase), c.Text);
    }
    EXPECT_EQ(std::strlen(SETTINGS_KEY_PHRASE), 31u);
    EXPECT_EQ(std::strlen(VIEWER_KEY_PHRASE), 20u);
}

TEST(CryptStoredKeyTest, DecodesLooseHex) {
    struct TCase {
        const char* Name;
        std::string_view Hex;
        const char* Expected;
    } cases[] = {
        {"lower case", "186344de81", "hello"},
        {"odd digit dropped", "186344DE817", "hello"},
        {"single digit", "1", ""},
        {"empty", "", ""},
        {"other characters count 0", "zz", "p"},  // 00 ^ 70
        {"ends at the first NUL", "186328FF", "he"},
        {"hex is a text",
         std::string_view("1863\0"
                          "44",
                          7),
         "he"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(DecodeStoredKey(c.Hex, "a"), c.Expected);
    }
}

TEST(CryptStoredKeyTest, RoundTrips) {
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
    std::string texts[] = {"x", "news-password", std::string(127, '~'), all, std::string(300, 'l')};
    for (const std::string& text : texts) {
        for (const char* phrase : {SETTINGS_KEY_PHRASE, VIEWER_KEY_PHRASE}) {
            std::string hex = EncodeStoredKey(text, phrase);
            ASSERT_EQ(hex.size(), 2 * text.size());
            EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
            EXPECT_EQ(DecodeStoredKey(hex, phrase), text);
            // A wrong phrase gives something else, never a crash.
            EXPECT_NE(DecodeStoredKey(hex, "other"), text);
        }
    }
}

}  // namespace
}  // namespace zorvex
