// ncdc: the decoder engine. Turns article body lines into files: tells the
// lines that open or describe an attachment (uuencode "begin", yEnc
// "=ybegin", MIME part headers) from the rest, takes file names and yEnc
// part data from them, opens the output file and decodes one line at a time
// (uuencode, xxencode, MIME base64, yEnc). It knows nothing of articles or
// groups: the article-to-file driver feeds it and decides what a file is.
//
// Every decoded byte takes one road to the disk: the JPEG virus check, the
// live preview, the plug-ins, the optional cipher, one buffered write.
// Lines are untrusted: nothing here reads or writes outside its buffers,
// and a file is only ever created as directory + name, never through a
// symbolic link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "decode/crypt.h"
#include "decode/jpegvirus.h"

namespace zorvex {

enum class TLineKind : int {
    LINE_OTHER = 0,
    LINE_BEGIN = 1,              // "begin "
    LINE_CONTENT_TYPE = 2,       // "Content-Type:"
    LINE_TRANSFER_ENCODING = 3,  // "Content-Transfer-Encoding:"
    LINE_DISPOSITION = 4,        // "Content-Disposition:"
    LINE_CONTINUATION = 5,       // a folded header line
    LINE_YBEGIN = 6,             // "=ybegin "
};
using enum TLineKind;

enum class TDecodeResult : int {
    DECODE_OK = 1,
    DECODE_BOGUS = 2,
    DECODE_BAD_FIRST_LINE = 3,
    DECODE_END = 4,
    DECODE_WRITE_FAILED = 6,
    DECODE_VIRUS = 7,
    // base64: written, but characters outside the alphabet were skipped.
    DECODE_SKIPPED = 8,
};
using enum TDecodeResult;

enum class TDecodeMode : int {
    MODE_BASE64 = 1,
    MODE_UU = 2,  // uuencode or xxencode; any value but 1 and 3 decodes so
    MODE_YENC = 3,
};
using enum TDecodeMode;

enum class TTransferEncoding : int {
    TE_UNKNOWN = 0,
    TE_X_UU = 1,
    TE_X_XX = 2,
    TE_BASE64 = 3,
};
using enum TTransferEncoding;

constexpr size_t DECODE_PATH_MAX = 250;         // directory + name
constexpr size_t DECODE_STREAM_BUFFER = 20480;  // the output file's buffer
constexpr size_t YENC_LINE_MAX = 1023;          // longer yEnc lines are bogus
constexpr size_t BASE64_LINE_BYTES_MAX = 1024;  // a base64 line stops after this
constexpr size_t PREVIEW_BUFFER_SIZE = 2048;
constexpr const char* INITIAL_METHOD_NAME = "Encoding Method Goes Here";

// The kind of a body line; valuePos receives where its value starts (after
// the keyword and the white space that follows it).
TLineKind ClassifyLine(std::string_view line, size_t* valuePos);
// The name of a "begin 644 name" line; false and an empty name if none.
bool BeginLineName(std::string_view line, std::string* name);
// The "name=" value of a "=ybegin" line; false and an empty name if none.
bool YencName(std::string_view line, std::string* name);
// The numbers after "part=" and "size="; -1 when the key is absent.
int64_t YencPart(std::string_view line);
int64_t YencSize(std::string_view line);
// Cleans a name as articles write it (quotes, "(1/3)" after the extension);
// false when nothing is left.
bool TidyFileName(std::string_view source, std::string* name);
const char* TransferEncodingName(TTransferEncoding code);

// The values of a "=yend" line, for checking what was decoded.
struct TYencTrailer {
    bool Seen = false;
    int64_t Size = -1;  // size=, -1 when absent
    int64_t Part = -1;  // part=
    bool HasPartCrc = false;
    uint32_t PartCrc = 0;  // pcrc32=
    bool HasCrc = false;
    uint32_t Crc = 0;  // crc32=
};

// Those who see a file on its way to the disk: the plug-ins and the live
// preview of a JPEG picture.
class TDecodeObservers {
  public:
    virtual ~TDecodeObservers() = default;
    // Plug-ins: the path of a uu/xx/yEnc file, its bytes, its final length.
    virtual void PlugInFile(const std::string& path) = 0;
    virtual void PlugInFileBuffer(const uint8_t* bytes, size_t length) = 0;
    virtual void PlugInFileDone(int64_t length) = 0;
    // Preview: false when no preview is shown for this file.
    virtual bool PreviewStart(const std::string& path) = 0;
    // Takes what it can from the front of bytes; returns how much it took.
    virtual size_t PreviewFeed(const uint8_t* bytes, size_t length) = 0;
    virtual void PreviewFinish() = 0;
};

// No plug-in is loaded and no preview is shown.
class TNoPlugInsNoPreview final : public TDecodeObservers {
  public:
    void PlugInFile(const std::string&) override {}
    void PlugInFileBuffer(const uint8_t*, size_t) override {}
    void PlugInFileDone(int64_t) override {}
    bool PreviewStart(const std::string&) override { return false; }
    size_t PreviewFeed(const uint8_t*, size_t length) override { return length; }
    void PreviewFinish() override {}
    static TNoPlugInsNoPreview& Instance() {
        static TNoPlugInsNoPreview none;
        return none;
    }
};

class TDecoder {
  public:
    explicit TDecoder(TDecodeObservers& observers = TNoPlugInsNoPreview::Instance());
    ~TDecoder();
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    void SetTransferEncoding(std::string_view token);
    TTransferEncoding TransferEncoding() const { return Encoding; }

    // directory ends with '/'; name must not contain '/'. False when the
    // path is too long, the name is unusable or the file cannot be opened.
    bool BeginUuFile(std::string_view directory, std::string_view name, bool append);
    bool BeginBase64File(std::string_view directory, std::string_view name);
    // Makes the file just begun an enciphered one; false when the key is
    // empty or the header cannot be written.
    bool StartEncryption(std::string_view key);

    void SetDecodeMode(TDecodeMode mode) { Mode = mode; }
    TDecodeMode DecodeMode() const { return Mode; }
    bool InBase64Mode() const { return Mode == MODE_BASE64; }

    TDecodeResult DecodeLine(std::string_view line);
    // Closes the file; its length on disk, or 0 when none was open.
    int64_t EndFile();
    bool FileOpen() const { return Fd >= 0; }
    // Whether the file EndFile just closed lost bytes: a write failed at
    // any point, the last flush included.
    bool EndFailed() const { return LastEndFailed; }

    bool IsFullLine(std::string_view line) const;
    // A uu/xx data line of the current table that decodes whole, full or
    // short (the last part of a file may hold no full line).
    bool IsDataLine(std::string_view line);
    const char* MethodName() const;

    // [misc] viewer_enable: whether new JPEG files are previewed.
    void SetViewerEnabled(bool on) { ViewerEnabled = on; }

    // yEnc checks: the CRC-32 and byte count of the current part (since the
    // last begin) and of the whole file (since the last begin that was not
    // an append), and the values of the last "=yend" line.
    uint32_t PartCrc() const;
    int64_t PartBytes() const { return PartByteCount; }
    uint32_t FileCrc() const;
    const TYencTrailer& YencTrailer() const { return Trailer; }
    // After an append began: the whole-file CRC of the parts already in the
    // file, when a file other than this one was decoded since its last part.
    void ContinueFileCrc(uint32_t crcSoFar) { FileCrcBase = crcSoFar; }
    // The JPEG check carries across the parts of one multipart file: an
    // append starts from the state the previous part ended with.
    const JpegVirusState& VirusScanState() const { return Virus; }
    void ContinueVirusScan(const JpegVirusState& state) { Virus = state; }
    // After EndFile: forgets the bytes of the last part, as when the part
    // was taken back out of the file, so FileCrc() covers the parts before.
    void DiscardPart() {
        PartCrcValue = 0;
        PartByteCount = 0;
        CrcPending = false;
    }

  private:
    bool Begin(std::string_view directory, std::string_view name, bool append, bool base64);
    // Picks uuencode or xxencode by the first data line and builds the
    // table; false when the line fits neither.
    bool BuildUuTables(std::string_view line);
    TDecodeResult DecodeUu(std::string_view line);
    // Decodes a uu/xx data line into Decoded without writing it.
    TDecodeResult DecodeUuGroups(std::string_view line, const int8_t* table, int* announced);
    TDecodeResult DecodeBase64(std::string_view line);
    TDecodeResult DecodeYenc(std::string_view line);
    TDecodeResult WriteDecoded(size_t length, bool toPlugIns);
    bool FlushStream();
    void PreviewAppend(const uint8_t* bytes, size_t length);
    void PreviewEnd();

    TDecodeObservers& Observers;
    TDecodeMode Mode = MODE_UU;
    TTransferEncoding Encoding = TE_UNKNOWN;
    const char* Method = INITIAL_METHOD_NAME;
    bool FirstLinePending = false;
    int FullLineChar = 'M';
    int8_t Reverse[256];
    int Fd = -1;
    uint8_t* Stream = nullptr;  // DECODE_STREAM_BUFFER bytes, allocated at the first file
    size_t StreamUsed = 0;
    bool StreamFailed = false;
    bool LastEndFailed = false;
    // One line's bytes: uu gives at most 63, base64 at most 1026, a yEnc
    // line under 1023 characters at most 1022.
    uint8_t Decoded[1040];
    JpegVirusState Virus;
    CryptState Cipher;
    bool Encrypting = false;
    bool Appending = false;
    bool ViewerEnabled = false;
    bool PreviewActive = false;
    uint8_t* Preview = nullptr;  // PREVIEW_BUFFER_SIZE bytes, allocated at first use
    size_t PreviewUsed = 0;
    // Plain yEnc bytes wait in the stream buffer from CrcFrom on and are
    // summed in one pass when it is flushed or the CRC is asked for: a CRC
    // per line costs more than the decoding itself.
    void SyncCrc() const;
    mutable uint32_t PartCrcValue = 0;
    mutable bool CrcPending = false;
    mutable size_t CrcFrom = 0;
    int64_t PartByteCount = 0;
    uint32_t FileCrcBase = 0;  // the CRC of the parts before this one
    TYencTrailer Trailer;
};

}  // namespace zorvex
