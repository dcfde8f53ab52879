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
#include "support/benchdir.h"
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
    std::vector<std::string> lines;
    for (size_t at = 0; at < data.size(); at += 57)
        lines.push_back(test::Base64Line(data.substr(at, 57)));
    return lines;
}

// uuencode (zero as '`') or xxencode, 45 bytes a line.
std::vector<std::string> UuLines(std::string_view data, bool xx) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < data.size(); at += 45)
        lines.push_back(
            test::UuLine(data.substr(at, 45), xx ? test::TUuStyle::XX : test::TUuStyle::BACKQUOTE));
    return lines;
}

void Decode(benchmark::State& bench, const std::vector<std::string>& lines, TDecodeMode mode) {
    const std::string& dir = test::BenchOutDir(bench.range(0) != 0);
    TDecoder decoder;
    int64_t written = 0;
    for (auto _ : bench) {
        decoder.SetDecodeMode(mode);
        const bool ok = mode == MODE_BASE64
                            ? decoder.BeginBase64File(dir, test::BENCH_FILE_NAME)
                            : decoder.BeginUuFile(dir, test::BENCH_FILE_NAME, false);
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
