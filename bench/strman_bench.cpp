// Interning throughput: subjects and posters of a group's headers, most of
// the posters and many subjects repeating.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "library/strman.h"

namespace {

std::vector<std::string> MakeTexts(size_t n) {
    std::vector<std::string> texts;
    texts.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        texts.push_back("Holiday pictures \"img_" + std::to_string(i / 4) + ".jpg\" yEnc (" +
                        std::to_string(i % 4 + 1) + "/4)");
        texts.push_back("poster" + std::to_string(i % 300) + " <poster" + std::to_string(i % 300) +
                        "@example.com>");
    }
    return texts;
}

void BM_InternHeaders(benchmark::State& state) {
    const std::vector<std::string> texts = MakeTexts(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        zorvex::TStringManager table(zorvex::kBaseEntrySize, 13);
        for (const std::string& t : texts) benchmark::DoNotOptimize(table.Add(t.c_str()));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(texts.size()));
}
BENCHMARK(BM_InternHeaders)->Arg(32000);

void BM_FindExisting(benchmark::State& state) {
    const std::vector<std::string> texts = MakeTexts(32000);
    zorvex::TStringManager table(zorvex::kBaseEntrySize, 13);
    for (const std::string& t : texts) table.Add(t.c_str());
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.Find(texts[i].c_str()));
        if (++i == texts.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindExisting);

}  // namespace
