// Any bytes as dupesubj.lst or dupefile.lst. Loading never crashes; what
// was loaded saves to a file that reads back without a malformed line, and
// every entry read back is found by a lookup.
// The poster and line rules are not symmetric (an entry of 1000 lines takes
// a query of 905, not the other way round), and a load adds in the reverse
// of the saved order, so a save can read back with entries merged; without
// those rules every key is one entry and the saved lines come back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dupe/dupetable.h"

namespace {

using zorvex::TDupeEntry;
using zorvex::TDupePool;
using zorvex::TDupeStringManager;

// A stamp read may be far above the table's size: the first lookup would
// then purge, which is not what is looked at here.
constexpr int32_t NO_PURGE = 0;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first byte picks the match flags, as the two tables differ in them.
    const uint32_t flags = size > 0 ? data[0] & 3u : 0u;
    TDupePool pool;
    {
        TDupeStringManager first(pool, NO_PURGE, flags);
        first.LoadFromText(text);
        const std::string saved = first.SaveToText();

        TDupeStringManager second(pool, NO_PURGE, flags);
        const zorvex::TDupeLoadReport report = second.LoadFromText(saved);
        Check(report.Skipped == 0);
        Check(second.Count() <= first.Count());
        // The counter is the largest stamp read; a line of a key read again
        // gives its entry that line's stamp, which may be lower.
        Check(second.AgeCounter() <= first.AgeCounter());
        if (flags == 0) {
            Check(second.Count() == first.Count());
            // The same lines; keys that share a bucket come back in reverse.
            Check(SortedLines(second.SaveToText()) == SortedLines(saved));
        }
        for (zorvex::TStringEntry* e = second.First(); e; e = e->IterNext) {
            const TDupeEntry* d = static_cast<const TDupeEntry*>(e);
            Check(second.Lookup(d->Text, d->From, d->Lines, false));
        }
    }
    // Every text went back with the tables that held it.
    Check(pool.Count() == 0);
    return 0;
}
