// The decoder on the download path: 4 MiB of random bytes, encoded once as
// yEnc (128-character lines), base64 (76), uuencode and xxencode (61), then
// decoded line by line through TDecoder::DecodeLine into a file in /tmp, one
// file per iteration. Reports decoded bytes per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "decode/kernels.h"
#include "decode/ncdc.h"
#include "support/encoders.h"

namespace {

using namespace zorvex;

constexpr size_t DATA_SIZE = 4u << 20;

std::string MakeData() {
    std::string data(DATA_SIZE, '\0');
    uint32_t x = 12345;
    for (char& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    return data;
}

std::vector<std::string> Base64Lines(std::string_view data) {
    static constexpr char A[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::string> lines;
    for (size_t at = 0; at < data.size(); at += 57) {
        std::string_view chunk = data.substr(at, 57);
        std::string line;
        for (size_t i = 0; i < chunk.size(); i += 3) {
            const size_t n = chunk.size() - i < 3 ? chunk.size() - i : 3;
            uint8_t b[3] = {};
            for (size_t k = 0; k < n; ++k) b[k] = chunk[i + k];
            line += A[b[0] >> 2];
            line += A[((b[0] & 3) << 4) | (b[1] >> 4)];
            line += n > 1 ? A[((b[1] & 15) << 2) | (b[2] >> 6)] : '=';
            line += n > 2 ? A[b[2] & 63] : '=';
        }
        lines.push_back(line);
    }
    return lines;
}

// uuencode (alphabet from ' ', zero as '`') or xxencode, 45 bytes a line.
std::vector<std::string> UuLines(std::string_view data, bool xx) {
    static constexpr char XX[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    auto enc = [xx](int v) { return xx ? XX[v] : v == 0 ? '`' : static_cast<char>(' ' + v); };
    std::vector<std::string> lines;
    for (size_t at = 0; at < data.size(); at += 45) {
        std::string_view chunk = data.substr(at, 45);
        std::string line(1, enc(static_cast<int>(chunk.size())));
        for (size_t i = 0; i < chunk.size(); i += 3) {
            uint8_t b[3] = {};
            for (size_t k = 0; k < 3 && i + k < chunk.size(); ++k) b[k] = chunk[i + k];
            line += enc(b[0] >> 2);
            line += enc(((b[0] & 3) << 4) | (b[1] >> 4));
            line += enc(((b[1] & 15) << 2) | (b[2] >> 6));
            line += enc(b[2] & 63);
        }
        lines.push_back(line);
    }
    return lines;
}

// One output directory per file system for the whole program, removed at
// exit: /tmp is the disk, /dev/shm memory (the engine's own cost).
class TOutDir {
  public:
    explicit TOutDir(const char* base) {
        std::string pattern = std::string(base) + "/zorvex-bench-decoder-XXXXXX";
        if (!mkdtemp(pattern.data())) abort();
        Path = pattern + "/";
    }
    ~TOutDir() {
        std::remove((Path + "out.bin").c_str());
        rmdir(Path.c_str());
    }
    std::string Path;
};

const std::string& OutDir(bool memory) {
    static TOutDir disk("/tmp");
    static TOutDir shm(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    return memory ? shm.Path : disk.Path;
}

void Decode(benchmark::State& bench, const std::vector<std::string>& lines, int mode) {
    const std::string& dir = OutDir(bench.range(0) != 0);
    TDecoder decoder;
    int64_t written = 0;
    for (auto _ : bench) {
        decoder.SetDecodeMode(mode);
        const bool ok = mode == MODE_BASE64 ? decoder.BeginBase64File(dir, "out.bin")
                                            : decoder.BeginUuFile(dir, "out.bin", false);
        if (!ok) {
            bench.SkipWithError("cannot open the output file");
            return;
        }
        decoder.SetDecodeMode(mode);
        for (const std::string& line : lines) {
            if (decoder.DecodeLine(line) != DECODE_OK) {
                bench.SkipWithError("a line was refused");
                decoder.EndFile();
                return;
            }
        }
        written += decoder.EndFile();
    }
    if (written != static_cast<int64_t>(bench.iterations() * DATA_SIZE)) {
        bench.SkipWithError("the file has the wrong length");
    }
    bench.SetBytesProcessed(written);
    bench.SetLabel(bench.range(0) ? "tmpfs" : "disk");
}

void BM_DecodeYenc(benchmark::State& bench) {
    static const std::vector<std::string> lines = test::YencDataLines(MakeData());
    Decode(bench, lines, MODE_YENC);
    bench.SetLabel(std::string(bench.range(0) ? "tmpfs, " : "disk, ") + YencKernelName() +
                   ", crc " + Crc32KernelName());
}
void BM_DecodeBase64(benchmark::State& bench) {
    static const std::vector<std::string> lines = Base64Lines(MakeData());
    Decode(bench, lines, MODE_BASE64);
    bench.SetLabel(std::string(bench.range(0) ? "tmpfs, " : "disk, ") + Base64KernelName());
}
void BM_DecodeUu(benchmark::State& bench) {
    static const std::vector<std::string> lines = UuLines(MakeData(), false);
    Decode(bench, lines, MODE_UU);
}
void BM_DecodeXx(benchmark::State& bench) {
    static const std::vector<std::string> lines = UuLines(MakeData(), true);
    Decode(bench, lines, MODE_UU);
}

// Wall-clock time: the writes to the file are part of the work. Argument 0
// writes to the disk, 1 to memory.
BENCHMARK(BM_DecodeYenc)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeBase64)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeUu)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeXx)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
