// Header loading: one group's worth of XOVER lines parsed into a fresh store,
// then sorted into number order and poster chains. The lines look like a
// binaries group: a dozen posters uploading multipart posts side by side,
// many parts within one second, parts reaching the server out of order.
#include <benchmark/benchmark.h>

#include <algorithm>
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

constexpr int kPosts = 1000;
constexpr int kParts = 32;
constexpr int kLines = kPosts * kParts;
constexpr int kPosters = 12;
constexpr int kPartsPerSecond = 40;
// Several upload connections: parts land up to this many places off.
constexpr int kReorderWindow = 8;

struct TPart {
    double Time;  // seconds after the start
    int Post;
    int Part;  // 1-based
};

const std::vector<std::string>& OverviewLines() {
    static const std::vector<std::string> lines = [] {
        static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
        static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        static const char* const kStems[] = {"holiday", "backup", "Linux.ISO", "album",
                                             "photos",  "data",   "archive",   "MOVIE"};
        static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        std::mt19937 rng(12345);
        auto r = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };

        // Each poster uploads its posts one after another at a steady rate;
        // the posters run side by side.
        std::vector<std::string> subjects(kPosts);
        std::vector<int> posterOf(kPosts);
        std::vector<double> clock(kPosters);
        for (int p = 0; p < kPosters; ++p) clock[p] = r(600);
        std::vector<TPart> parts;
        parts.reserve(kLines);
        char buf[512];
        for (int post = 0; post < kPosts; ++post) {
            int poster = static_cast<int>(r(kPosters));
            posterOf[post] = poster;
            unsigned stem = r(8), id = r(1000);
            switch (post % 3) {
                case 0:
                    std::snprintf(buf, sizeof buf,
                                  "[%u/40] - \"%s%u.part%02u.rar\" yEnc (%%0%dd/%d)", r(40) + 1,
                                  kStems[stem], id, r(60), 2, kParts);
                    break;
                case 1:
                    std::snprintf(buf, sizeof buf, "\"%s%u.mkv\" yEnc (%%d/%d)", kStems[stem], id,
                                  kParts);
                    break;
                default:
                    std::snprintf(buf, sizeof buf, "%s%u.part%02u.rar (%%d/%d)", kStems[stem], id,
                                  r(60), kParts);
                    break;
            }
            subjects[post] = buf;
            for (int part = 1; part <= kParts; ++part) {
                parts.push_back({clock[poster], post, part});
                clock[poster] += 1.0 / kPartsPerSecond;
            }
            clock[poster] += r(30);
        }
        std::stable_sort(parts.begin(), parts.end(),
                         [](const TPart& a, const TPart& b) { return a.Time < b.Time; });
        for (size_t i = 0; i + kReorderWindow <= parts.size(); i += kReorderWindow)
            std::shuffle(parts.begin() + static_cast<long>(i),
                         parts.begin() + static_cast<long>(i + kReorderWindow), rng);

        // Beyond 2^31, as on large servers.
        const TArticleNo base = TArticleNo{3} << 31;
        const int64_t start = 1178532672;  // a Monday in May 2007
        std::vector<std::string> out;
        out.reserve(kLines);
        for (size_t i = 0; i < parts.size(); ++i) {
            const TPart& part = parts[i];
            char subject[256];
            std::snprintf(subject, sizeof subject, subjects[part.Post].c_str(), part.Part);
            int64_t t = start + static_cast<int64_t>(part.Time);
            int64_t days = t / 86400;
            int secs = static_cast<int>(t % 86400);
            int year = 1970, month = 0;
            for (;;) {
                int len = (year % 4 == 0) ? 366 : 365;
                if (days < len) break;
                days -= len;
                ++year;
            }
            for (;; ++month) {
                int len = kMonthDays[month] + (month == 1 && year % 4 == 0);
                if (days < len) break;
                days -= len;
            }
            int wday = static_cast<int>((t / 86400) % 7);
            int poster = posterOf[part.Post];
            const TArticleNo number = base + static_cast<TArticleNo>(i);
            std::snprintf(buf, sizeof buf,
                          "%lld\t%s\tposter%d <user%d@example%d.com>\t%s, %02d %s %d "
                          "%02d:%02d:%02d %s\t<part%d.%d$%u@news.example.com>\t\t%u\t%u\t"
                          "Xref: news.example.com alt.binaries.test:%lld",
                          static_cast<long long>(number), subject, poster, poster, poster % 7,
                          kDays[wday], static_cast<int>(days) + 1, kMonths[month], year,
                          secs / 3600, secs / 60 % 60, secs % 60, poster % 2 ? "GMT" : "+0000",
                          part.Post, part.Part, r(100000), r(400000) + 1000, r(3000) + 10,
                          static_cast<long long>(number));
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
    // What stays for the run: header blocks and the bucket heads, not the texts.
    const double bytesPerHeader =
        (static_cast<double>(st.BlockBytes) + zorvex::HEADERHASH_COUNT * sizeof(zorvex::THeader*)) /
        headers;
    const double textBytesPerHeader =
        static_cast<double>(st.SubjectBytes + st.PosterBytes + st.XrefBytes + st.HostBytes) /
        headers;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLines);
    state.counters["headers"] = headers;
    state.counters["bytes_per_header"] = bytesPerHeader;
    state.counters["text_bytes_per_header"] = textBytesPerHeader;
    // The sort's scratch, held only while it runs.
    state.counters["sort_scratch_bytes_per_header"] =
        static_cast<double>(store->SortScratchBytes()) / headers;
}
BENCHMARK(BM_HeaderLoading)->Unit(benchmark::kMillisecond);

}  // namespace
