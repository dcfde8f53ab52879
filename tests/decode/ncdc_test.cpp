// The decoder engine, rule by rule: line kinds and the values taken from
// them, the four decoders line by line (codes and the exact bytes each line
// leaves on disk), the file rules (path limit, names, symbolic links), the
// JPEG virus stop, write failures and hostile lines.
#include "decode/ncdc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/fileio.h"
#include "support/encoders.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::AllByteValues;
using test::B64_ALPHABET;
using test::Base64Line;
using test::Noise;
using test::TTempDir;
using test::TUuStyle;
using test::UuLine;
using namespace std::string_literals;

// yEnc without line splitting: every critical character escaped.
std::string YencLine(std::string_view bytes) {
    std::string line;
    for (unsigned char b : bytes) {
        uint8_t c = static_cast<uint8_t>(b + 42);
        if (c == 0 || c == '\n' || c == '\r' || c == '=' || c == '\t' || c == ' ' || c == '.') {
            line += '=';
            c = static_cast<uint8_t>(c + 64);
        }
        line += static_cast<char>(c);
    }
    return line;
}

// ---- line kinds and values ----

struct TClassifyCase {
    std::string Line;
    TLineKind Kind;
    size_t ValuePos;  // npos: not checked
};

TEST(ClassifyLine, KindsCaseRulesAndValuePositions) {
    constexpr size_t ANY = std::string::npos;
    const TClassifyCase cases[] = {
        {"begin 644 picture.jpg", LINE_BEGIN, 6},
        {"begin   644 x", LINE_BEGIN, 8},
        {"begin \t644 x", LINE_BEGIN, 7},
        {"Begin 644 x", LINE_OTHER, ANY},
        {"BEGIN 644 x", LINE_OTHER, ANY},
        {"begin", LINE_OTHER, ANY},
        {"beginning of it all", LINE_OTHER, ANY},
        // Without an octal mode it is prose, not a file.
        {"begin is just a word here.", LINE_OTHER, ANY},
        {"begin 6x4 name", LINE_OTHER, ANY},
        {"begin 0644 name", LINE_BEGIN, 6},
        {"begin 644", LINE_BEGIN, 6},
        {"Content-Type: text/plain", LINE_CONTENT_TYPE, 14},
        {"content-type:text/plain", LINE_CONTENT_TYPE, 13},
        {"CONTENT-TYPE:   image/jpeg", LINE_CONTENT_TYPE, 16},
        {"Content-Type:", LINE_CONTENT_TYPE, 13},
        {"Content-Type text/plain", LINE_OTHER, ANY},
        {"X-Content-Type: text/plain", LINE_OTHER, ANY},
        {"Content-Transfer-Encoding: base64", LINE_TRANSFER_ENCODING, 27},
        {"content-transfer-encoding:\tBASE64", LINE_TRANSFER_ENCODING, 27},
        {"Content-Disposition: attachment", LINE_DISPOSITION, 21},
        {"CONTENT-DISPOSITION:  inline", LINE_DISPOSITION, 22},
        // A folded line has no keyword: its value starts after the blanks.
        {" begin 644 x", LINE_CONTINUATION, 1},
        {"\tfilename=\"x.jpg\"", LINE_CONTINUATION, 1},
        {" =ybegin line=128", LINE_CONTINUATION, 1},
        {" \t Content-Type: x", LINE_CONTINUATION, 3},
        {"=ybegin line=128 size=3 name=x", LINE_YBEGIN, 8},
        {"=YBEGIN  line=128", LINE_YBEGIN, 9},
        {"=yBegin part=1", LINE_YBEGIN, 8},
        {"=ybegin", LINE_OTHER, ANY},
        {"=ybeginx", LINE_OTHER, ANY},
        {"=ypart begin=1 end=10", LINE_OTHER, ANY},
        {"=yend size=3", LINE_OTHER, ANY},
        {"", LINE_OTHER, ANY},
        {"M86)C", LINE_OTHER, ANY},
    };
    for (const TClassifyCase& c : cases) {
        SCOPED_TRACE("line \"" + c.Line + "\"");
        size_t pos = 12345;
        EXPECT_EQ(ClassifyLine(c.Line, &pos), c.Kind);
        if (c.ValuePos != ANY) {
            EXPECT_EQ(pos, c.ValuePos);
        }
    }
}

TEST(BeginLineName, NameAfterTheMode) {
    struct TCase {
        std::string Line;
        bool Ok;
        std::string Name;
    };
    const TCase cases[] = {
        {"begin 644 picture.jpg", true, "picture.jpg"},
        {"begin 755 run.sh", true, "run.sh"},
        {"begin 644 My Holiday.jpg", true, "My Holiday.jpg"},
        {"begin 644", false, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        std::string name = "stale";
        EXPECT_EQ(BeginLineName(c.Line, &name), c.Ok);
        EXPECT_EQ(name, c.Name);
    }
}

TEST(YencHeader, NamePartAndSize) {
    struct TCase {
        std::string Line;
        bool HasName;
        std::string Name;
        int64_t Part;
        int64_t Size;
    };
    const TCase cases[] = {
        {"=ybegin part=3 line=128 size=500000 name=My File.jpg", true, "My File.jpg", 3, 500000},
        {"=ybegin line=128 size=123 name=x.bin", true, "x.bin", -1, 123},
        {"=ybegin part=1 total=9 line=128 size=5000000000 name=big.iso", true, "big.iso", 1,
         5000000000},
        {"=ybegin line=128 name=nosize.bin", true, "nosize.bin", -1, -1},
        {"=ybegin part=12 line=128 size=7", false, "", 12, 7},
        {"=ybegin line=128", false, "", -1, -1},
        // Keys count only as words of their own, and never inside the name.
        {"=ybegin line=128 size=500 name=apart=3 size=9.jpg", true, "apart=3 size=9.jpg", -1, 500},
        {"=ybegin xpart=4 line=128 size=10 name=a", true, "a", -1, 10},
        {"=ybegin\tPART=2\tSIZE=10\tNAME=Up.JPG", true, "Up.JPG", 2, 10},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        std::string name = "stale";
        EXPECT_EQ(YencName(c.Line, &name), c.HasName);
        EXPECT_EQ(name, c.Name);
        EXPECT_EQ(YencPart(c.Line), c.Part);
        EXPECT_EQ(YencSize(c.Line), c.Size);
    }
}

TEST(TidyFileName, QuotesPartCountersAndEmptyNames) {
    struct TCase {
        std::string Source;
        bool Ok;
        std::string Name;
    };
    const TCase cases[] = {
        {"\"file name.jpg\" more", true, "file name.jpg"},
        {"\"quoted.zip\"", true, "quoted.zip"},
        {"picture.jpg (1/3)", true, "picture.jpg"},
        {"My Holiday.jpg (2/3)", true, "My Holiday.jpg"},
        {"plain.txt", true, "plain.txt"},
        {"README  ", true, "README  "},
        {"no dot at all", true, "no dot at all"},
        {"", false, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("source \"" + c.Source + "\"");
        std::string name;
        EXPECT_EQ(TidyFileName(c.Source, &name), c.Ok);
        if (c.Ok) {
            EXPECT_EQ(name, c.Name);
        }
    }
}

TEST(TransferEncoding, TokensAndNames) {
    struct TCase {
        std::string Token;
        TTransferEncoding Code;
    };
    const TCase cases[] = {
        {"base64", TE_BASE64}, {"BASE64", TE_BASE64},     {"Base64", TE_BASE64},
        {"x-uu", TE_X_UU},     {"X-UU", TE_X_UU},         {"x-xx", TE_X_XX},
        {"X-Xx", TE_X_XX},     {"7bit", TE_UNKNOWN},      {"quoted-printable", TE_UNKNOWN},
        {"base6", TE_UNKNOWN}, {"base644", TE_UNKNOWN},   {"x-u", TE_UNKNOWN},
        {"", TE_UNKNOWN},      {"\0base64"s, TE_UNKNOWN},
    };
    TDecoder decoder;
    EXPECT_EQ(decoder.TransferEncoding(), TE_UNKNOWN);
    for (const TCase& c : cases) {
        SCOPED_TRACE("token \"" + c.Token + "\"");
        // Each token replaces what the last one said.
        decoder.SetTransferEncoding(c.Code == TE_BASE64 ? "x-uu" : "base64");
        decoder.SetTransferEncoding(c.Token);
        EXPECT_EQ(decoder.TransferEncoding(), c.Code);
    }

    std::vector<std::string> names;
    for (TTransferEncoding code : {TE_UNKNOWN, TE_X_UU, TE_X_XX, TE_BASE64}) {
        const char* name = TransferEncodingName(code);
        ASSERT_NE(name, nullptr) << static_cast<int>(code);
        EXPECT_NE(name[0], '\0') << static_cast<int>(code);
        for (const std::string& other : names) EXPECT_NE(other, name) << static_cast<int>(code);
        names.push_back(name);
    }
    EXPECT_STREQ(TransferEncodingName(TE_BASE64), "base64");
}

// ---- decoding, line by line ----

class DecoderTest : public ::testing::Test {
  protected:
    void TearDown() override { ClearFileFaults(); }

    std::string Dir() const { return Tmp.Path() + "/"; }

    std::string Read(const std::string& name) const {
        std::string contents;
        EXPECT_TRUE(ReadWholeFile(Tmp.File(name), &contents)) << name;
        return contents;
    }

    // A fresh file in the mode; false when it could not be begun.
    bool Open(const std::string& name, TDecodeMode mode, bool append = false) {
        Decoder.SetDecodeMode(mode);
        const bool ok = mode == MODE_BASE64 ? Decoder.BeginBase64File(Dir(), name)
                                            : Decoder.BeginUuFile(Dir(), name, append);
        Decoder.SetDecodeMode(mode);
        return ok;
    }

    struct TResult {
        TDecodeResult Code;
        std::string Written;  // what the line added to the file
    };

    // In a file of its own: decodes first (a full line of 45 bytes, which
    // must be accepted) unless it is empty, then line.
    TResult DecodeAfter(TDecodeMode mode, const std::string& first, std::string_view line) {
        const std::string name = "case" + std::to_string(++Cases) + ".bin";
        EXPECT_TRUE(Open(name, mode));
        size_t firstBytes = 0;
        if (!first.empty()) {
            EXPECT_EQ(Decoder.DecodeLine(first), DECODE_OK);
            firstBytes = 45;
        }
        TResult r;
        r.Code = Decoder.DecodeLine(line);
        Decoder.EndFile();
        const std::string contents = Read(name);
        EXPECT_GE(contents.size(), firstBytes);
        r.Written = contents.substr(std::min(firstBytes, contents.size()));
        return r;
    }

    struct TLineCase {
        std::string Line;
        TDecodeResult Code;
        std::string Written;
    };

    // Each line in a file of its own, after first.
    void RunTable(TDecodeMode mode, const std::string& first, const std::vector<TLineCase>& cases) {
        for (const TLineCase& c : cases) {
            SCOPED_TRACE("line \"" + c.Line.substr(0, 80) + "\"");
            const TResult r = DecodeAfter(mode, first, c.Line);
            EXPECT_EQ(r.Code, c.Code);
            EXPECT_TRUE(r.Written == c.Written) << "wrote " << ::testing::PrintToString(r.Written)
                                                << "\nwant " << ::testing::PrintToString(c.Written);
        }
    }

    TTempDir Tmp;
    TDecoder Decoder;
    int Cases = 0;
};

TEST_F(DecoderTest, UuFirstLinePicksTheAlphabet) {
    const std::string data = Noise(45, 1);
    struct TCase {
        std::string Line;
        TDecodeResult Code;
        const char* Method;
        std::string Written;
    };
    const TCase cases[] = {
        {UuLine(data), DECODE_OK, "UUdecode", data},
        {UuLine(data, TUuStyle::BACKQUOTE), DECODE_OK, "UUdecode", data},
        {UuLine(data, TUuStyle::XX), DECODE_OK, "XXdecode", data},
        // Files under 45 bytes have no full line: the length character
        // picks the alphabet whose count fits the line.
        {UuLine(data.substr(0, 44)), DECODE_OK, "UUdecode", data.substr(0, 44)},
        {UuLine(data.substr(0, 44), TUuStyle::XX), DECODE_OK, "XXdecode", data.substr(0, 44)},
        {UuLine(data.substr(0, 1)), DECODE_OK, "UUdecode", data.substr(0, 1)},
        {UuLine(data.substr(0, 1), TUuStyle::XX), DECODE_OK, "XXdecode", data.substr(0, 1)},
        {UuLine(data.substr(0, 20), TUuStyle::BACKQUOTE), DECODE_OK, "UUdecode",
         data.substr(0, 20)},
        {UuLine(data.substr(0, 33)).substr(0, 40), DECODE_BAD_FIRST_LINE, nullptr, ""},
        {"Z" + UuLine(data.substr(0, 30)).substr(1), DECODE_BAD_FIRST_LINE, nullptr, ""},
        {"no data here", DECODE_BAD_FIRST_LINE, nullptr, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        TDecoder decoder;
        EXPECT_STREQ(decoder.MethodName(), "Encoding Method Goes Here");
        decoder.SetDecodeMode(MODE_UU);
        ASSERT_TRUE(decoder.BeginUuFile(Dir(), "first.bin", false));
        decoder.SetDecodeMode(MODE_UU);
        EXPECT_EQ(decoder.DecodeLine(c.Line), c.Code);
        if (c.Method) {
            EXPECT_STREQ(decoder.MethodName(), c.Method);
        }
        if (c.Code == DECODE_OK) {
            // The full-line character follows the alphabet, for a file
            // that continues in the next article.
            EXPECT_TRUE(decoder.IsFullLine(std::string(c.Method[0] == 'U' ? "M" : "h")));
            decoder.EndFile();
            EXPECT_EQ(Read("first.bin"), c.Written);
        }
    }
}

TEST_F(DecoderTest, UuLinesCodesAndBytes) {
    const std::string full = UuLine(std::string(45, 'Z'));
    const std::string noise = Noise(45, 2);
    std::string lower = UuLine(noise);
    for (size_t i = 1; i < lower.size(); ++i) {
        lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(lower[i])));
    }
    ASSERT_NE(lower, UuLine(noise));

    std::string noisy59 = UuLine(noise);
    noisy59.pop_back();  // the last group loses one character: the last byte's low bits
    std::string expected59 = noise;
    expected59[44] = static_cast<char>(expected59[44] & 0xC0);

    const std::vector<TLineCase> cases = {
        {"#86)C", DECODE_OK, "abc"},
        {UuLine(noise), DECODE_OK, noise},
        {lower, DECODE_OK, noise},
        // Blank and backquote both mean 0, also as the length.
        {"#    ", DECODE_OK, "\0\0\0"s},
        {"#````", DECODE_OK, "\0\0\0"s},
        {"# ` `", DECODE_OK, "\0\0\0"s},
        {" ", DECODE_OK, ""},
        {"`", DECODE_OK, ""},
        // Missing characters count 0 only in the last group.
        {"#86)", DECODE_OK, "ab@"},
        {"#86", DECODE_OK, "a`\0"s},
        {"!", DECODE_OK, "\0"s},
        {"&86)C", DECODE_OK, "abc\0\0\0"s},
        {noisy59, DECODE_OK, expected59},
        {full.substr(0, 57), DECODE_OK, std::string(42, 'Z') + "\0\0\0"s},
        {"'86)C", DECODE_BOGUS, ""},
        {full.substr(0, 56), DECODE_BOGUS, ""},
        // A check character is ignored, a second one is too much.
        {"#86)CX", DECODE_OK, "abc"},
        {"#86)C X  ", DECODE_OK, "abc"},
        {"#86)C   ", DECODE_OK, "abc"},
        {"#86)CXY", DECODE_BOGUS, ""},
        {"#86)CX Y", DECODE_BOGUS, ""},
        // Characters outside the alphabet.
        {"#8{)C", DECODE_BOGUS, ""},
        {"#86)~", DECODE_BOGUS, ""},
        {"#86\0C"s, DECODE_BOGUS, ""},
        {"#86)C#8{)C", DECODE_BOGUS, ""},
        {"end", DECODE_END, ""},
    };
    RunTable(MODE_UU, full, cases);
    EXPECT_STREQ(Decoder.MethodName(), "UUdecode");
}

TEST_F(DecoderTest, XxLinesCodesAndBytes) {
    const std::string full = UuLine(std::string(45, 'Z'), TUuStyle::XX);
    const std::string noise = Noise(45, 3);
    const std::vector<TLineCase> cases = {
        {UuLine("abc", TUuStyle::XX), DECODE_OK, "abc"},
        {UuLine(noise, TUuStyle::XX), DECODE_OK, noise},
        // Lower case is its own half of the alphabet here.
        {"1mk7x", DECODE_OK, "\xCB\x02\x7D"},
        {"+", DECODE_OK, ""},
        {"1MK7", DECODE_OK, "ab@"},
        {"1MK7XQ", DECODE_OK, "abc"},
        {"1MK7XQQ", DECODE_BOGUS, ""},
        {"4MK7X", DECODE_OK, "abc\0\0\0"s},
        {"5MK7X", DECODE_BOGUS, ""},
        {"1MK#X", DECODE_BOGUS, ""},
        {"1MK7~", DECODE_BOGUS, ""},
        {"end", DECODE_END, ""},
    };
    RunTable(MODE_UU, full, cases);
    EXPECT_STREQ(Decoder.MethodName(), "XXdecode");
}

TEST_F(DecoderTest, XxDataLineSpellingEndIsData) {
    // 42 bytes make the length character 'e'; 0xCE 0x9? make "nd" follow.
    std::string data = Noise(42, 13);
    data[0] = '\xCE';
    data[1] = '\x9A';
    const std::string line = UuLine(data, TUuStyle::XX);
    ASSERT_EQ(line.substr(0, 3), "end");
    const TResult r = DecodeAfter(MODE_UU, UuLine(Noise(45, 14), TUuStyle::XX), line);
    EXPECT_EQ(r.Code, DECODE_OK);
    EXPECT_EQ(r.Written, data);
}

TEST_F(DecoderTest, BogusLineLeavesTheFileOpenAndWritesNothing) {
    ASSERT_TRUE(Open("gap.bin", MODE_UU));
    const std::string a = Noise(45, 4), b = Noise(45, 5);
    EXPECT_EQ(Decoder.DecodeLine(UuLine(a)), DECODE_OK);
    EXPECT_EQ(Decoder.DecodeLine("#8{)C"), DECODE_BOGUS);
    EXPECT_TRUE(Decoder.FileOpen());
    EXPECT_EQ(Decoder.DecodeLine(UuLine(b)), DECODE_OK);
    EXPECT_EQ(Decoder.DecodeLine("end"), DECODE_END);
    EXPECT_EQ(Decoder.EndFile(), 90);
    EXPECT_EQ(Read("gap.bin"), a + b);
}

TEST_F(DecoderTest, IsFullLineFollowsTheCurrentAlphabet) {
    const std::string data = Noise(45, 6);
    ASSERT_TRUE(Open("uu.bin", MODE_UU));
    ASSERT_EQ(Decoder.DecodeLine(UuLine(data)), DECODE_OK);
    EXPECT_TRUE(Decoder.IsFullLine(UuLine(Noise(45, 7))));
    EXPECT_FALSE(Decoder.IsFullLine(UuLine(Noise(45, 7), TUuStyle::XX)));
    EXPECT_FALSE(Decoder.IsFullLine("#86)C"));
    EXPECT_FALSE(Decoder.IsFullLine(""));
    Decoder.EndFile();

    ASSERT_TRUE(Open("xx.bin", MODE_UU));
    ASSERT_EQ(Decoder.DecodeLine(UuLine(data, TUuStyle::XX)), DECODE_OK);
    EXPECT_TRUE(Decoder.IsFullLine(UuLine(Noise(45, 7), TUuStyle::XX)));
    EXPECT_FALSE(Decoder.IsFullLine(UuLine(Noise(45, 7))));
    EXPECT_FALSE(Decoder.IsFullLine(""));
    Decoder.EndFile();
}

TEST_F(DecoderTest, Base64LinesCodesAndBytes) {
    const std::string k1023 = Noise(1023, 8), k1026 = Noise(1026, 9), k1500 = Noise(1500, 10);
    const std::vector<TLineCase> cases = {
        {"QUJD", DECODE_OK, "ABC"},
        {"QUI=", DECODE_OK, "AB"},
        {"QQ==", DECODE_OK, "A"},
        {"QUJDRA==", DECODE_OK, "ABCD"},
        {"QQ==QUJD", DECODE_OK, "AABC"},
        {"+/+/", DECODE_OK, "\xFB\xFF\xBF"},
        {Base64Line(AllByteValues()), DECODE_OK, AllByteValues()},
        {"", DECODE_OK, ""},
        {"QQ=", DECODE_BOGUS, ""},
        {"QUJ", DECODE_BOGUS, ""},
        {"Q", DECODE_BOGUS, ""},
        {"QUJDQ", DECODE_BOGUS, ""},
        {"Q===", DECODE_BOGUS, ""},
        {"=QQQ", DECODE_BOGUS, ""},
        // Characters outside the alphabet are skipped, blanks silently;
        // the rest must still make whole groups.
        {"QU!D", DECODE_BOGUS, ""},
        {"QU\0D"s, DECODE_BOGUS, ""},
        {"!!!!", DECODE_BOGUS, ""},
        {"QUJ D", DECODE_OK, "ABC"},
        {"QUJD \t", DECODE_OK, "ABC"},
        {"-QUJD", DECODE_SKIPPED, "ABC"},
        {"QU!JD", DECODE_SKIPPED, "ABC"},
        {"Q~Q==QUJD.", DECODE_SKIPPED, "AABC"},
        {"QUJD\0QUJD"s, DECODE_SKIPPED, "ABCABC"},
        {"--", DECODE_END, ""},
        {"--=_boundary_4711--", DECODE_END, ""},
        // A line stops at the group that brings it to 1024 bytes.
        {Base64Line(k1500), DECODE_OK, k1500.substr(0, 1026)},
        {Base64Line(k1026) + "!!!!", DECODE_OK, k1026},
        {Base64Line(k1023) + "!!!!", DECODE_SKIPPED, k1023},
    };
    RunTable(MODE_BASE64, "", cases);
    EXPECT_STREQ(Decoder.MethodName(), "base64");
}

TEST_F(DecoderTest, YencLinesCodesAndBytes) {
    const std::string k1022(1022, 'k'), k1023(1023, 'k');
    std::string pairs;
    for (int i = 0; i < 511; ++i) pairs += "=}";
    const std::vector<TLineCase> cases = {
        {"*", DECODE_OK, "\0"s},
        {")", DECODE_OK, "\xFF"},
        {"kl", DECODE_OK, "AB"},
        {"=@", DECODE_OK, "\xD6"},
        {"=J=M=}=I=`=n", DECODE_OK, "\xE0\xE3\x13\xDF\xF6\x04"},
        {"*=@+", DECODE_OK, "\0\xD6\x01"s},
        {"==", DECODE_OK, "\xD3"},
        // A lone '=' at the end escapes nothing.
        {"=", DECODE_OK, ""},
        {"kl=", DECODE_OK, "AB"},
        {"===", DECODE_OK, "\xD3"},
        {"", DECODE_OK, ""},
        {"a\0b"s, DECODE_OK,
         "7\xD6"s
         "8"},
        {YencLine(AllByteValues()), DECODE_OK, AllByteValues()},
        {k1022, DECODE_OK, std::string(1022, 'A')},
        {pairs, DECODE_OK, std::string(511, '\x13')},
        {k1023, DECODE_BOGUS, ""},
        {pairs + "=", DECODE_BOGUS, ""},
        {"=ypart begin=1 end=100", DECODE_OK, ""},
        {"=yend size=3", DECODE_END, ""},
        {"=yend", DECODE_END, ""},
    };
    RunTable(MODE_YENC, "", cases);
    EXPECT_STREQ(Decoder.MethodName(), "yEnc");
}

// Escapes and lone '=' at every place of lines of every length up to past
// the widest vector: the bytes follow the rule, and so does the part's CRC.
TEST_F(DecoderTest, YencEscapesAtEveryOffset) {
    ASSERT_TRUE(Open("sweep.bin", MODE_YENC));
    std::string want;
    int lines = 0;
    for (size_t length = 0; length <= 140; ++length) {
        for (size_t at = 0; at <= length; ++at) {
            // length characters, an escape pair at 'at' (or a lone '=' at the end)
            std::string line;
            std::string bytes;
            for (size_t i = 0; i < length; ++i) {
                if (i == at && i + 1 < length) {
                    line += "=}";
                    bytes += '\x13';
                    ++i;
                } else if (i == at) {
                    line += '=';
                } else {
                    const char c = B64_ALPHABET[(i * 7 + length) % 62];  // no '='
                    line += c;
                    bytes += static_cast<char>(c - 42);
                }
            }
            ASSERT_EQ(Decoder.DecodeLine(line), DECODE_OK) << line;
            want += bytes;
            ++lines;
        }
    }
    EXPECT_EQ(Decoder.PartBytes(), static_cast<int64_t>(want.size()));
    EXPECT_EQ(Decoder.PartCrc(), test::BitwiseCrc32(want));
    EXPECT_EQ(Decoder.EndFile(), static_cast<int64_t>(want.size()));
    EXPECT_TRUE(Read("sweep.bin") == want) << "over " << lines << " lines";
}

TEST_F(DecoderTest, Base64BadCharacterAtEveryOffset) {
    const std::string data = Noise(150, 15);
    const std::string good = Base64Line(data);  // 200 characters, no padding
    ASSERT_TRUE(Open("b64sweep.bin", MODE_BASE64));
    for (size_t at = 0; at < good.size(); ++at) {
        for (char bad : {'!', '=', '\0', '-', ' '}) {
            std::string line = good;
            line[at] = bad;
            const bool padding = bad == '=' && at % 4 >= 2;  // a skipped "=", no error
            if (padding) continue;
            EXPECT_EQ(Decoder.DecodeLine(line), DECODE_BOGUS) << "at " << at << " char " << +bad;
        }
        // Cut short inside a group.
        if (at % 4 != 0) {
            EXPECT_EQ(Decoder.DecodeLine(good.substr(0, at)), DECODE_BOGUS) << "length " << at;
        }
    }
    EXPECT_EQ(Decoder.DecodeLine(good), DECODE_OK);
    for (size_t n = 0; n <= 60; ++n) {
        EXPECT_EQ(Decoder.DecodeLine(Base64Line(data.substr(0, n))), DECODE_OK) << n;
    }
    Decoder.EndFile();
    std::string want = data;
    for (size_t n = 0; n <= 60; ++n) want += data.substr(0, n);
    EXPECT_TRUE(Read("b64sweep.bin") == want);
}

TEST_F(DecoderTest, YencTrailerValues) {
    struct TCase {
        std::string Line;
        TYencTrailer Want;
    };
    const TCase cases[] = {
        {"=yend size=12 part=2 pcrc32=DEADBEEF crc32=0badf00d",
         {true, 12, 2, true, 0xDEADBEEFu, true, 0x0BADF00Du}},
        {"=yend size=0", {true, 0, -1, false, 0, false, 0}},
        {"=yend size=384000 part=1 pcrc32=00000001", {true, 384000, 1, true, 1, false, 0}},
        {"=yend size=5 crc32=ffffffff", {true, 5, -1, false, 0, true, 0xFFFFFFFFu}},
        {"=yend pcrc32=12345678 size=3", {true, 3, -1, true, 0x12345678u, false, 0}},
        {"=yend size=3 xcrc32=1 crc32=", {true, 3, -1, false, 0, false, 0}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        ASSERT_TRUE(Open("trailer.bin", MODE_YENC));
        EXPECT_EQ(Decoder.DecodeLine(c.Line), DECODE_END);
        const TYencTrailer& t = Decoder.YencTrailer();
        EXPECT_EQ(t.Seen, c.Want.Seen);
        EXPECT_EQ(t.Size, c.Want.Size);
        EXPECT_EQ(t.Part, c.Want.Part);
        EXPECT_EQ(t.HasPartCrc, c.Want.HasPartCrc);
        if (c.Want.HasPartCrc) {
            EXPECT_EQ(t.PartCrc, c.Want.PartCrc);
        }
        EXPECT_EQ(t.HasCrc, c.Want.HasCrc);
        if (c.Want.HasCrc) {
            EXPECT_EQ(t.Crc, c.Want.Crc);
        }
        Decoder.EndFile();
    }
}

TEST_F(DecoderTest, YencChecksCountOnlyAcceptedLines) {
    ASSERT_TRUE(Open("crc.bin", MODE_YENC));
    EXPECT_EQ(Decoder.DecodeLine(std::string(1023, 'k')), DECODE_BOGUS);
    EXPECT_EQ(Decoder.PartBytes(), 0);
    EXPECT_EQ(Decoder.PartCrc(), 0u);
    EXPECT_EQ(Decoder.DecodeLine(YencLine("123456789")), DECODE_OK);
    EXPECT_EQ(Decoder.PartBytes(), 9);
    EXPECT_EQ(Decoder.PartCrc(), 0xCBF43926u);  // the CRC-32 check value
    EXPECT_EQ(Decoder.FileCrc(), 0xCBF43926u);
    EXPECT_EQ(Decoder.EndFile(), 9);

    // An append starts a new part and carries the file on.
    ASSERT_TRUE(Open("crc.bin", MODE_YENC, true));
    EXPECT_EQ(Decoder.DecodeLine(YencLine("a")), DECODE_OK);
    EXPECT_EQ(Decoder.PartBytes(), 1);
    EXPECT_EQ(Decoder.PartCrc(), 0xE8B7BE43u);  // CRC-32 of "a"
    EXPECT_EQ(Decoder.FileCrc(), 0x3A71CF87u);  // CRC-32 of "123456789a"
    EXPECT_EQ(Decoder.EndFile(), 10);

    // A new file starts both over.
    ASSERT_TRUE(Open("crc2.bin", MODE_YENC));
    EXPECT_EQ(Decoder.DecodeLine(YencLine("a")), DECODE_OK);
    EXPECT_EQ(Decoder.FileCrc(), 0xE8B7BE43u);
    EXPECT_EQ(Decoder.EndFile(), 1);
}

TEST_F(DecoderTest, EndFileWithoutAFileIsZero) {
    EXPECT_FALSE(Decoder.FileOpen());
    EXPECT_EQ(Decoder.EndFile(), 0);
    ASSERT_TRUE(Open("once.bin", MODE_YENC));
    EXPECT_TRUE(Decoder.FileOpen());
    EXPECT_EQ(Decoder.DecodeLine("kl"), DECODE_OK);
    EXPECT_EQ(Decoder.EndFile(), 2);
    EXPECT_FALSE(Decoder.FileOpen());
    EXPECT_EQ(Decoder.EndFile(), 0);
}

// ---- where files go ----

TEST_F(DecoderTest, PathOfAtMost250CharactersOpens) {
    const size_t room = DECODE_PATH_MAX - Dir().size();
    ASSERT_GT(room, 10u);
    ASSERT_LT(room, 250u);
    const std::string fits(room, 'n'), tooLong(room + 1, 'n');
    for (bool base64 : {false, true}) {
        SCOPED_TRACE(base64 ? "base64" : "uu");
        const TDecodeMode mode = base64 ? MODE_BASE64 : MODE_YENC;
        EXPECT_FALSE(Open(tooLong, mode));
        EXPECT_FALSE(Decoder.FileOpen());
        EXPECT_NE(access(Tmp.File(tooLong).c_str(), F_OK), 0);
        ASSERT_TRUE(Open(fits, mode));
        EXPECT_EQ(Decoder.EndFile(), 0);
        EXPECT_EQ(access(Tmp.File(fits).c_str(), F_OK), 0);
    }
}

TEST_F(DecoderTest, NamesThatAreNotPlainNamesAreRefused) {
    ASSERT_EQ(mkdir(Tmp.File("sub").c_str(), 0700), 0);
    const std::string outside = "zorvex-escape-" + std::to_string(getpid()) + ".bin";
    const std::string names[] = {"sub/x.bin", "../" + outside, "/tmp/" + outside, "x/", "", ".",
                                 ".."};
    for (const std::string& name : names) {
        SCOPED_TRACE("name \"" + name + "\"");
        for (bool base64 : {false, true}) {
            EXPECT_FALSE(Open(name, base64 ? MODE_BASE64 : MODE_UU));
            EXPECT_FALSE(Decoder.FileOpen());
        }
        EXPECT_FALSE(Open(name, MODE_YENC, true));
    }
    EXPECT_NE(access(Tmp.File("sub/x.bin").c_str(), F_OK), 0);
    EXPECT_NE(access(("/tmp/" + outside).c_str(), F_OK), 0);
}

TEST_F(DecoderTest, SymbolicLinkAtThePathIsNeverFollowed) {
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(Tmp.File("target.txt"), "keep", &error)) << error;
    ASSERT_EQ(symlink(Tmp.File("target.txt").c_str(), Tmp.File("link.bin").c_str()), 0);
    ASSERT_EQ(symlink(Tmp.File("absent.txt").c_str(), Tmp.File("dangling.bin").c_str()), 0);
    for (const char* name : {"link.bin", "dangling.bin"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(name, MODE_UU));
        EXPECT_FALSE(Open(name, MODE_YENC, true));
        EXPECT_FALSE(Open(name, MODE_BASE64));
        EXPECT_FALSE(Decoder.FileOpen());
    }
    EXPECT_EQ(Read("target.txt"), "keep");
    EXPECT_NE(access(Tmp.File("absent.txt").c_str(), F_OK), 0);

    // Nor into a directory, or a pipe that someone reads.
    ASSERT_EQ(mkfifo(Tmp.File("pipe.bin").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(Tmp.File("dir.bin").c_str(), 0700), 0);
    const int reader = open(Tmp.File("pipe.bin").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const char* name : {"pipe.bin", "dir.bin"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(name, MODE_UU));
        EXPECT_FALSE(Open(name, MODE_YENC, true));
        EXPECT_FALSE(Open(name, MODE_BASE64));
    }
    close(reader);

    // A pipe nobody reads must not hang the open: tried in a child that an
    // alarm ends if it does.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(5);
        TDecoder decoder;
        const bool opened = decoder.BeginUuFile(Dir(), "pipe.bin", false) ||
                            decoder.BeginUuFile(Dir(), "pipe.bin", true);
        _exit(opened ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "the open hung" : "the pipe was opened");
    struct stat st;
    ASSERT_EQ(lstat(Tmp.File("link.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// ---- the JPEG virus stop ----

// The marker split over two lines of 45 bytes each.
struct TJpegSplit {
    std::string First, Second;
};

TJpegSplit JpegWithMarker(int split, uint8_t last) {
    std::string bytes = "\xFF\xD8\xFF\xE0"s + std::string(37, 'j');
    const std::string marker = "\xFF\xFE\x00"s + static_cast<char>(last);
    const std::string all = bytes + marker + std::string(45, 'k');
    return {all.substr(0, 41 + split), all.substr(41 + split, 45)};
}

std::string EncodeFor(TDecodeMode mode, const std::string& bytes) {
    if (mode == MODE_BASE64) return Base64Line(bytes);
    if (mode == MODE_YENC) return YencLine(bytes);
    return UuLine(bytes);
}

TEST_F(DecoderTest, JpegVirusStopsTheLineThatCompletesTheMarker) {
    for (TDecodeMode mode : {MODE_UU, MODE_BASE64, MODE_YENC}) {
        for (int split = 1; split <= 4; ++split) {
            for (uint8_t last : {0, 1}) {
                SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + " split " +
                             std::to_string(split) + " last " + std::to_string(last));
                // uu needs a full first line: pad the head so the first line is 45 bytes.
                TJpegSplit s = JpegWithMarker(split, last);
                if (mode == MODE_UU) {
                    s.First.insert(4, std::string(45 - s.First.size(), 'p'));
                }
                const std::string name = "virus.jpg";
                ASSERT_TRUE(Open(name, mode));
                EXPECT_EQ(Decoder.DecodeLine(EncodeFor(mode, s.First)),
                          split == 4 ? DECODE_VIRUS : DECODE_OK);
                if (split < 4) {
                    EXPECT_EQ(Decoder.DecodeLine(EncodeFor(mode, s.Second)), DECODE_VIRUS);
                }
                Decoder.EndFile();
                EXPECT_EQ(Read(name), split == 4 ? "" : s.First);
            }
        }
    }
}

TEST_F(DecoderTest, JpegVirusLeavesOtherFilesAlone) {
    struct TCase {
        const char* Label;
        std::vector<std::string> Lines;  // decoded bytes per line
    };
    const TCase cases[] = {
        {"segment length 16", {"\xFF\xD8\xFF\xFE\x00\x10 comment"s}},
        {"segment length 2", {"\xFF\xD8\xFF\xFE\x00\x02"s}},
        {"not a JPEG", {"\x00\xD8\xFF\xFE\x00\x00"s, "\xFF\xFE\x00\x01"s}},
        {"JPEG head split, no marker", {"\xFF"s, "\xD8"s, "\xFF\xFE\x01\x00"s}},
        {"PNG", {"\x89PNG\xFF\xFE\x00\x00"s}},
        {"one byte", {"\xFF"s}},
        {"head only", {"\xFF\xD8"s}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        ASSERT_TRUE(Open("clean.jpg", MODE_YENC));
        std::string all;
        for (const std::string& bytes : c.Lines) {
            EXPECT_EQ(Decoder.DecodeLine(YencLine(bytes)), DECODE_OK);
            all += bytes;
        }
        EXPECT_EQ(Decoder.EndFile(), static_cast<int64_t>(all.size()));
        EXPECT_EQ(Read("clean.jpg"), all);
    }
}

TEST_F(DecoderTest, JpegVirusCheckStartsOverAtEveryBegin) {
    // A file that is no JPEG is never watched; the next one is.
    ASSERT_TRUE(Open("a.bin", MODE_YENC));
    EXPECT_EQ(Decoder.DecodeLine(YencLine("\x00\x11\xFF\xFE\x00\x00"s)), DECODE_OK);
    Decoder.EndFile();
    ASSERT_TRUE(Open("b.jpg", MODE_YENC));
    EXPECT_EQ(Decoder.DecodeLine(YencLine("\xFF\xD8\xFF\xFE\x00\x01"s)), DECODE_VIRUS);
    Decoder.EndFile();

    // An appended part is judged by its own first bytes.
    ASSERT_TRUE(Open("c.jpg", MODE_YENC));
    EXPECT_EQ(Decoder.DecodeLine(YencLine("\x00\x11\x22"s)), DECODE_OK);
    Decoder.EndFile();
    ASSERT_TRUE(Open("c.jpg", MODE_YENC, true));
    EXPECT_EQ(Decoder.DecodeLine(YencLine("\xFF\xD8"s)), DECODE_OK);
    EXPECT_EQ(Decoder.DecodeLine(YencLine("\xFF\xFE\x00\x00"s)), DECODE_VIRUS);
    Decoder.EndFile();
    EXPECT_EQ(Read("c.jpg"), "\x00\x11\x22\xFF\xD8"s);
}

// ---- who else sees the bytes ----

class TRecorder final : public TDecodeObservers {
  public:
    std::vector<std::string> PlugInFiles;
    std::string PlugInBytes;
    std::vector<int64_t> PlugInDone;
    std::vector<std::string> Previews;
    std::string PreviewBytes;
    int PreviewsFinished = 0;

    void PlugInFile(const std::string& path) override { PlugInFiles.push_back(path); }
    void PlugInFileBuffer(const uint8_t* bytes, size_t length) override {
        PlugInBytes.append(reinterpret_cast<const char*>(bytes), length);
    }
    void PlugInFileDone(int64_t length) override { PlugInDone.push_back(length); }
    bool PreviewStart(const std::string& path) override {
        Previews.push_back(path);
        return true;
    }
    size_t PreviewFeed(const uint8_t* bytes, size_t length) override {
        PreviewBytes.append(reinterpret_cast<const char*>(bytes), length);
        return length;
    }
    void PreviewFinish() override { ++PreviewsFinished; }
};

TEST(DecodeObservers, PlugInsAndPreviewSeeEveryByteInOrder) {
    TTempDir tmp;
    const std::string dir = tmp.Path() + "/";
    std::string data = "\xFF\xD8\xFF\xE0"s + Noise(6000, 16);
    TRecorder seen;
    TDecoder decoder(seen);
    decoder.SetViewerEnabled(true);

    // A yEnc picture: plug-ins and preview alike get all of it.
    decoder.SetDecodeMode(MODE_YENC);
    ASSERT_TRUE(decoder.BeginUuFile(dir, "photo.jpg", false));
    decoder.SetDecodeMode(MODE_YENC);
    for (size_t at = 0; at < data.size(); at += 100) {
        ASSERT_EQ(decoder.DecodeLine(YencLine(data.substr(at, 100))), DECODE_OK);
    }
    EXPECT_EQ(decoder.EndFile(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(seen.PlugInFiles, std::vector<std::string>{dir + "photo.jpg"});
    EXPECT_TRUE(seen.PlugInBytes == data);
    EXPECT_EQ(seen.PlugInDone, std::vector<int64_t>{static_cast<int64_t>(data.size())});
    EXPECT_EQ(seen.Previews, std::vector<std::string>{dir + "photo.jpg"});
    EXPECT_TRUE(seen.PreviewBytes == data);
    EXPECT_EQ(seen.PreviewsFinished, 1);

    // An appended part is no new picture; plug-ins still see its bytes.
    seen = TRecorder{};
    decoder.SetDecodeMode(MODE_YENC);
    ASSERT_TRUE(decoder.BeginUuFile(dir, "photo.jpg", true));
    decoder.SetDecodeMode(MODE_YENC);
    ASSERT_EQ(decoder.DecodeLine(YencLine("tail")), DECODE_OK);
    decoder.EndFile();
    EXPECT_TRUE(seen.Previews.empty());
    EXPECT_EQ(seen.PlugInBytes, "tail");

    // base64 files are not for the plug-ins.
    seen = TRecorder{};
    decoder.SetDecodeMode(MODE_BASE64);
    ASSERT_TRUE(decoder.BeginBase64File(dir, "mime.jpg"));
    decoder.SetDecodeMode(MODE_BASE64);
    ASSERT_EQ(decoder.DecodeLine(Base64Line(data.substr(0, 57))), DECODE_OK);
    decoder.EndFile();
    EXPECT_TRUE(seen.PlugInFiles.empty());
    EXPECT_TRUE(seen.PlugInBytes.empty());
    EXPECT_TRUE(seen.PreviewBytes == data.substr(0, 57));

    // No preview when the viewer is off, or for other files.
    seen = TRecorder{};
    ASSERT_TRUE(decoder.BeginUuFile(dir, "notes.txt", false));
    decoder.EndFile();
    decoder.SetViewerEnabled(false);
    ASSERT_TRUE(decoder.BeginUuFile(dir, "other.jpg", false));
    decoder.EndFile();
    EXPECT_TRUE(seen.Previews.empty());
    EXPECT_EQ(seen.PreviewsFinished, 0);
}

// ---- write failures ----

TEST_F(DecoderTest, FailedWriteIsCodeSix) {
    for (TFileFault fault : {TFileFault::DISK_FULL, TFileFault::SHORT_WRITE}) {
        SCOPED_TRACE(static_cast<int>(fault));
        ASSERT_TRUE(Open("full.bin", MODE_YENC));
        InjectFileFault(fault);
        const std::string line = YencLine(std::string(128, 'q'));
        TDecodeResult code = DECODE_OK;
        int lines = 0;
        // Enough lines to fill the file's buffer several times over.
        while (code == DECODE_OK && lines < 4 * static_cast<int>(DECODE_STREAM_BUFFER) / 128) {
            code = Decoder.DecodeLine(line);
            ++lines;
        }
        EXPECT_EQ(code, DECODE_WRITE_FAILED) << "after " << lines << " lines";
        // The file has lost bytes: no later line may claim success.
        EXPECT_EQ(Decoder.DecodeLine(line), DECODE_WRITE_FAILED);
        Decoder.EndFile();
        ClearFileFaults();
        std::string contents;
        ASSERT_TRUE(ReadWholeFile(Tmp.File("full.bin"), &contents));
        EXPECT_LT(contents.size(), static_cast<size_t>(lines) * 128);
    }
}

// ---- hostile lines ----

TEST_F(DecoderTest, HostileLinesGiveSaneCodes) {
    const std::string huge(1 << 20, 'A');
    const std::string equals(1 << 20, '=');
    const std::string all = AllByteValues();
    const std::string nuls("\0\0\0\0\0\0\0\0"s);
    const std::string uuFull = UuLine(Noise(45, 12));
    const std::string xxFull = UuLine(Noise(45, 12), TUuStyle::XX);
    struct TCase {
        const char* Label;
        TDecodeMode Mode;
        std::string First;  // decoded first when not empty
        std::string Line;
        std::vector<TDecodeResult> Codes;  // acceptable codes
    };
    const TCase cases[] = {
        {"uu 1MB", MODE_UU, uuFull, "M" + huge, {DECODE_BOGUS}},
        {"xx 1MB", MODE_UU, xxFull, "h" + huge, {DECODE_BOGUS}},
        {"uu first 1MB", MODE_UU, "", "M" + huge, {DECODE_BOGUS, DECODE_BAD_FIRST_LINE}},
        {"base64 1MB", MODE_BASE64, "", huge, {DECODE_OK}},
        {"yEnc 1MB", MODE_YENC, "", huge, {DECODE_BOGUS}},
        {"yEnc 1MB of =", MODE_YENC, "", equals, {DECODE_BOGUS}},
        {"uu all bytes", MODE_UU, uuFull, all, {DECODE_BOGUS}},
        {"xx all bytes", MODE_UU, xxFull, all, {DECODE_BOGUS}},
        {"base64 all bytes", MODE_BASE64, "", all, {DECODE_BOGUS}},
        {"uu NULs", MODE_UU, uuFull, nuls, {DECODE_OK, DECODE_BOGUS}},
        {"xx NULs", MODE_UU, xxFull, nuls, {DECODE_OK, DECODE_BOGUS}},
        {"base64 NULs", MODE_BASE64, "", nuls, {DECODE_BOGUS}},
        {"uu =", MODE_UU, uuFull, equals.substr(0, 1000), {DECODE_BOGUS}},
        {"base64 =", MODE_BASE64, "", equals.substr(0, 1000), {DECODE_BOGUS}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TResult r = DecodeAfter(c.Mode, c.First, c.Line);
        EXPECT_NE(std::find(c.Codes.begin(), c.Codes.end(), r.Code), c.Codes.end())
            << "code " << static_cast<int>(r.Code);
        if (r.Code != DECODE_OK) {
            EXPECT_EQ(r.Written, "");
        }
        if (c.Mode == MODE_BASE64 && r.Code == DECODE_OK) {
            EXPECT_EQ(r.Written, std::string(1026, '\0'));
        }
    }

    // yEnc takes every byte value; the result follows the rule exactly.
    std::string line = equals.substr(0, 500) + nuls + all;
    std::string want(250, '\xD3');
    want += std::string(8, '\xD6');
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == '=') {
            want += static_cast<char>(all[++i] - 106);
        } else {
            want += static_cast<char>(all[i] - 42);
        }
    }
    TResult r = DecodeAfter(MODE_YENC, "", line);
    EXPECT_EQ(r.Code, DECODE_OK);
    EXPECT_TRUE(r.Written == want) << "yEnc of every byte value";
}

TEST(HostileHeaders, ParsersStayInsideTheirInput) {
    const std::string huge(1 << 20, 'x');
    const std::string lines[] = {
        "begin " + huge,
        "begin 644 " + huge,
        "=ybegin part=99999999999999999999999 size=18446744073709551617 name=" + huge,
        "=ybegin part=7 size=9 name=\0x"s,
        "=ybegin part= size= name=",
        "Content-Disposition: attachment; filename=\"" + huge,
        "\"" + huge,
        AllByteValues(),
        "\0begin 644 x"s,
        "begin \0"s,
        "=ybegin name",
        "\"",
        "(1/2)",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 40));
        size_t pos = 0;
        const int kind = static_cast<int>(ClassifyLine(line, &pos));
        EXPECT_TRUE(kind >= static_cast<int>(LINE_OTHER) && kind <= static_cast<int>(LINE_YBEGIN));
        EXPECT_LE(pos, line.size());
        std::string name;
        if (BeginLineName(line, &name)) {
            EXPECT_LE(name.size(), line.size());
            EXPECT_FALSE(name.empty());
        }
        if (YencName(line, &name)) {
            EXPECT_LE(name.size(), line.size());
            EXPECT_FALSE(name.empty());
        }
        EXPECT_GE(YencPart(line), -1);
        EXPECT_GE(YencSize(line), -1);
        if (TidyFileName(line, &name)) {
            EXPECT_LE(name.size(), line.size());
            EXPECT_FALSE(name.empty());
        }
    }
}

}  // namespace
}  // namespace zorvex
