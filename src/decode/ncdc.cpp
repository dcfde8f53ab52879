#include "decode/ncdc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decode/kernels.h"
#include "library/ascii.h"
#include "library/check.h"
#include "library/fileio.h"

namespace zorvex {

namespace {

constexpr char UU_ALPHABET[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr char XX_ALPHABET[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char BASE64_ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int8_t NOT_IN_ALPHABET = -2;
// 341 clean groups give 1023 bytes; the group after them reaches the cap.
constexpr size_t BASE64_FAST_GROUPS = BASE64_LINE_BYTES_MAX / 3;

// The reverse table of a uu or xx alphabet: each character's value, then
// the lower-case forms (uuencode reads lower-case letters as upper-case),
// and for uuencode the blank as the backquote.
struct TUuTable {
    int8_t Value[256];
    TUuTable(const char* alphabet, bool blankIsZero) {
        memset(Value, NOT_IN_ALPHABET, sizeof Value);
        for (int i = 0; i < 64; ++i) {
            auto c = static_cast<unsigned char>(alphabet[i]);
            if (Value[c] == NOT_IN_ALPHABET) Value[c] = static_cast<int8_t>(i);
        }
        for (int i = 0; i < 64; ++i) {
            auto c = static_cast<unsigned char>(
                alphabet[i] >= 'A' && alphabet[i] <= 'Z' ? alphabet[i] - 'A' + 'a' : alphabet[i]);
            if (Value[c] == NOT_IN_ALPHABET) Value[c] = static_cast<int8_t>(i);
        }
        if (blankIsZero) Value[static_cast<unsigned char>(' ')] = 0;
    }
};

const TUuTable& UuTable() {
    static const TUuTable table(UU_ALPHABET, true);
    return table;
}

const TUuTable& XxTable() {
    static const TUuTable table(XX_ALPHABET, false);
    return table;
}

size_t SkipWhite(std::string_view s, size_t pos) {
    while (pos < s.size() && IsSpaceAscii(s[pos])) ++pos;
    return pos;
}

// Where key (lower case) first occurs, ignoring case; npos when absent.
size_t FindNoCase(std::string_view s, std::string_view key, size_t from = 0) {
    if (key.size() > s.size()) return std::string_view::npos;
    for (size_t i = from; i + key.size() <= s.size(); ++i)
        if (StartsWithIgnoringCase(s.substr(i), key)) return i;
    return std::string_view::npos;
}

// Where a key of a "=y" line starts: at the start of the line or after white
// space, and before "name=", whose value runs to the end of the line and may
// hold anything ("name=apart=3.jpg" has no part).
size_t FindKey(std::string_view line, std::string_view key) {
    size_t limit = line.size();
    if (key != "name=") {
        size_t name = FindKey(line, "name=");
        if (name != std::string_view::npos) limit = name;
    }
    for (size_t at = FindNoCase(line, key); at != std::string_view::npos && at < limit;
         at = FindNoCase(line, key, at + 1))
        if (at == 0 || IsSpaceAscii(line[at - 1])) return at;
    return std::string_view::npos;
}

// The signed decimal after key=, or -1 when the key is absent.
int64_t NumberAfter(std::string_view line, std::string_view key) {
    size_t at = FindKey(line, key);
    if (at == std::string_view::npos) return -1;
    size_t pos = SkipWhite(line, at + key.size());
    bool negative = false;
    if (pos < line.size() && (line[pos] == '-' || line[pos] == '+')) negative = line[pos++] == '-';
    int64_t value = 0;
    for (; pos < line.size() && line[pos] >= '0' && line[pos] <= '9'; ++pos) {
        if (value > (INT64_MAX - 9) / 10) break;  // absurd sizes stop growing
        value = value * 10 + (line[pos] - '0');
    }
    return negative ? -value : value;
}

// The hexadecimal value after key=; false when there is none.
bool HexAfter(std::string_view line, size_t at, size_t keyLength, uint32_t* value) {
    size_t pos = SkipWhite(line, at + keyLength);
    uint32_t v = 0;
    size_t digits = 0;
    for (; pos < line.size() && digits < 8; ++pos, ++digits) {
        char c = ToLowerAscii(line[pos]);
        if (c >= '0' && c <= '9')
            v = v * 16 + static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            v = v * 16 + static_cast<uint32_t>(c - 'a' + 10);
        else
            break;
    }
    *value = v;
    return digits > 0;
}

TYencTrailer ParseTrailer(std::string_view line) {
    TYencTrailer t;
    t.Seen = true;
    t.Size = YencSize(line);
    t.Part = YencPart(line);
    size_t at = FindKey(line, "pcrc32=");
    if (at != std::string_view::npos) t.HasPartCrc = HexAfter(line, at, 7, &t.PartCrc);
    at = FindKey(line, "crc32=");
    if (at != std::string_view::npos) t.HasCrc = HexAfter(line, at, 6, &t.Crc);
    return t;
}

// A uuencode header gives the file's mode in octal: without it, "begin " is
// a sentence in a text post, not the start of a file.
bool HasOctalMode(std::string_view line, size_t pos) {
    pos = SkipWhite(line, pos);
    size_t digits = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '7') ++pos, ++digits;
    return digits > 0 && (pos == line.size() || IsSpaceAscii(line[pos]));
}

}  // namespace

TLineKind ClassifyLine(std::string_view line, size_t* valuePos) {
    struct TKeyword {
        const char* Text;
        TLineKind Kind;
        bool CaseSensitive;
    };
    static const TKeyword KEYWORDS[] = {
        {"begin ", LINE_BEGIN, true},
        {"content-type:", LINE_CONTENT_TYPE, false},
        {"content-transfer-encoding:", LINE_TRANSFER_ENCODING, false},
        {"content-disposition:", LINE_DISPOSITION, false},
        {"=ybegin ", LINE_YBEGIN, false},
    };
    size_t pos = 0;
    TLineKind kind = LINE_OTHER;
    // Nearly every line is data: its first character rules out the keywords.
    const char first = line.empty() ? '\0' : ToLowerAscii(line[0]);
    if (first != 'b' && first != 'c' && first != '=' && !IsSpaceAscii(first)) {
        if (valuePos) *valuePos = 0;
        return LINE_OTHER;
    }
    if (IsSpaceAscii(first)) {
        kind = LINE_CONTINUATION;
    } else {
        for (const TKeyword& k : KEYWORDS) {
            std::string_view text = k.Text;
            if (k.CaseSensitive ? line.starts_with(text) : StartsWithIgnoringCase(line, text)) {
                kind = k.Kind;
                pos = text.size();
                break;
            }
        }
        if (kind == LINE_BEGIN && !HasOctalMode(line, pos)) kind = LINE_OTHER;
    }
    if (valuePos) *valuePos = kind == LINE_OTHER ? 0 : SkipWhite(line, pos);
    return kind;
}

bool BeginLineName(std::string_view line, std::string* name) {
    name->clear();
    if (!line.starts_with("begin")) return false;
    size_t pos = SkipWhite(line, 5);
    while (pos < line.size() && !IsSpaceAscii(line[pos])) ++pos;  // the mode
    pos = SkipWhite(line, pos);
    return TidyFileName(line.substr(pos), name);
}

bool YencName(std::string_view line, std::string* name) {
    name->clear();
    size_t at = FindKey(line, "name=");
    if (at == std::string_view::npos) return false;
    return TidyFileName(line.substr(SkipWhite(line, at + 5)), name);
}

int64_t YencPart(std::string_view line) {
    return NumberAfter(line, "part=");
}
int64_t YencSize(std::string_view line) {
    return NumberAfter(line, "size=");
}

bool TidyFileName(std::string_view source, std::string* name) {
    auto isQuote = [](char c) { return c == '"' || c == '\''; };
    if (!source.empty() && isQuote(source[0])) {
        size_t pos = 0;
        while (pos < source.size() && isQuote(source[pos])) ++pos;
        pos = SkipWhite(source, pos);
        std::string_view rest = source.substr(pos);
        size_t end = 0;
        while (end < rest.size() && !isQuote(rest[end])) ++end;
        name->assign(rest.substr(0, end));
    } else {
        name->assign(source);
        size_t dot = name->rfind('.');
        if (dot != std::string::npos) {
            size_t end = dot;
            while (end < name->size() && !IsSpaceAscii((*name)[end])) ++end;
            name->resize(end);
        }
    }
    return !name->empty();
}

const char* TransferEncodingName(TTransferEncoding code) {
    switch (code) {
        case TE_UNKNOWN:
            return "unknown";
        case TE_X_UU:
            return "UUEncode";
        case TE_X_XX:
            return "XXEncode";
        case TE_BASE64:
            return "base64";
        default:
            return "???";
    }
}

TDecoder::TDecoder(TDecodeObservers& observers) : Observers(observers) {
    memset(Reverse, NOT_IN_ALPHABET, sizeof Reverse);
}

TDecoder::~TDecoder() {
    // Whoever forgot to end the file, its decoded bytes still reach it.
    if (Fd >= 0) {
        FlushStream();
        close(Fd);
    }
    free(Stream);
    free(Preview);
}

void TDecoder::SetTransferEncoding(std::string_view token) {
    size_t end = 0;
    while (end < token.size() && token[end] != ' ' && token[end] != ';') ++end;
    token = token.substr(0, end);
    auto is = [&](std::string_view word) {
        return token.size() == word.size() && StartsWithIgnoringCase(token, word);
    };
    Encoding = is("base64") ? TE_BASE64 : is("x-uu") ? TE_X_UU : is("x-xx") ? TE_X_XX : TE_UNKNOWN;
}

bool TDecoder::BeginUuFile(std::string_view directory, std::string_view name, bool append) {
    return Begin(directory, name, append, false);
}

bool TDecoder::BeginBase64File(std::string_view directory, std::string_view name) {
    return Begin(directory, name, false, true);
}

bool TDecoder::Begin(std::string_view directory, std::string_view name, bool append, bool base64) {
    if (Fd >= 0) EndFile();
    if (directory.size() + name.size() > DECODE_PATH_MAX) return false;
    // The name alone decides nothing about where the file goes.
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return false;
    std::string path = std::string(directory) + std::string(name);

    if (base64) {
        Method = "base64";
        memset(Reverse, NOT_IN_ALPHABET, sizeof Reverse);
        for (int i = 0; i < 64; ++i)
            Reverse[static_cast<unsigned char>(BASE64_ALPHABET[i])] = static_cast<int8_t>(i);
    } else {
        Observers.PlugInFile(path);
    }
    JpegVirusReset(Virus);
    PreviewActive = false;
    if (!append && ViewerEnabled && IsJpegName(name)) {
        if (Preview == nullptr) {
            Preview = static_cast<uint8_t*>(malloc(PREVIEW_BUFFER_SIZE));
            ZV_CHECK(Preview != nullptr);
        }
        PreviewUsed = 0;
        PreviewActive = Observers.PreviewStart(path);
    }
    Encrypting = false;
    Appending = append;

    // Never through a link, never into a pipe or a device.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                (append ? O_APPEND : O_TRUNC);
    int fd = open(path.c_str(), flags, 0666);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        PreviewEnd();  // a preview begun for this file ends with it
        return false;
    }
    if (Stream == nullptr) {
        Stream = static_cast<uint8_t*>(malloc(DECODE_STREAM_BUFFER));
        ZV_CHECK(Stream != nullptr);
    }
    Fd = fd;
    StreamUsed = 0;
    StreamFailed = false;
    if (!base64) FirstLinePending = true;
    FileCrcBase = append ? FileCrc() : 0;
    CrcPending = false;
    PartCrcValue = 0;
    PartByteCount = 0;
    Trailer = TYencTrailer{};
    return true;
}

bool TDecoder::StartEncryption(std::string_view key) {
    // The header belongs at the start of a new file.
    if (Fd < 0 || Appending || key.empty() || StreamUsed != 0) return false;
    CryptInit(Cipher, key, 1);
    CryptFormatHeader(Cipher, Stream);
    StreamUsed = CRYPT_HEADER_SIZE;
    Encrypting = true;
    return true;
}

void TDecoder::SyncCrc() const {
    if (!CrcPending) return;
    CrcPending = false;
    if (StreamUsed > CrcFrom)
        PartCrcValue = Crc32Update(PartCrcValue, Stream + CrcFrom, StreamUsed - CrcFrom);
}

uint32_t TDecoder::PartCrc() const {
    SyncCrc();
    return PartCrcValue;
}

bool TDecoder::FlushStream() {
    SyncCrc();
    if (StreamFailed) return false;
    if (StreamUsed > 0 && !WriteAll(Fd, Stream, StreamUsed)) {
        StreamFailed = true;
        return false;
    }
    StreamUsed = 0;
    return true;
}

int64_t TDecoder::EndFile() {
    int64_t length = 0;
    if (Fd >= 0) {
        bool ok = FlushStream();
        struct stat st {};
        if (fstat(Fd, &st) == 0) length = st.st_size;
        if (Encrypting && ok) {
            uint8_t header[CRYPT_HEADER_SIZE];
            CryptFormatHeader(Cipher, header);
            ok = lseek(Fd, 0, SEEK_SET) == 0 && WriteAll(Fd, header, sizeof header);
        }
        if (close(Fd) != 0) ok = false;
        Fd = -1;
        LastEndFailed = !ok;
    } else {
        LastEndFailed = false;
    }
    Encrypting = false;
    PreviewEnd();
    Observers.PlugInFileDone(length);
    return length;
}

bool TDecoder::IsFullLine(std::string_view line) const {
    return !line.empty() && static_cast<unsigned char>(line[0]) == FullLineChar;
}

bool TDecoder::IsDataLine(std::string_view line) {
    int announced = 0;
    return !FirstLinePending && DecodeUuGroups(line, Reverse, &announced) == DECODE_OK &&
           announced > 0;
}

uint32_t TDecoder::FileCrc() const {
    // The parts before this one, extended by this part's CRC: one pass over
    // the bytes serves both values.
    return static_cast<uint32_t>(crc32_combine64(FileCrcBase, PartCrc(), PartByteCount));
}

const char* TDecoder::MethodName() const {
    return Mode == MODE_YENC ? "yEnc" : Method;
}

TDecodeResult TDecoder::DecodeLine(std::string_view line) {
    switch (Mode) {
        case MODE_BASE64:
            return DecodeBase64(line);
        case MODE_YENC:
            return DecodeYenc(line);
        default:
            return DecodeUu(line);
    }
}

bool TDecoder::BuildUuTables(std::string_view line) {
    const char first = line.empty() ? '\0' : line[0];
    bool uu;
    if (first == 'M' || first == 'h') {
        uu = first == 'M';
    } else {
        // A file under 45 bytes has no full line: take the alphabet in which
        // the line's length character fits the line, when only one does.
        int announced = 0;
        bool fitsUu = DecodeUuGroups(line, UuTable().Value, &announced) == DECODE_OK;
        bool fitsXx = DecodeUuGroups(line, XxTable().Value, &announced) == DECODE_OK;
        if (fitsUu == fitsXx) return false;
        uu = fitsUu;
    }
    Method = uu ? "UUdecode" : "XXdecode";
    FullLineChar = uu ? 'M' : 'h';
    memcpy(Reverse, (uu ? UuTable() : XxTable()).Value, sizeof Reverse);
    FirstLinePending = false;
    return true;
}

TDecodeResult TDecoder::DecodeUu(std::string_view line) {
    if (line.starts_with("end")) {
        // "end" closes the data, but a full data line may start with those
        // three characters too ('e' announces 42 bytes in xxencode): a line
        // that decodes whole is data, or the file would lose its tail.
        int announced = 0;
        if (FirstLinePending || DecodeUuGroups(line, Reverse, &announced) != DECODE_OK ||
            announced == 0)
            return DECODE_END;
        return WriteDecoded(static_cast<size_t>(announced), true);
    }
    if (FirstLinePending && !BuildUuTables(line)) return DECODE_BAD_FIRST_LINE;
    int announced = 0;
    TDecodeResult code = DecodeUuGroups(line, Reverse, &announced);
    if (code != DECODE_OK || announced == 0) return code;
    return WriteDecoded(static_cast<size_t>(announced), true);
}

TDecodeResult TDecoder::DecodeUuGroups(std::string_view line, const int8_t* table,
                                       int* announcedOut) {
    if (line.empty()) return DECODE_BOGUS;
    const auto* text = reinterpret_cast<const unsigned char*>(line.data());
    const size_t length = line.size();
    int announced = table[text[0]];
    if (announced < 0) return DECODE_BOGUS;
    size_t pos = 1;
    int produced = 0;
    // Groups that lie wholly on the line: no bound checks, one test of
    // all four values.
    const size_t groups = static_cast<size_t>(announced + 2) / 3;
    const size_t whole = std::min(groups, (length - 1) / 4);
    for (size_t g = 0; g < whole; ++g, pos += 4, produced += 3) {
        const int v0 = table[text[pos]], v1 = table[text[pos + 1]];
        const int v2 = table[text[pos + 2]], v3 = table[text[pos + 3]];
        if ((v0 | v1 | v2 | v3) < 0) return DECODE_BOGUS;
        Decoded[produced] = static_cast<uint8_t>(v0 << 2 | v1 >> 4);
        Decoded[produced + 1] = static_cast<uint8_t>(v1 << 4 | v2 >> 2);
        Decoded[produced + 2] = static_cast<uint8_t>(v2 << 6 | v3);
    }
    while (produced < announced) {
        // Only the last group may lose characters that were blanks.
        const bool lastGroup = announced - produced < 4;
        int v[4];
        for (int k = 0; k < 4; ++k) {
            if (pos + k >= length) {
                if (!lastGroup) return DECODE_BOGUS;
                v[k] = 0;
                continue;
            }
            v[k] = table[text[pos + k]];
            if (v[k] < 0) return DECODE_BOGUS;
        }
        Decoded[produced] = static_cast<uint8_t>(v[0] << 2 | v[1] >> 4);
        Decoded[produced + 1] = static_cast<uint8_t>(v[1] << 4 | v[2] >> 2);
        Decoded[produced + 2] = static_cast<uint8_t>(v[2] << 6 | v[3]);
        produced += 3;
        pos += 4;
    }
    int stray = 0;
    for (; pos < length; ++pos)
        if (!IsSpaceAscii(line[pos])) ++stray;
    if (stray >= 2) return DECODE_BOGUS;
    *announcedOut = announced;
    return DECODE_OK;
}

TDecodeResult TDecoder::DecodeBase64(std::string_view line) {
    if (line.starts_with("--")) return DECODE_END;
    const auto* text = reinterpret_cast<const unsigned char*>(line.data());
    const size_t length = line.size();
    size_t pos = 0;
    size_t produced = Base64DecodeGroups(line.data(), length, BASE64_FAST_GROUPS, Decoded, &pos);
    // MIME decoders skip characters outside the alphabet: one stray
    // character must not cost the whole line. Blanks are harmless; anything
    // else is reported.
    int stray = 0;
    while (pos < length && produced < BASE64_LINE_BYTES_MAX) {
        unsigned char quad[4];
        int taken = 0;
        for (; pos < length && taken < 4; ++pos) {
            const unsigned char c = text[pos];
            if (Reverse[c] >= 0 || c == '=')
                quad[taken++] = c;
            else if (!IsSpaceAscii(static_cast<char>(c)))
                ++stray;
        }
        if (taken == 0) break;
        if (taken < 4) return DECODE_BOGUS;  // the line ends inside a group
        int v0 = Reverse[quad[0]], v1 = Reverse[quad[1]];
        if (v0 < 0 || v1 < 0) return DECODE_BOGUS;
        Decoded[produced++] = static_cast<uint8_t>(v0 << 2 | v1 >> 4);
        int high = v0;
        if (quad[2] != '=') {
            int v2 = Reverse[quad[2]];
            Decoded[produced++] = static_cast<uint8_t>(v1 << 4 | v2 >> 2);
            high = v2;
        }
        if (quad[3] != '=')
            Decoded[produced++] = static_cast<uint8_t>(high << 6 | Reverse[quad[3]]);
    }
    if (produced == 0) return stray > 0 ? DECODE_BOGUS : DECODE_OK;
    TDecodeResult code = WriteDecoded(produced, false);
    return code == DECODE_OK && stray > 0 ? DECODE_SKIPPED : code;
}

TDecodeResult TDecoder::DecodeYenc(std::string_view line) {
    if (line.size() >= YENC_LINE_MAX) return DECODE_BOGUS;
    if (line.starts_with("=yend")) {
        Trailer = ParseTrailer(line);
        return DECODE_END;
    }
    if (line.starts_with("=ypart")) return DECODE_OK;
    size_t produced = YencDecodeData(line.data(), line.size(), Decoded);
    if (produced == 0) return DECODE_OK;
    return WriteDecoded(produced, true);
}

TDecodeResult TDecoder::WriteDecoded(size_t length, bool toPlugIns) {
    if (JpegVirusScan(Virus, Decoded, length)) return DECODE_VIRUS;
    if (PreviewActive) PreviewAppend(Decoded, length);
    if (toPlugIns) Observers.PlugInFileBuffer(Decoded, length);
    if (Mode == MODE_YENC) {
        if (Encrypting) {  // the buffer will hold enciphered bytes
            SyncCrc();
            PartCrcValue = Crc32Update(PartCrcValue, Decoded, length);
        }
        PartByteCount += static_cast<int64_t>(length);
    } else {
        SyncCrc();
    }
    if (Encrypting) CryptEncrypt(Cipher, Decoded, length);
    if (Fd < 0 || StreamFailed) return DECODE_WRITE_FAILED;
    if (StreamUsed + length > DECODE_STREAM_BUFFER && !FlushStream()) return DECODE_WRITE_FAILED;
    if (Mode == MODE_YENC && !Encrypting && !CrcPending) {
        CrcPending = true;
        CrcFrom = StreamUsed;
    }
    memcpy(Stream + StreamUsed, Decoded, length);
    StreamUsed += length;
    return DECODE_OK;
}

void TDecoder::PreviewAppend(const uint8_t* bytes, size_t length) {
    if (length >= PREVIEW_BUFFER_SIZE - PreviewUsed) {
        size_t taken = Observers.PreviewFeed(Preview, PreviewUsed);
        if (taken > PreviewUsed) taken = PreviewUsed;
        memmove(Preview, Preview + taken, PreviewUsed - taken);
        PreviewUsed -= taken;
    }
    if (length <= PREVIEW_BUFFER_SIZE - PreviewUsed) {
        memcpy(Preview + PreviewUsed, bytes, length);
        PreviewUsed += length;
    }
}

void TDecoder::PreviewEnd() {
    if (!PreviewActive) return;
    if (PreviewUsed > 0) Observers.PreviewFeed(Preview, PreviewUsed);
    Observers.PreviewFinish();
    PreviewActive = false;
    PreviewUsed = 0;
}

}  // namespace zorvex
