// Header loading: one group's worth of XOVER lines parsed into a fresh store,
// then sorted into number order and poster chains.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "nntp/newsstore.h"

namespace {

using zorvex::TArticleNo;
using zorvex::TNewsStore;

constexpr int kLines = 32000;
constexpr int kPosters = 300;

const std::vector<std::string>& OverviewLines() {
    static const std::vector<std::string> lines = [] {
        static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
        static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        static const char* const kStems[] = {"holiday", "backup", "Linux.ISO", "album",
                                             "photos",  "data",   "archive",   "MOVIE"};
        std::mt19937 rng(12345);
        auto r = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
        std::vector<std::string> out;
        std::vector<std::string> subjects;
        out.reserve(kLines);
        // Beyond 2^31, as on large servers.
        const TArticleNo base = TArticleNo{3} << 31;
        char buf[512];
        for (int i = 0; i < kLines; ++i) {
            std::string subject;
            if (!subjects.empty() && r(10) == 0) {
                subject = subjects[r(static_cast<unsigned>(subjects.size()))];  // a repost
            } else {
                int total = static_cast<int>(r(99)) + 1;
                std::snprintf(buf, sizeof buf, "[%u/%u] - \"%s%u.part%02u.rar\" yEnc (%d/%d)",
                              r(40) + 1, 40u, kStems[r(8)], r(1000), r(60),
                              static_cast<int>(r(static_cast<unsigned>(total))) + 1, total);
                subject = buf;
                subjects.push_back(subject);
            }
            unsigned poster = r(kPosters);
            std::snprintf(buf, sizeof buf,
                          "%lld\t%s\tposter%u <user%u@example%u.com>\t%s, %02u %s 20%02u "
                          "%02u:%02u:%02u GMT\t<part%u$%u@news.example.com>\t\t%u\t%u\t"
                          "Xref: news.example.com alt.binaries.test:%lld",
                          static_cast<long long>(base + i), subject.c_str(), poster, poster,
                          poster % 7, kDays[r(7)], r(28) + 1, kMonths[r(12)], r(20) + 5, r(24),
                          r(60), r(60), r(100000), r(100000), r(400000) + 1000, r(3000) + 10,
                          static_cast<long long>(base + i));
            out.emplace_back(buf);
        }
        return out;
    }();
    return lines;
}

void BM_HeaderLoading(benchmark::State& state) {
    const std::vector<std::string>& lines = OverviewLines();
    std::unique_ptr<TNewsStore> store;
    zorvex::TNewsGroup* group = nullptr;
    for (auto _ : state) {
        state.PauseTiming();
        store = std::make_unique<TNewsStore>();
        group = store->AddGroup("alt.binaries.test");
        state.ResumeTiming();
        for (const std::string& line : lines) store->AddOverviewLine(group, line.c_str());
        store->SortHeaders(group);
        benchmark::DoNotOptimize(group->SortedHead);
    }
    const auto& st = store->Stats();
    const double headers = group->NumHeaders;
    // Header blocks, the bucket heads and the sort index, not the texts.
    const double bytesPerHeader =
        (static_cast<double>(st.BlockBytes) + zorvex::HEADERHASH_COUNT * sizeof(zorvex::THeader*) +
         (headers + 1) * sizeof(zorvex::THeader*)) /
        headers;
    const double textBytesPerHeader =
        static_cast<double>(st.SubjectBytes + st.PosterBytes + st.XrefBytes + st.HostBytes) /
        headers;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLines);
    state.counters["headers"] = headers;
    state.counters["bytes_per_header"] = bytesPerHeader;
    state.counters["text_bytes_per_header"] = textBytesPerHeader;
    state.counters["lines_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kLines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HeaderLoading)->Unit(benchmark::kMillisecond);

}  // namespace
