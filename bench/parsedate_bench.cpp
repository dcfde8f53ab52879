// Dates per second over a mix of "Date:" values as news servers send them.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "library/parsedate.h"

namespace {

const char* const kDates[] = {
    "Thu, 10 Dec 2026 11:39:45 +0000",
    "Mon, 07 May 2007 10:11:12 GMT",
    "Wed, 9 Dec 2026 23:01:02 -0500 (EST)",
    "Tue, 08 Dec 2026 07:15:00 +0100",
    "9 Dec 2026 18:22:09 GMT",
    "Sun, 06 Dec 2026 12:00:00 +0100 (CET)",
    "Fri, 04 Dec 26 03:04:05 PST",
    "2026-12-10 11:39:45",
};
constexpr size_t kCount = sizeof(kDates) / sizeof(kDates[0]);

void BM_ParseHeaderDates(benchmark::State& state) {
    const zorvex::TDateReference ref{1796902785, 0};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zorvex::ParseDate(kDates[i], &ref));
        if (++i == kCount) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseHeaderDates);

// Without a reference: the clock and the cached local zone.
void BM_ParseHeaderDatesLocal(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zorvex::ParseDate(kDates[i]));
        if (++i == kCount) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseHeaderDatesLocal);

}  // namespace
