// Round trips through the decoder against encoders that share nothing with
// it: Python's binascii/base64 for uuencode and MIME base64, and small
// encoders written here for xxencode and yEnc (with every escape of yEnc 1.3
// and its own CRC-32). The lines go through the decoder the way the article
// driver feeds them, and what lands on disk must be the blob, byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "decode/crypt.h"
#include "decode/ncdc.h"
#include "library/fileio.h"
#include "support/encoders.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::AllByteValues;
using test::Noise;
using test::ReadFile;
using test::TTempDir;
using test::YencDataLines;
using TLines = std::vector<std::string>;

// Bytes whose yEnc form is NUL, LF, CR, '=', TAB, space or '.': every escape
// rule fires many times, at line starts and ends too.
std::string YencCritical(size_t n, uint32_t seed) {
    static constexpr uint8_t CRITICAL[] = {214, 224, 227, 19, 223, 246, 4, 5};
    std::string out(n, '\0');
    for (char& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<char>(CRITICAL[(seed >> 24) % sizeof CRITICAL]);
    }
    return out;
}

struct TBlob {
    std::string Label;
    std::string Bytes;
};

std::vector<TBlob> Blobs() {
    std::vector<TBlob> blobs;
    uint32_t seed = 7;
    for (size_t n : {0, 1, 44, 45, 46, 61, 90}) {
        blobs.push_back({"noise" + std::to_string(n), Noise(n, seed++)});
    }
    blobs.push_back({"all256", AllByteValues()});
    blobs.push_back({"noise1MiB", Noise(1 << 20, 99)});
    return blobs;
}

std::string Hex8(uint32_t v, bool upper) {
    char buf[16];
    snprintf(buf, sizeof buf, upper ? "%08X" : "%08x", v);
    return buf;
}

// ---- xxencode ----

constexpr char XX_ALPHABET[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

TLines XxEncode(std::string_view data, const std::string& name) {
    TLines lines{"begin 644 " + name};
    for (size_t at = 0; at < data.size(); at += 45) {
        std::string_view chunk = data.substr(at, 45);
        std::string line(1, XX_ALPHABET[chunk.size()]);
        for (size_t i = 0; i < chunk.size(); i += 3) {
            uint8_t b[3] = {};
            for (size_t k = 0; k < 3 && i + k < chunk.size(); ++k) b[k] = chunk[i + k];
            line += XX_ALPHABET[b[0] >> 2];
            line += XX_ALPHABET[((b[0] & 3) << 4) | (b[1] >> 4)];
            line += XX_ALPHABET[((b[1] & 15) << 2) | (b[2] >> 6)];
            line += XX_ALPHABET[b[2] & 63];
        }
        lines.push_back(line);
    }
    lines.push_back("+");
    lines.push_back("end");
    return lines;
}

// ---- yEnc ----

// Decodes data lines by the yEnc rules, to check the encoder above.
std::string YencReference(const TLines& lines) {
    std::string out;
    for (const std::string& line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '=') {
                if (++i < line.size()) out += static_cast<char>(line[i] - 106);
            } else {
                out += static_cast<char>(line[i] - 42);
            }
        }
    }
    return out;
}

TLines YencSinglePart(std::string_view data, const std::string& name) {
    TLines lines{"=ybegin line=128 size=" + std::to_string(data.size()) + " name=" + name};
    for (std::string& l : YencDataLines(data)) lines.push_back(std::move(l));
    lines.push_back("=yend size=" + std::to_string(data.size()) +
                    " crc32=" + Hex8(test::BitwiseCrc32(data), true));
    return lines;
}

struct TYencPart {
    TLines Lines;
    std::string Data;
};

// The whole-file crc32 only on the last part, as most posters do.
std::vector<TYencPart> YencMultipart(std::string_view data, const std::string& name,
                                     size_t partSize) {
    std::vector<TYencPart> parts;
    const size_t total = (data.size() + partSize - 1) / partSize;
    for (size_t k = 0; k < total; ++k) {
        TYencPart part;
        part.Data = std::string(data.substr(k * partSize, partSize));
        const std::string number = std::to_string(k + 1);
        part.Lines.push_back("=ybegin part=" + number + " total=" + std::to_string(total) +
                             " line=128 size=" + std::to_string(data.size()) + " name=" + name);
        part.Lines.push_back("=ypart begin=" + std::to_string(k * partSize + 1) +
                             " end=" + std::to_string(k * partSize + part.Data.size()));
        for (std::string& l : YencDataLines(part.Data)) part.Lines.push_back(std::move(l));
        std::string end = "=yend size=" + std::to_string(part.Data.size()) + " part=" + number +
                          " pcrc32=" + Hex8(test::BitwiseCrc32(part.Data), false);
        if (k + 1 == total) end += " crc32=" + Hex8(test::BitwiseCrc32(data), false);
        part.Lines.push_back(end);
        parts.push_back(std::move(part));
    }
    return parts;
}

// ---- Python's encoders ----

bool HavePython() {
    FILE* p = popen("command -v python3", "r");
    if (!p) return false;
    char buf[256];
    const bool found = fgets(buf, sizeof buf, p) != nullptr;
    return pclose(p) == 0 && found;
}

constexpr const char* PY_ENCODER = R"(import sys, binascii, base64
data = open(sys.argv[1], 'rb').read()
kind = sys.argv[2]
out = sys.stdout.buffer
if kind == 'base64':
    out.write(base64.encodebytes(data))
else:
    bt = kind == 'uu-backtick'
    out.write(b'begin 644 blob.bin\n')
    for i in range(0, len(data), 45):
        line = binascii.b2a_uu(data[i:i + 45], backtick=bt)
        if kind == 'uu-stripped':
            line = line.rstrip(b' \n') + b'\n'
        out.write(line)
    if kind != 'uu-stripped':
        out.write(binascii.b2a_uu(b'', backtick=bt))
    out.write(b'end\n')
)";

// Encodes data with Python; the lines without their newlines.
TLines PythonEncode(const TTempDir& tmp, std::string_view data, const std::string& kind) {
    std::string error;
    EXPECT_TRUE(ReplaceFileAtomically(tmp.File("encoder.py"), PY_ENCODER, &error)) << error;
    EXPECT_TRUE(ReplaceFileAtomically(tmp.File("input.bin"), data, &error)) << error;
    const std::string command =
        "python3 '" + tmp.File("encoder.py") + "' '" + tmp.File("input.bin") + "' " + kind;
    FILE* p = popen(command.c_str(), "r");
    EXPECT_NE(p, nullptr);
    if (!p) return {};
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << command;
    TLines lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return lines;
}

TLines MimeBase64(const TLines& body, const std::string& name) {
    TLines lines{"Content-Type: application/octet-stream; name=\"" + name + "\"",
                 "Content-Transfer-Encoding: base64",
                 "Content-Disposition: attachment; filename=\"" + name + "\"", ""};
    lines.insert(lines.end(), body.begin(), body.end());
    lines.push_back("--=_zorvex_boundary--");
    return lines;
}

// ---- the driver ----

// What happened to one file.
struct TFileRun {
    std::string Name;
    std::vector<TDecodeResult> Codes;  // every DecodeLine result, in order
    TDecodeResult LastCode{};          // DECODE_END normally
    int64_t Length = -1;               // EndFile
    const char* Method = "";
    uint32_t PartCrc = 0;
    int64_t PartBytes = 0;
    uint32_t FileCrc = 0;
    TYencTrailer Trailer;
};

// Feeds article lines the way the article-to-file driver does: classify the
// lines outside a file, begin a file on "begin", "=ybegin" or the end of a
// base64 part's headers, decode the lines inside it until the decoder says
// the file ended (or stopped it).
class TDriver {
  public:
    TDriver(TDecoder& decoder, const TTempDir& tmp, std::string key = "")
        : Decoder(decoder), Dir(tmp.Path() + "/"), Key(std::move(key)) {}

    std::vector<TFileRun> Feed(const TLines& lines) {
        std::vector<TFileRun> runs;
        TFileRun run;
        std::string mimeName;
        for (const std::string& line : lines) {
            if (Decoder.FileOpen()) {
                const TDecodeResult code = Decoder.DecodeLine(line);
                run.Codes.push_back(code);
                if (code == DECODE_OK || code == DECODE_BOGUS) continue;
                run.LastCode = code;
                run.Method = Decoder.MethodName();
                run.PartCrc = Decoder.PartCrc();
                run.PartBytes = Decoder.PartBytes();
                run.FileCrc = Decoder.FileCrc();
                run.Trailer = Decoder.YencTrailer();
                run.Length = Decoder.EndFile();
                runs.push_back(run);
                run = TFileRun{};
                continue;
            }
            size_t pos = 0;
            switch (ClassifyLine(line, &pos)) {
                case LINE_BEGIN:
                    EXPECT_TRUE(BeginLineName(line, &run.Name)) << line;
                    Open(run.Name, MODE_UU, false, false);
                    break;
                case LINE_YBEGIN: {
                    EXPECT_TRUE(YencName(line, &run.Name)) << line;
                    const int64_t part = YencPart(line);
                    Open(run.Name, MODE_YENC, part > 1, false);
                    break;
                }
                case LINE_TRANSFER_ENCODING:
                    Decoder.SetTransferEncoding(std::string_view(line).substr(pos));
                    break;
                case LINE_DISPOSITION: {
                    const size_t at = line.find("filename=");
                    EXPECT_NE(at, std::string::npos) << line;
                    if (at != std::string::npos) {
                        EXPECT_TRUE(TidyFileName(std::string_view(line).substr(at + 9), &mimeName));
                    }
                    break;
                }
                default:
                    if (line.empty() && !mimeName.empty()) {
                        EXPECT_EQ(Decoder.TransferEncoding(), TE_BASE64);
                        run.Name = mimeName;
                        mimeName.clear();
                        Open(run.Name, MODE_BASE64, false, true);
                    }
                    break;
            }
        }
        EXPECT_FALSE(Decoder.FileOpen()) << "the lines ended inside " << run.Name;
        if (Decoder.FileOpen()) Decoder.EndFile();
        return runs;
    }

  private:
    void Open(const std::string& name, TDecodeMode mode, bool append, bool base64) {
        Decoder.SetDecodeMode(mode);
        const bool opened =
            base64 ? Decoder.BeginBase64File(Dir, name) : Decoder.BeginUuFile(Dir, name, append);
        ASSERT_TRUE(opened) << Dir << name;
        Decoder.SetDecodeMode(mode);
        if (!Key.empty()) {
            ASSERT_TRUE(Decoder.StartEncryption(Key));
        }
    }

    TDecoder& Decoder;
    std::string Dir;
    std::string Key;
};

bool AllOk(const TFileRun& run) {
    for (size_t i = 0; i + 1 < run.Codes.size(); ++i) {
        if (run.Codes[i] != DECODE_OK) return false;
    }
    return true;
}

// ---- the encoders themselves ----

TEST(RoundTripEncoders, Crc32AndYencEncoderFollowTheirRules) {
    EXPECT_EQ(test::BitwiseCrc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(test::BitwiseCrc32(""), 0u);

    const std::string data = YencCritical(20000, 5) + AllByteValues() + Noise(3000, 6);
    const TLines lines = YencDataLines(data);
    EXPECT_EQ(YencReference(lines), data);
    int escapedFirst = 0, escapedLast = 0;
    for (const std::string& line : lines) {
        ASSERT_FALSE(line.empty());
        EXPECT_LE(line.size(), 129u);
        for (char c : line) ASSERT_TRUE(c != '\0' && c != '\n' && c != '\r') << line;
        EXPECT_TRUE(line[0] != ' ' && line[0] != '\t' && line[0] != '.') << line;
        EXPECT_TRUE(line.back() != ' ' && line.back() != '\t') << line;
        if (line[0] == '=' && (line[1] == '`' || line[1] == 'I' || line[1] == 'n')) ++escapedFirst;
        const size_t n = line.size();
        if (n >= 2 && line[n - 2] == '=' && (line[n - 1] == '`' || line[n - 1] == 'I')) {
            ++escapedLast;
        }
    }
    // The escapes at the edges of a line did happen.
    EXPECT_GT(escapedFirst, 10);
    EXPECT_GT(escapedLast, 10);
}

// ---- uuencode, xxencode and base64 ----

struct TTextCase {
    const char* Kind;  // "uu", "uu-backtick", "uu-stripped", "xx", "base64"
};

class TextRoundTrip : public ::testing::TestWithParam<TTextCase> {};

TEST_P(TextRoundTrip, DecodesTheEncoderOutputByteForByte) {
    const std::string kind = GetParam().Kind;
    TTempDir tmp;
    ASSERT_FALSE(tmp.Path().empty());
    if (kind != "xx" && !HavePython()) GTEST_SKIP() << "python3 is not installed: no encoder";

    TDecoder decoder;
    TDriver driver(decoder, tmp);
    for (const TBlob& blob : Blobs()) {
        SCOPED_TRACE(kind + " " + blob.Label);
        const std::string name = blob.Label + ".bin";
        TLines lines;
        if (kind == "xx") {
            lines = XxEncode(blob.Bytes, name);
        } else if (kind == "base64") {
            lines = MimeBase64(PythonEncode(tmp, blob.Bytes, kind), name);
        } else {
            lines = PythonEncode(tmp, blob.Bytes, kind);
            ASSERT_FALSE(lines.empty());
            lines[0] = "begin 644 " + name;
        }
        const std::vector<TFileRun> runs = driver.Feed(lines);
        ASSERT_EQ(runs.size(), 1u);
        const TFileRun& run = runs[0];
        EXPECT_EQ(run.Name, name);

        // With the empty line stripped away, an empty file is just "begin"
        // and "end": nothing tells uuencode from xxencode.
        if (kind == "uu-stripped" && blob.Bytes.empty()) {
            EXPECT_EQ(run.Codes, std::vector<TDecodeResult>{DECODE_END});
            EXPECT_EQ(run.Length, 0);
            EXPECT_EQ(ReadFile(tmp.File(name)), "");
            continue;
        }
        EXPECT_EQ(run.LastCode, DECODE_END);
        EXPECT_TRUE(AllOk(run)) << "a line was refused";
        EXPECT_EQ(run.Length, static_cast<int64_t>(blob.Bytes.size()));
        EXPECT_TRUE(ReadFile(tmp.File(name)) == blob.Bytes) << "the file differs";
        EXPECT_STREQ(run.Method, kind == "base64" ? "base64"
                                 : kind == "xx"   ? "XXdecode"
                                                  : "UUdecode");
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, TextRoundTrip,
                         ::testing::Values(TTextCase{"uu"}, TTextCase{"uu-backtick"},
                                           TTextCase{"uu-stripped"}, TTextCase{"xx"},
                                           TTextCase{"base64"}),
                         [](const auto& info) {
                             std::string name = info.param.Kind;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

// ---- yEnc ----

TEST(YencRoundTrip, SinglePartFilesWithTheirChecks) {
    TTempDir tmp;
    TDecoder decoder;
    TDriver driver(decoder, tmp);
    std::vector<TBlob> blobs = Blobs();
    blobs.push_back({"critical", YencCritical(5000, 11)});
    for (const TBlob& blob : blobs) {
        SCOPED_TRACE(blob.Label);
        const std::string name = blob.Label + " yenc.bin";  // names keep their blanks
        const std::vector<TFileRun> runs = driver.Feed(YencSinglePart(blob.Bytes, name));
        ASSERT_EQ(runs.size(), 1u);
        const TFileRun& run = runs[0];
        EXPECT_EQ(run.Name, name);
        EXPECT_EQ(run.LastCode, DECODE_END);
        EXPECT_TRUE(AllOk(run)) << "a line was refused";
        EXPECT_STREQ(run.Method, "yEnc");
        EXPECT_EQ(run.Length, static_cast<int64_t>(blob.Bytes.size()));
        EXPECT_TRUE(ReadFile(tmp.File(name)) == blob.Bytes) << "the file differs";

        const uint32_t crc = test::BitwiseCrc32(blob.Bytes);
        EXPECT_EQ(run.PartCrc, crc);
        EXPECT_EQ(run.FileCrc, crc);
        EXPECT_EQ(run.PartBytes, static_cast<int64_t>(blob.Bytes.size()));
        EXPECT_TRUE(run.Trailer.Seen);
        EXPECT_EQ(run.Trailer.Size, static_cast<int64_t>(blob.Bytes.size()));
        EXPECT_EQ(run.Trailer.Part, -1);
        EXPECT_FALSE(run.Trailer.HasPartCrc);
        EXPECT_TRUE(run.Trailer.HasCrc);
        EXPECT_EQ(run.Trailer.Crc, crc);
    }
}

struct TMultipartCase {
    const char* Label;
    std::string Data;
    size_t PartSize;
};

TEST(YencRoundTrip, MultipartFileAppendsPartByPart) {
    const TMultipartCase cases[] = {
        {"1MiB in 384000-byte parts", Noise(1 << 20, 31), 384000},
        {"all byte values in 100-byte parts", AllByteValues(), 100},
        {"critical bytes in 1-byte parts", YencCritical(4, 3), 1},
        {"critical bytes in 999-byte parts", YencCritical(3000, 4), 999},
    };
    TTempDir tmp;
    TDecoder decoder;
    TDriver driver(decoder, tmp);
    for (const TMultipartCase& c : cases) {
        SCOPED_TRACE(c.Label);
        const std::string name = std::string("multi ") + std::to_string(c.Data.size()) + ".bin";
        const std::vector<TYencPart> parts = YencMultipart(c.Data, name, c.PartSize);
        std::string sofar;
        for (size_t k = 0; k < parts.size(); ++k) {
            SCOPED_TRACE("part " + std::to_string(k + 1));
            const std::vector<TFileRun> runs = driver.Feed(parts[k].Lines);
            ASSERT_EQ(runs.size(), 1u);
            const TFileRun& run = runs[0];
            sofar += parts[k].Data;
            EXPECT_EQ(run.LastCode, DECODE_END);
            EXPECT_TRUE(AllOk(run)) << "a line was refused";
            EXPECT_EQ(run.Length, static_cast<int64_t>(sofar.size()));
            EXPECT_TRUE(ReadFile(tmp.File(name)) == sofar) << "the file differs";

            EXPECT_EQ(run.PartCrc, test::BitwiseCrc32(parts[k].Data));
            EXPECT_EQ(run.PartBytes, static_cast<int64_t>(parts[k].Data.size()));
            EXPECT_EQ(run.FileCrc, test::BitwiseCrc32(sofar));
            EXPECT_TRUE(run.Trailer.Seen);
            EXPECT_EQ(run.Trailer.Part, static_cast<int64_t>(k + 1));
            EXPECT_EQ(run.Trailer.Size, static_cast<int64_t>(parts[k].Data.size()));
            EXPECT_TRUE(run.Trailer.HasPartCrc);
            EXPECT_EQ(run.Trailer.PartCrc, run.PartCrc);
            const bool last = k + 1 == parts.size();
            EXPECT_EQ(run.Trailer.HasCrc, last);
            if (last) {
                EXPECT_EQ(run.Trailer.Crc, run.FileCrc);
            }
        }
        EXPECT_TRUE(ReadFile(tmp.File(name)) == c.Data);
    }
}

TEST(YencRoundTrip, ChangedCharacterShowsInThePartCrc) {
    TTempDir tmp;
    TDecoder decoder;
    TDriver driver(decoder, tmp);
    const std::string data = Noise(5000, 77);
    std::vector<TYencPart> parts = YencMultipart(data, "damaged.bin", 2000);
    ASSERT_EQ(parts.size(), 3u);

    // One plain character of part 2's third data line, not an escape.
    std::string& line = parts[1].Lines[4];
    size_t at = 10;
    while (line[at] == '=' || line[at - 1] == '=') ++at;
    line[at] = line[at] == 'x' ? 'y' : 'x';
    const std::string part2 = YencReference({parts[1].Lines.begin() + 2, parts[1].Lines.end() - 1});
    ASSERT_NE(part2, parts[1].Data);

    std::vector<TFileRun> runs;
    for (const TYencPart& part : parts) {
        std::vector<TFileRun> r = driver.Feed(part.Lines);
        ASSERT_EQ(r.size(), 1u);
        runs.push_back(r[0]);
    }
    EXPECT_EQ(runs[0].PartCrc, runs[0].Trailer.PartCrc);
    EXPECT_NE(runs[1].PartCrc, runs[1].Trailer.PartCrc);
    EXPECT_EQ(runs[1].PartCrc, test::BitwiseCrc32(part2));
    EXPECT_EQ(runs[2].PartCrc, runs[2].Trailer.PartCrc);
    EXPECT_NE(runs[2].FileCrc, runs[2].Trailer.Crc);
    EXPECT_EQ(runs[2].FileCrc, test::BitwiseCrc32(parts[0].Data + part2 + parts[2].Data));
    EXPECT_TRUE(ReadFile(tmp.File("damaged.bin")) == parts[0].Data + part2 + parts[2].Data);
}

// ---- enciphered files ----

TEST(EncryptedRoundTrip, FileDeciphersToTheBlobWithAGoodChecksum) {
    const std::string key = "river stone 42";
    TTempDir tmp;
    TDecoder decoder;
    TDriver driver(decoder, tmp, key);
    struct TCase {
        const char* Label;
        TLines Lines;
        std::string Data;
    };
    const std::string big = Noise(1 << 20, 123);
    const std::string small = Noise(61, 124);
    const std::string medium = Noise(4000, 125);
    const TCase cases[] = {
        {"yEnc 1MiB", YencSinglePart(big, "big.bin"), big},
        {"yEnc empty", YencSinglePart("", "empty.bin"), ""},
        {"xx 61", XxEncode(small, "small.bin"), small},
        {"yEnc 4000", YencSinglePart(medium, "medium.bin"), medium},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        const std::vector<TFileRun> runs = driver.Feed(c.Lines);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].LastCode, DECODE_END);
        EXPECT_EQ(runs[0].Length, static_cast<int64_t>(CRYPT_HEADER_SIZE + c.Data.size()));

        std::string disk = ReadFile(tmp.File(runs[0].Name));
        ASSERT_EQ(disk.size(), CRYPT_HEADER_SIZE + c.Data.size());
        EXPECT_EQ(disk.substr(0, 6), "KVENC\n");
        CryptState state;
        uint8_t* bytes = reinterpret_cast<uint8_t*>(disk.data());
        ASSERT_EQ(CryptReadHeader(state, key, bytes, disk.size()),
                  static_cast<int>(CRYPT_HEADER_SIZE));
        CryptDecrypt(state, bytes + CRYPT_HEADER_SIZE, disk.size() - CRYPT_HEADER_SIZE);
        EXPECT_TRUE(disk.substr(CRYPT_HEADER_SIZE) == c.Data) << "deciphered file differs";
        EXPECT_TRUE(CryptChecksumOk(state));
        // The yEnc checks see the plain bytes.
        if (std::string_view(c.Label).starts_with("yEnc")) {
            EXPECT_EQ(runs[0].PartCrc, test::BitwiseCrc32(c.Data));
        }

        CryptState wrong;
        EXPECT_EQ(CryptReadHeader(wrong, "other key", bytes, disk.size()), CRYPT_BAD_KEY);
    }
}

TEST(EncryptedRoundTrip, EmptyKeyIsRefused) {
    TTempDir tmp;
    TDecoder decoder;
    ASSERT_TRUE(decoder.BeginUuFile(tmp.Path() + "/", "plain.bin", false));
    EXPECT_FALSE(decoder.StartEncryption(""));
    decoder.SetDecodeMode(MODE_YENC);
    EXPECT_EQ(decoder.DecodeLine(YencDataLines("abc")[0]), DECODE_OK);
    EXPECT_EQ(decoder.EndFile(), 3);
    EXPECT_EQ(ReadFile(tmp.File("plain.bin")), "abc");
}

}  // namespace
}  // namespace zorvex
