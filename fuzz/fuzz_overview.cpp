// Any bytes as XOVER and XHDR lines into one group of a fresh store, then a
// sort: no crash, and both orders must hold together: number order complete
// and rising, every poster's chain a permutation of that poster's headers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

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
            store.AddFieldLine(group, static_cast<zorvex::THeaderField>(kKinds[sel % 8]), body);
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
        }
        if (THeader* p = h->PosterPrev) Check(p->PosterNext == h && p->Poster == h->Poster);
        Check(h->Number >= group->LowestLoaded && h->Number <= group->HighestLoaded);
    }
    Check(count == group->NumHeaders);
    Check(group->NumHeaders <= zorvex::HEADER_CAP + 1);

    // Each poster's chain is a permutation of that poster's headers: one
    // head per poster, and the chain from it, without a loop, reaches as many
    // headers as the poster has.
    std::unordered_map<const char*, int> perPoster;
    for (THeader* h = group->SortedHead; h; h = h->NumberNext) ++perPoster[h->Poster];
    int heads = 0;
    for (THeader* h = group->SortedHead; h; h = h->NumberNext) {
        if (h->PosterPrev) continue;
        ++heads;
        int length = 0;
        for (THeader* p = h; p && length <= count; p = p->PosterNext) ++length;
        Check(length == perPoster[h->Poster]);
    }
    Check(heads == static_cast<int>(perPoster.size()));
    return 0;
}
