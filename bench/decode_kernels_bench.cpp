// The article decoder's kernels, each implementation this CPU runs, on the
// line shapes of real articles: yEnc lines of 128 characters made from
// random bytes by the usual escapes (and, to show what the escapes cost,
// bytes that never need one), base64 lines of 76, one call per line over a
// 16 MiB payload; the CRC over 1 MiB at once and in 96-byte steps. Bytes
// per second count decoded output (the CRC: bytes summed).
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "decode/kernels.h"
#include "decode/kernels_impl.h"
#include "support/encoders.h"

namespace {

using namespace zorvex;

constexpr size_t PAYLOAD_SIZE = 16u << 20;
constexpr size_t YENC_LINE = 128;
constexpr size_t BASE64_LINE = 76;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> data(n);
    uint64_t x = seed;
    for (uint8_t& b : data) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        b = static_cast<uint8_t>(x >> 56);
    }
    return data;
}

std::vector<std::string> YencLines(const std::vector<uint8_t>& data) {
    return test::YencDataLines(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), YENC_LINE);
}

std::vector<uint8_t> WithoutEscapes(std::vector<uint8_t> data) {
    // Every byte whose character is one of the escaped ones moves two on,
    // which lands on none of them.
    for (uint8_t& b : data) {
        const char c = static_cast<char>(b + 42);
        if (c == '\0' || c == '\n' || c == '\r' || c == '=' || c == '\t' || c == ' ' || c == '.') {
            b = static_cast<uint8_t>(b + 2);
        }
    }
    return data;
}

std::vector<std::string> Base64Lines(const std::vector<uint8_t>& data) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::string> lines(1);
    for (size_t i = 0; i + 3 <= data.size(); i += 3) {
        if (lines.back().size() == BASE64_LINE) lines.emplace_back();
        const uint32_t x = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        for (int s = 18; s >= 0; s -= 6) lines.back() += alphabet[x >> s & 63];
    }
    return lines;
}

// The lines one after another with CRLF between, as an article body
// arrives, and where each starts.
struct TText {
    std::string Body;
    std::vector<std::pair<size_t, size_t>> Lines;  // offset, length
};

TText Join(const std::vector<std::string>& lines) {
    TText text;
    for (const std::string& line : lines) {
        text.Lines.emplace_back(text.Body.size(), line.size());
        text.Body += line;
        text.Body += "\r\n";
    }
    return text;
}

// Each line decodes onto the end of the part so far, as the decoder does.
void YencLinesBench(benchmark::State& state, TYencFn fn, const TText& text) {
    std::vector<uint8_t> out(PAYLOAD_SIZE);
    size_t produced = 0;
    for (auto _ : state) {
        size_t o = 0;
        for (const auto& [at, len] : text.Lines)
            o += fn(text.Body.data() + at, len, out.data() + o);
        benchmark::ClobberMemory();
        produced = o;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * produced));
    size_t chars = 0;
    for (const auto& line : text.Lines) chars += line.second;
    state.counters["escapes/line"] =
        static_cast<double>(chars - produced) / static_cast<double>(text.Lines.size());
}

void Base64LinesBench(benchmark::State& state, TBase64Fn fn, const TText& text) {
    std::vector<uint8_t> out(PAYLOAD_SIZE);
    size_t produced = 0;
    for (auto _ : state) {
        size_t o = 0;
        for (const auto& [at, len] : text.Lines) {
            size_t consumed;
            o += fn(text.Body.data() + at, len, BASE64_LINE / 4, out.data() + o, &consumed);
        }
        benchmark::ClobberMemory();
        produced = o;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * produced));
}

void CrcBench(benchmark::State& state, TCrc32Fn fn, size_t step) {
    const std::vector<uint8_t> data = RandomBytes(1u << 20, 3);
    uint32_t crc = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < data.size(); at += step) {
            crc = fn(crc, data.data() + at, std::min(step, data.size() - at));
        }
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// The full payload, and a slice that stays in L2 to show the kernels
// apart from memory.
constexpr size_t L2_PAYLOAD_SIZE = 256u << 10;

const TText& RealYenc(size_t size) {
    static const TText full = Join(YencLines(RandomBytes(PAYLOAD_SIZE, 1)));
    static const TText part = Join(YencLines(RandomBytes(L2_PAYLOAD_SIZE, 1)));
    return size == PAYLOAD_SIZE ? full : part;
}

const TText& PlainYenc() {
    static const TText text = Join(YencLines(WithoutEscapes(RandomBytes(L2_PAYLOAD_SIZE, 1))));
    return text;
}

const TText& Base64Text(size_t size) {
    static const TText full = Join(Base64Lines(RandomBytes(PAYLOAD_SIZE, 2)));
    static const TText part = Join(Base64Lines(RandomBytes(L2_PAYLOAD_SIZE, 2)));
    return size == PAYLOAD_SIZE ? full : part;
}

const bool REGISTERED = [] {
    benchmark::AddCustomContext("yenc dispatch", YencKernelName());
    benchmark::AddCustomContext("base64 dispatch", Base64KernelName());
    benchmark::AddCustomContext("crc32 dispatch", Crc32KernelName());
    for (const auto& k : YencKernelsAvailable()) {
        const std::string name = k.Name;
        benchmark::RegisterBenchmark(("Yenc128/" + name).c_str(), [fn = k.Run](auto& s) {
            YencLinesBench(s, fn, RealYenc(PAYLOAD_SIZE));
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Yenc128InL2/" + name).c_str(), [fn = k.Run](auto& s) {
            YencLinesBench(s, fn, RealYenc(L2_PAYLOAD_SIZE));
        });
        benchmark::RegisterBenchmark(("Yenc128InL2NoEscapes/" + name).c_str(),
                                     [fn = k.Run](auto& s) { YencLinesBench(s, fn, PlainYenc()); });
    }
    for (const auto& k : Base64KernelsAvailable()) {
        const std::string name = k.Name;
        benchmark::RegisterBenchmark(("Base64x76/" + name).c_str(), [fn = k.Run](auto& s) {
            Base64LinesBench(s, fn, Base64Text(PAYLOAD_SIZE));
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Base64x76InL2/" + name).c_str(), [fn = k.Run](auto& s) {
            Base64LinesBench(s, fn, Base64Text(L2_PAYLOAD_SIZE));
        });
    }
    for (const auto& k : Crc32KernelsAvailable()) {
        for (size_t step : {size_t{1} << 20, size_t{96}}) {
            benchmark::RegisterBenchmark(
                ("Crc32/" + std::string(k.Name) + "/" + std::to_string(step)).c_str(),
                [fn = k.Run, step](auto& s) { CrcBench(s, fn, step); })
                ->Unit(benchmark::kMicrosecond);
        }
    }
    return true;
}();

}  // namespace
