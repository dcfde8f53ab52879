// Any bytes as XOVER and XHDR lines into one group of a fresh store, then a
// sort: no crash, and both orders must hold together.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "nntp/newsstore.h"

namespace {

using zorvex::THeader;

// Index = selector byte % 8; 7 is the overview parser, 0 an unknown kind.
const int kKinds[] = {5,
                      zorvex::FIELD_SUBJECT,
                      zorvex::FIELD_POSTER,
                      zorvex::FIELD_DATE,
                      zorvex::FIELD_LINES,
                      zorvex::FIELD_XREF,
                      zorvex::FIELD_POSTING_HOST};

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zorvex::TNewsStore store;
    zorvex::TNewsGroup* group = store.AddGroup("alt.binaries.fuzz");
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    std::string line;
    while (start < size) {
        const void* nl = std::memchr(text + start, '\n', size - start);
        size_t end = nl ? static_cast<size_t>(static_cast<const char*>(nl) - text) : size;
        line.assign(text + start, end - start);
        start = end + 1;
        // The first byte picks the parser; the rest is the line (up to a NUL).
        if (line.empty()) continue;
        unsigned char sel = static_cast<unsigned char>(line[0]);
        const char* body = line.c_str() + 1;
        if (sel % 8 == 7)
            store.AddOverviewLine(group, body);
        else
            store.AddFieldLine(group, kKinds[sel % 8], body);
    }

    store.SortHeaders(group);
    const char* null = store.Null();
    int count = 0;
    for (THeader* h = group->SortedHead; h; h = h->NumberNext) {
        ++count;
        Check(h->Number > 0);
        Check(!h->NumberNext || h->Number < h->NumberNext->Number);
        Check(h->Subject && h->Poster && h->CrossPosts && h->PostingHost);
        Check(h->Subject == null || std::strlen(h->Subject) <= zorvex::HEADER_FIELD_CUT);
        Check(h->Poster == null || std::strlen(h->Poster) <= zorvex::HEADER_FIELD_CUT);
        if (THeader* n = h->PosterNext) {
            Check(n->PosterPrev == h);
            Check(n->Poster == h->Poster);
            Check(h->Date < n->Date ||
                  (h->Date == n->Date && std::strcmp(h->Subject, n->Subject) <= 0));
        }
        if (THeader* p = h->PosterPrev) Check(p->PosterNext == h && p->Poster == h->Poster);
        Check(h->Number >= group->LowestLoaded && h->Number <= group->HighestLoaded);
    }
    Check(count == group->NumHeaders);
    Check(group->NumHeaders <= zorvex::HEADER_CAP + 1);

    // Each poster's posts form exactly one chain: count chain heads per poster.
    for (THeader* h = group->SortedHead; h; h = h->NumberNext) {
        if (h->PosterPrev) continue;
        for (THeader* o = h->NumberNext; o; o = o->NumberNext)
            Check(o->Poster != h->Poster || o->PosterPrev != nullptr);
    }
    return 0;
}
