// The file cipher on the download path: 16 MiB enciphered and deciphered in
// one call, in the 1024-byte blocks of the file commands and in odd blocks
// that leave the key-stream cursor at every offset. Reports bytes per second.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/crypt.h"

namespace {

using namespace zorvex;

constexpr size_t DATA_SIZE = 16u << 20;

std::vector<uint8_t> MakeData() {
    std::vector<uint8_t> data(DATA_SIZE);
    uint32_t x = 12345;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

template <bool ENCRYPT>
void BM_Cipher(benchmark::State& bench) {
    const size_t block = static_cast<size_t>(bench.range(0));
    std::vector<uint8_t> data = MakeData();
    CryptState state;
    CryptInit(state, "correct horse battery", 1);
    for (auto _ : bench) {
        for (size_t at = 0; at < data.size(); at += block) {
            size_t n = data.size() - at < block ? data.size() - at : block;
            if (ENCRYPT) {
                CryptEncrypt(state, data.data() + at, n);
            } else {
                CryptDecrypt(state, data.data() + at, n);
            }
        }
        benchmark::DoNotOptimize(state.Checksum);
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) *
                            static_cast<int64_t>(data.size()));
}

void BM_Encrypt(benchmark::State& bench) {
    BM_Cipher<true>(bench);
}
void BM_Decrypt(benchmark::State& bench) {
    BM_Cipher<false>(bench);
}

BENCHMARK(BM_Encrypt)->Arg(DATA_SIZE)->Arg(1024)->Arg(1021)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decrypt)->Arg(DATA_SIZE)->Arg(1024)->Arg(1021)->Unit(benchmark::kMillisecond);

}  // namespace
