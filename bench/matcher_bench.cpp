// Subjects per second through a lockout list of 10 to 10,000 wildcard
// patterns: the pattern list warm (cache built over the subjects first) and
// cold (every pass from a changed list), against RE2::Set with the same
// patterns translated, when RE2 is there. RE2 gets a budget that holds its
// whole cache; BM_Matcher likewise gets a state threshold that holds ours,
// and BM_MatcherShipped keeps the lockout lists' default threshold, where a
// list that needs more states drops its cache and builds it again. Patterns and subjects come from
// a fixed seed, so every run sees the same ones; most subjects pass, as they do in use.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "select/strfsm.h"

#ifdef ZORVEX_HAVE_RE2
#include <re2/re2.h>
#include <re2/set.h>
#endif

namespace {

using zorvex::TReStringManager;

constexpr size_t kPatternsMax = 10000;
constexpr size_t kSubjects = 4000;
constexpr size_t kLockoutThreshold = 3072;  // [misc] statesetinusethresh as shipped
constexpr size_t kRoomyThreshold = size_t{1} << 20;

// splitmix64: the same sequence on every library, unlike the std distributions.
struct TRandom {
    uint64_t State;
    uint64_t Next() {
        uint64_t z = (State += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
    bool Percent(size_t p) { return Below(100) < p; }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }
};

const char* const kSyllables[] = {"ba",  "ko", "ri",  "sen", "dal", "mor", "ve",  "ta",
                                  "lin", "gr", "pa",  "shi", "nu",  "fel", "tor", "an",
                                  "es",  "qu", "zo",  "har", "mi",  "ble", "sto", "wen",
                                  "cra", "dy", "pol", "ur",  "ex",  "jo",  "vik", "lum"};
const char* const kExtensions[] = {"jpg", "rar", "par2", "nfo", "sfv", "mkv",
                                   "avi", "zip", "r01",  "7z",  "mp3", "flac"};
const char* const kResolutions[] = {"720p", "1080p", "2160p", "480p"};
const char* const kGroups[] = {"teevee", "multimedia", "pictures", "sounds.flac", "movies",
                               "e-book", "hdtv",       "boneless", "misc"};
const char* const kSpamWords[] = {"viagra",  "casino", "keygen", "crack",  "password",
                                  "bitcoin", "warez",  "serial", "payday", "lottery"};

std::string Word(TRandom& r, size_t minSyl, size_t maxSyl) {
    std::string w;
    const size_t n = minSyl + r.Below(maxSyl - minSyl + 1);
    for (size_t i = 0; i < n; ++i) w += r.Pick(kSyllables);
    return w;
}

std::string Capital(std::string w) {
    if (!w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
}

std::string Upper(std::string w) {
    for (char& c : w)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return w;
}

std::string Title(TRandom& r) {
    std::string t = Capital(Word(r, 1, 3));
    for (size_t n = r.Below(3); n > 0; --n) t += " " + Capital(Word(r, 1, 3));
    return t;
}

std::string Num(size_t n, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*zu", width, n);
    return buf;
}

// Segments of a post: mostly a few, some a hundred and more.
std::string Segments(TRandom& r) {
    const size_t total = r.Percent(75) ? 1 + r.Below(9) : 100 + r.Below(300);
    return "(" + std::to_string(1 + r.Below(total)) + "/" + std::to_string(total) + ")";
}

std::string Subject(TRandom& r) {
    const size_t kind = r.Below(100);
    const size_t n = 2 + r.Below(60);
    const std::string parts = "[" + Num(1 + r.Below(n), 2) + "/" + Num(n, 2) + "]";
    if (kind < 30) {
        const std::string name = r.Percent(2) ? "sample" : Word(r, 1, 2);
        return Title(r) + " " + std::to_string(1990 + r.Below(37)) + " - " + parts + " - \"" +
               name + "_" + Num(r.Below(10000), 4) + "." + r.Pick(kExtensions) + "\" yEnc " +
               Segments(r);
    }
    if (kind < 55) {
        const std::string show = Capital(Word(r, 1, 2)) + "." + Capital(Word(r, 1, 2));
        return "[" + std::to_string(r.Below(100000)) + "]-[FULL]-[#a.b." + r.Pick(kGroups) +
               "]-[ " + show + ".S" + Num(1 + r.Below(12), 2) + "E" + Num(1 + r.Below(24), 2) +
               "." + r.Pick(kResolutions) + " ]-" + parts + " - \"" + Word(r, 1, 2) + ".part" +
               Num(1 + r.Below(n), 2) + ".rar\" yEnc " + Segments(r);
    }
    if (kind < 75) {
        return Title(r) + " - \"" + Word(r, 1, 3) + "." + r.Pick(kExtensions) + "\" yEnc " +
               Segments(r) + " " + std::to_string(10000 + r.Below(90000000)) + " bytes";
    }
    if (kind < 85) {
        return "[" + std::to_string(1 + r.Below(n)) + "/" + std::to_string(n) + "] \"" +
               Capital(Word(r, 1, 3)) + "." + r.Pick(kExtensions) + "\" - " + Title(r) + " - " +
               std::to_string(10000 + r.Below(90000000)) + " bytes";
    }
    if (kind < 95) {
        return Capital(Word(r, 2, 3)) + " presents " + Title(r) + " " + parts + " \"" +
               Word(r, 1, 2) + ".vol" + Num(r.Below(64), 2) + "+" + Num(1 + r.Below(32), 2) +
               ".par2\" yEnc " + Segments(r);
    }
    if (kind < 96) {
        std::string s = "Re: " + Word(r, 1, 3);
        while (s.size() < 40) s += " " + Word(r, 1, 3);
        return s;
    }
    if (kind < 98) {
        return Capital(r.Pick(kSpamWords)) + " " + Title(r) + " \"" + Word(r, 1, 2) +
               ".exe\" yEnc (1/1)";
    }
    return Title(r) + " [" + std::to_string(1 + r.Below(n)) + " of " + std::to_string(n) +
           "] - \"" + Word(r, 1, 3) + "." + r.Pick(kExtensions) + "\" yEnc " + Segments(r);
}

struct TPattern {
    std::string Text;
    uint32_t Flags;
};

const char* const kFixedSubstring[] = {"*xxx*",  "viagra",     "casino",   "keygen",
                                       "[SPAM]", "HDCAM",      "DVDSCR",   "crack",
                                       "warez",  "free money", "TELESYNC", "bitcoin"};
const char* const kFixedWord[] = {"*.exe", "sample", "*.0??", "*.scr", "*.vbs",
                                  "*.pif", "*.bat",  "*.lnk", "proof", "*.wmv"};
// '?' pairs escaped: gcc still warns about "??/" and "??)" as trigraphs.
const char* const kFixedExact[] = {"Re:*", "*(?\?/?\?)*", "FWD:*", "*password*", "AUTO*"};

std::string GeneratedSubstring(TRandom& r) {
    const size_t kind = r.Below(100);
    if (kind < 40) return Word(r, 3, 4) + (r.Percent(30) ? std::to_string(r.Below(100)) : "");
    if (kind < 60) return std::string(r.Pick(kSpamWords)) + " " + Word(r, 2, 3);
    if (kind < 80)
        return r.Percent(50) ? "[" + Upper(Word(r, 2, 3)) + "]" : "-" + Upper(Word(r, 2, 3));
    if (kind < 90) return "*" + Word(r, 2, 3) + "*" + Word(r, 2, 3) + "*";
    std::string w = Word(r, 3, 4);
    w[r.Below(w.size())] = '?';
    return w;
}

std::string GeneratedWord(TRandom& r) {
    const size_t kind = r.Below(100);
    if (kind < 40) {
        std::string ext = "*.";
        for (int i = 0; i < 3; ++i) ext += static_cast<char>('a' + r.Below(26));
        return ext;
    }
    if (kind < 70) return Word(r, 3, 4);
    return Word(r, 3, 4) + "?";
}

std::string GeneratedExact(TRandom& r) {
    const size_t kind = r.Below(100);
    if (kind < 40) return Capital(Word(r, 3, 4)) + "*";
    if (kind < 70) return "*" + Word(r, 2, 3);
    return Word(r, 2, 3) + "*" + Word(r, 2, 3) + "*";
}

std::vector<TPattern> MakePatterns() {
    TRandom r{20261211};
    std::vector<TPattern> out;
    std::set<std::string> seen;
    size_t fixedSub = 0, fixedWord = 0, fixedExact = 0;
    while (out.size() < kPatternsMax) {
        const size_t kind = r.Below(100);
        TPattern p;
        if (kind < 60) {
            p.Flags = 0;
            p.Text = fixedSub < std::size(kFixedSubstring) ? kFixedSubstring[fixedSub++]
                                                           : GeneratedSubstring(r);
        } else if (kind < 85) {
            p.Flags = zorvex::RE_WORD;
            p.Text = fixedWord < std::size(kFixedWord) ? kFixedWord[fixedWord++] : GeneratedWord(r);
        } else {
            p.Flags = zorvex::RE_EXACT;
            p.Text =
                fixedExact < std::size(kFixedExact) ? kFixedExact[fixedExact++] : GeneratedExact(r);
        }
        if (out.size() >= 40 && r.Percent(10)) p.Flags |= zorvex::RE_CASE_SENSITIVE;
        if (seen.insert(p.Text).second) out.push_back(p);
    }
    return out;
}

std::vector<std::string> MakeSubjects() {
    TRandom r{4242};
    std::vector<std::string> out;
    std::set<std::string> seen;
    while (out.size() < kSubjects) {
        std::string s = Subject(r);
        if (s.size() < 40 || s.size() > 100) continue;
        if (seen.insert(s).second) out.push_back(std::move(s));
    }
    return out;
}

const std::vector<TPattern>& Patterns() {
    static const std::vector<TPattern> patterns = MakePatterns();
    return patterns;
}

const std::vector<std::string>& Subjects() {
    static const std::vector<std::string> subjects = MakeSubjects();
    return subjects;
}

// Resident set in kilobytes, after handing free heap back to the system so
// the difference around a build is the build's.
int64_t ResidentKb() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
    return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE) / 1024;
}

void Fill(TReStringManager& list, size_t n, size_t threshold) {
    const std::vector<TPattern>& patterns = Patterns();
    for (size_t i = 0; i < n; ++i) list.AddPattern(patterns[i].Text, patterns[i].Flags);
    list.SetStateThreshold(threshold);
}

size_t MatchAll(TReStringManager& list, const std::vector<std::string>& subjects) {
    size_t hits = 0;
    for (const std::string& s : subjects) hits += list.Match(s.c_str());
    return hits;
}

void MatchWarm(benchmark::State& state, size_t threshold) {
    const std::vector<std::string>& subjects = Subjects();
    const size_t n = static_cast<size_t>(state.range(0));
    Patterns();  // made before the measure, not counted in it
    zorvex::TReSystem pool;
    const int64_t before = ResidentKb();
    TReStringManager list(10, 0, pool);
    Fill(list, n, threshold);
    const size_t hits = MatchAll(list, subjects);
    const int64_t after = ResidentKb();
    const uint32_t builds = list.BuildCount();
    for (auto _ : state) benchmark::DoNotOptimize(MatchAll(list, subjects));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(subjects.size()));
    state.counters["states"] = static_cast<double>(list.StatesInUse());
    state.counters["nodes"] = static_cast<double>(list.NodesInUse());
    state.counters["rss_kb"] = static_cast<double>(after - before);
    state.counters["hit_rate"] = static_cast<double>(hits) / static_cast<double>(subjects.size());
    // Cache drops while timed: the states did not fit under the threshold.
    state.counters["rebuilds"] = benchmark::Counter(static_cast<double>(list.BuildCount() - builds),
                                                    benchmark::Counter::kAvgIterations);
}
void BM_Matcher(benchmark::State& state) {
    MatchWarm(state, kRoomyThreshold);
}
BENCHMARK(BM_Matcher)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_MatcherShipped(benchmark::State& state) {
    MatchWarm(state, kLockoutThreshold);
}
BENCHMARK(BM_MatcherShipped)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_MatcherCold(benchmark::State& state) {
    const std::vector<std::string>& subjects = Subjects();
    const size_t n = static_cast<size_t>(state.range(0));
    zorvex::TReSystem pool;
    TReStringManager list(10, 0, pool);
    Fill(list, n, kLockoutThreshold);
    const uint32_t builds = list.BuildCount();
    size_t states = 0;
    for (auto _ : state) {
        list.Changed();
        benchmark::DoNotOptimize(MatchAll(list, subjects));
        if (list.StatesInUse() > states) states = list.StatesInUse();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(subjects.size()));
    // States left at the end of the fullest pass.
    state.counters["states"] = static_cast<double>(states);
    state.counters["nodes"] = static_cast<double>(list.NodesInUse());
    // 1 per pass when the states fit under the threshold.
    state.counters["builds"] = benchmark::Counter(static_cast<double>(list.BuildCount() - builds),
                                                  benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MatcherCold)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

#ifdef ZORVEX_HAVE_RE2

// Bytes that bound a word: ASCII white space and punctuation but '_'.
constexpr const char* kRe2Delims = R"([\x09-\x0d\x20-\x2f\x3a-\x40\x5b-\x5e\x60\x7b-\x7e])";

std::string Re2Glob(const std::string& pattern) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '*') {
            out += ".*";
        } else if (c == '?') {
            out += ".";
        } else {
            const char lit = (c == '\\' && i + 1 < pattern.size()) ? pattern[++i] : c;
            out += RE2::QuoteMeta(re2::StringPiece(&lit, 1));
        }
    }
    return out;
}

std::string Re2Pattern(const TPattern& p) {
    std::string re = (p.Flags & zorvex::RE_CASE_SENSITIVE) ? "(?s)" : "(?is)";
    if (p.Flags & (zorvex::RE_EXACT | zorvex::RE_EXACT_TOO)) {
        re += "^(?:" + Re2Glob(p.Text) + ")$";
    } else if (p.Flags & zorvex::RE_WORD) {
        re += std::string("(?:^|") + kRe2Delims + ")(?:" + Re2Glob(p.Text) + ")(?:" + kRe2Delims +
              "|$)";
    } else {
        re += Re2Glob(p.Text);
    }
    return re;
}

RE2::Options Re2Options() {
    RE2::Options opt;
    opt.set_encoding(RE2::Options::EncodingLatin1);
    opt.set_max_mem(int64_t{1} << 30);
    opt.set_log_errors(false);
    return opt;
}

// A compiled set of the first n patterns, or null with the reason in error.
std::unique_ptr<RE2::Set> Re2Compile(size_t n, std::string& error) {
    auto set = std::make_unique<RE2::Set>(Re2Options(), RE2::UNANCHORED);
    const std::vector<TPattern>& patterns = Patterns();
    for (size_t i = 0; i < n; ++i) {
        const std::string re = Re2Pattern(patterns[i]);
        if (set->Add(re, &error) < 0) {
            error = "RE2 refused " + re + ": " + error;
            return nullptr;
        }
    }
    if (!set->Compile()) {
        error = "RE2::Set::Compile failed (out of memory)";
        return nullptr;
    }
    return set;
}

size_t Re2MatchAll(const RE2::Set& set, const std::vector<std::string>& subjects) {
    size_t hits = 0;
    for (const std::string& s : subjects) hits += set.Match(s, nullptr);
    return hits;
}

void BM_Re2Set(benchmark::State& state) {
    const std::vector<std::string>& subjects = Subjects();
    const size_t n = static_cast<size_t>(state.range(0));
    std::string error;
    Patterns();
    const int64_t before = ResidentKb();
    std::unique_ptr<RE2::Set> set = Re2Compile(n, error);
    if (!set) {
        state.SkipWithError(error.c_str());
        return;
    }
    // The warming pass; its answers are checked against the pattern list's
    // below, so both must agree on every subject before either is timed.
    std::vector<char> answers;
    answers.reserve(subjects.size());
    for (const std::string& s : subjects) {
        RE2::Set::ErrorInfo info{RE2::Set::kNoError};
        answers.push_back(set->Match(s, nullptr, &info));
        if (info.kind != RE2::Set::kNoError) {
            state.SkipWithError(("RE2::Set::Match failed on " + s).c_str());
            return;
        }
    }
    const int64_t after = ResidentKb();
    zorvex::TReSystem pool;
    TReStringManager list(10, 0, pool);
    Fill(list, n, kLockoutThreshold);
    size_t hits = 0;
    for (size_t i = 0; i < subjects.size(); ++i) {
        if ((answers[i] != 0) != list.Match(subjects[i].c_str())) {
            const std::string why = "RE2 says " + std::to_string(answers[i]) +
                                    ", the pattern list the other, on " + subjects[i];
            state.SkipWithError(why.c_str());
            return;
        }
        hits += answers[i] != 0;
    }
    for (auto _ : state) benchmark::DoNotOptimize(Re2MatchAll(*set, subjects));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(subjects.size()));
    state.counters["rss_kb"] = static_cast<double>(after - before);
    state.counters["hit_rate"] = static_cast<double>(hits) / static_cast<double>(subjects.size());
}
BENCHMARK(BM_Re2Set)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_Re2SetCold(benchmark::State& state) {
    const std::vector<std::string>& subjects = Subjects();
    const size_t n = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        std::string error;
        std::unique_ptr<RE2::Set> set = Re2Compile(n, error);
        if (!set) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(Re2MatchAll(*set, subjects));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(subjects.size()));
}
BENCHMARK(BM_Re2SetCold)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

#endif  // ZORVEX_HAVE_RE2

}  // namespace
