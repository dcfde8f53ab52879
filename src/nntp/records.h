// The records the rest of the program shares: TNewsGroup (one subscribed
// group) and THeader (one article's header summary), with the article
// number type. The store in newsstore owns them; every other unit only
// reads them or sets their flags.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/ascii.h"

namespace zorvex {

class TStringManager;

// Article numbers are 64-bit: large servers are far beyond 2^31.
using TArticleNo = int64_t;
// Numbers from the server are clamped (ReadClampedDecimal), so that
// pointer + 1 and range arithmetic can never overflow.
constexpr TArticleNo ARTICLE_NO_MAX = DECIMAL_CLAMP;

enum : uint32_t {
    HEADER_HANDLED = 0x1,
    HEADER_MARKED_REJECT = 0x2,
    HEADER_REQUESTED = 0x8,
};

struct THeader {
    const char* Subject;  // interned; the store's Null() when not loaded
    const char* Poster;
    const char* CrossPosts;  // "a.b: c.d: " from the Xref value
    const char* PostingHost;
    THeader* HashNext;
    THeader* NumberNext;
    THeader* PosterNext;
    THeader* PosterPrev;
    TArticleNo Number;
    uint32_t Date;  // seconds since 1970, UTC
    int32_t Lines;
    uint32_t Flags;
};

struct TNewsGroup {
    const char* Name;
    TArticleNo First;
    TArticleNo Last;
    TArticleNo Pointer;  // highest article dealt with
    TArticleNo SavedPointer;
    int32_t Enabled;
    int32_t Done;  // done in the current pass
    int32_t Ordinal;
    THeader** HeaderHash;
    THeader* SortedHead;
    int32_t NumHeaders;
    TArticleNo HighestLoaded;
    TArticleNo LowestLoaded;
    // Lockout and keyword lists, null until needed. The selection unit owns
    // them (the records move, so they only point); the header steps read
    // XrefList and HostList.
    TStringManager* PosterList;
    TStringManager* FileList;
    TStringManager* SubjectList;
    TStringManager* XrefList;
    TStringManager* HostList;
    TStringManager* OrganizationList;
    TStringManager* AnyList;
    TStringManager* KeywordList;
    // The first article that the per-group cap kept out (0 = none), so the
    // walk can tell the user once.
    TArticleNo FirstUnstored;
    int32_t CapReported;
    // Highest number of any record in the hash: a higher one cannot be there
    // yet, so loading in number order never walks a bucket.
    TArticleNo HighestStored;
};

}  // namespace zorvex
