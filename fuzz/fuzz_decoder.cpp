// Any bytes as an article body, one line per '\n'. The first byte picks how
// the decoder starts: bits 0-1 a file already begun in base64 (1), uu (2) or
// yEnc (3) mode, or none (0: files begin only from the lines); bit 2 makes
// that first begin an append, bit 3 enciphers the files, bit 4 shows a
// preview. Every line goes through the parsers, and through DecodeLine while
// a file is open. Files land in one directory made at the first run; a name
// with '/' or a path over the limit must be refused, and EndFile must tell
// the length the file really has.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "decode/ncdc.h"

namespace {

using namespace zorvex;

const std::string& Dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/zorvex-fuzz-decoder-XXXXXX";
        if (!mkdtemp(pattern)) abort();
        return std::string(pattern) + "/";
    }();
    return dir;
}

// Reads every byte it is shown, so that a bad pointer or length is caught.
class TCheckingObservers final : public TDecodeObservers {
  public:
    bool Preview = false;
    uint32_t Sum = 0;
    void PlugInFile(const std::string& path) override {
        if (path.compare(0, Dir().size(), Dir()) != 0) __builtin_trap();
    }
    void PlugInFileBuffer(const uint8_t* bytes, size_t length) override { Touch(bytes, length); }
    void PlugInFileDone(int64_t length) override {
        if (length < 0) __builtin_trap();
    }
    bool PreviewStart(const std::string& path) override {
        if (path.compare(0, Dir().size(), Dir()) != 0) __builtin_trap();
        return Preview;
    }
    size_t PreviewFeed(const uint8_t* bytes, size_t length) override {
        const size_t take = length < 700 ? length : 700;
        Touch(bytes, take);
        return take;
    }
    void PreviewFinish() override {}

  private:
    void Touch(const uint8_t* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) Sum += bytes[i];
    }
};

class THarness {
  public:
    THarness(TDecoder& decoder, bool encrypt) : Decoder(decoder), Encrypt(encrypt) {}

    // Begins fixed names only, so that runs do not litter the directory;
    // names a driver must never use are tried and must fail.
    void Begin(const std::string& name, TDecodeMode mode, bool append, const char* fixed) {
        Close();
        if (name.find('/') != std::string::npos || Dir().size() + name.size() > DECODE_PATH_MAX) {
            if (Decoder.BeginUuFile(Dir(), name, append)) __builtin_trap();
            if (Decoder.BeginBase64File(Dir(), name)) __builtin_trap();
            return;
        }
        Decoder.SetDecodeMode(mode);
        const bool ok = mode == MODE_BASE64 ? Decoder.BeginBase64File(Dir(), fixed)
                                            : Decoder.BeginUuFile(Dir(), fixed, append);
        if (!ok) return;
        Decoder.SetDecodeMode(mode);
        Path = Dir() + fixed;
        // A cipher header starts a file; an appended part adds to one.
        if (Encrypt && !append && !Decoder.StartEncryption("fuzz key")) __builtin_trap();
    }

    void Close() {
        if (!Decoder.FileOpen()) return;
        const int64_t length = Decoder.EndFile();
        struct stat st;
        if (stat(Path.c_str(), &st) != 0 || st.st_size != length) __builtin_trap();
    }

    void Line(std::string_view line) {
        size_t pos = 0;
        const TLineKind kind = ClassifyLine(line, &pos);
        if (static_cast<int>(kind) < static_cast<int>(LINE_OTHER) ||
            static_cast<int>(kind) > static_cast<int>(LINE_YBEGIN) || pos > line.size())
            __builtin_trap();
        std::string beginName, yencName, tidy;
        const bool hasBegin = BeginLineName(line, &beginName);
        const bool hasYenc = YencName(line, &yencName);
        const int64_t part = YencPart(line);
        (void)YencSize(line);
        if (TidyFileName(line.substr(pos), &tidy) && tidy.empty()) {
            __builtin_trap();
        }
        (void)Decoder.IsFullLine(line);

        if (Decoder.FileOpen()) {
            const TDecodeResult code = Decoder.DecodeLine(line);
            switch (code) {
                case DECODE_OK:
                case DECODE_BOGUS:
                case DECODE_SKIPPED:
                    break;
                case DECODE_BAD_FIRST_LINE:
                case DECODE_END:
                case DECODE_WRITE_FAILED:
                case DECODE_VIRUS:
                    Close();
                    break;
                default:
                    __builtin_trap();
            }
            return;
        }
        switch (kind) {
            case LINE_BEGIN:
                if (hasBegin) Begin(beginName, MODE_UU, false, "uu.bin");
                break;
            case LINE_YBEGIN:
                if (hasYenc) Begin(yencName, MODE_YENC, part > 1, "yenc.bin");
                break;
            case LINE_TRANSFER_ENCODING:
                Decoder.SetTransferEncoding(line.substr(pos));
                (void)TransferEncodingName(Decoder.TransferEncoding());
                break;
            case LINE_DISPOSITION:
                if (!tidy.empty()) MimeName = tidy;
                break;
            default:
                if (line.empty() && Decoder.TransferEncoding() == TE_BASE64 && !MimeName.empty()) {
                    Begin(MimeName, MODE_BASE64, false, "mime.bin");
                    MimeName.clear();
                }
                break;
        }
    }

  private:
    TDecoder& Decoder;
    bool Encrypt;
    std::string Path;
    std::string MimeName;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    TCheckingObservers observers;
    observers.Preview = (control & 16) != 0;
    TDecoder decoder(observers);
    decoder.SetViewerEnabled(observers.Preview);
    THarness harness(decoder, (control & 8) != 0);
    const int mode = control & 3;
    if (mode != 0) {
        static const char* const NAMES[] = {"", "base64.bin", "uu.bin", "yenc.bin"};
        harness.Begin(NAMES[mode], static_cast<TDecodeMode>(mode), (control & 4) != 0,
                      NAMES[mode]);
    }

    std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!body.empty()) {
        size_t nl = body.find('\n');
        if (nl == std::string_view::npos) nl = body.size();
        std::string_view line = body.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // A copy of exactly the line, so that reading past it is caught.
        std::unique_ptr<char[]> copy(new char[line.size()]);
        std::copy(line.begin(), line.end(), copy.get());
        harness.Line(std::string_view(copy.get(), line.size()));
        body.remove_prefix(nl < body.size() ? nl + 1 : nl);
    }
    harness.Close();
    return 0;
}
