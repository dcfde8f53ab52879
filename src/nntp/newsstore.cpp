#include "nntp/newsstore.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "library/ascii.h"
#include "library/check.h"
#include "library/parsedate.h"
#include "library/quicksort.h"
#include "library/strman.h"

namespace zorvex {

namespace {

// Leading decimal value after optional white space and sign; 0 when none.
TArticleNo LeadingNumber(const char* p, const char** end) {
    std::string_view text(p);
    TArticleNo value = 0;
    if (!ReadClampedDecimal(&text, &value)) value = 0;
    if (end) *end = text.data();
    return value;
}

int32_t LineCount(const char* p, size_t len) {
    char buf[32];
    len = len < sizeof buf - 1 ? len : sizeof buf - 1;
    std::memcpy(buf, p, len);
    buf[len] = '\0';
    TArticleNo v = LeadingNumber(buf, nullptr);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// ---- dates ----

int TwoDigits(const char* p) {
    return IsDigitAscii(p[0]) && IsDigitAscii(p[1]) ? (p[0] - '0') * 10 + (p[1] - '0') : -1;
}

// Index of the three letters at p in a table of lower-case names, ignoring
// case; -1 when none.
int NameIndex(const char* p, const char* const* names, int count) {
    char w[3] = {ToLowerAscii(p[0]), ToLowerAscii(p[1]), ToLowerAscii(p[2])};
    for (int i = 0; i < count; ++i)
        if (names[i][0] == w[0] && names[i][1] == w[1] && names[i][2] == w[2]) return i;
    return -1;
}

// Nearly every Date header is "Mon, 07 May 2007 10:11:12 +0000" or ends in
// GMT. That form is read here in a few steps; anything else, and any value
// the full parser would refuse or read differently, is left to the full
// parser, so the result is always the one ParseDate gives. The text must be
// followed by at least kDatePad NUL bytes: no step looks further ahead.
constexpr size_t kDatePad = 8;

bool CommonDate(const char* p, const char* end, int64_t* result) {
    static const char* const kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    static const int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (p[3] == ',') {
        if (p[4] != ' ' || NameIndex(p, kDays, 7) < 0) return false;
        p += 5;
    }
    int day;
    if (IsDigitAscii(p[0]) && p[1] == ' ') {
        day = p[0] - '0';
        p += 2;
    } else {
        day = TwoDigits(p);
        if (day < 0 || p[2] != ' ') return false;
        p += 3;
    }
    const int month = NameIndex(p, kMonths, 12);
    if (month < 0 || p[3] != ' ') return false;
    p += 4;
    const int century = TwoDigits(p), decade = TwoDigits(p + 2);
    if (century < 0 || decade < 0 || p[4] != ' ') return false;
    const int year = century * 100 + decade;
    p += 5;
    const int hour = TwoDigits(p), minute = TwoDigits(p + 3);
    if (hour < 0 || p[2] != ':' || minute < 0) return false;
    p += 5;
    int second = 0;
    if (*p == ':') {
        second = TwoDigits(p + 1);
        if (second < 0) return false;
        p += 3;
    }
    if (*p++ != ' ') return false;
    int zoneWest = 0;  // minutes
    if (p[0] == '+' || p[0] == '-') {
        const int zh = TwoDigits(p + 1), zm = TwoDigits(p + 3);
        if (zh < 0 || zm < 0 || zh > 24 || zm >= 60) return false;
        zoneWest = (zh * 60 + zm) * (p[0] == '+' ? -1 : 1);
        p += 5;
    } else {
        const char z0 = ToLowerAscii(p[0]), z1 = ToLowerAscii(p[1]), z2 = ToLowerAscii(p[2]);
        if (z0 == 'g' && z1 == 'm' && z2 == 't')
            p += 3;
        else if (z0 == 'u' && z1 == 't')
            p += z2 == 'c' ? 3 : 2;
        else
            return false;
    }
    // Only blanks and one plain comment may follow.
    while (*p == ' ') ++p;
    if (*p == '(') {
        for (++p; *p != ')'; ++p)
            if (*p < ' ' || *p > '~' || *p == '(' || *p == '\\') return false;
        ++p;
        while (*p == ' ') ++p;
    }
    if (p != end) return false;

    // The full parser's calendar: 1970 to 2038, where every fourth year is
    // a leap year.
    if (year < 1970 || year > 2038 || hour > 23 || minute > 59 || second > 61) return false;
    const bool leap = year % 4 == 0;
    if (day < 1 || day > kMonthDays[month] + (month == 1 && leap)) return false;
    const int64_t days = int64_t{365} * (year - 1970) + (year - 1969) / 4 + kDaysBefore[month] +
                         (month > 1 && leap) + day - 1;
    *result = days * 86400 + (hour * 60 + minute) * 60 + second + zoneWest * 60;
    return true;
}

uint32_t DateValue(const char* p, size_t len) {
    char buf[HEADER_FIELD_CUT * 4 + kDatePad];
    len = len < sizeof buf - kDatePad ? len : sizeof buf - kDatePad;
    std::memcpy(buf, p, len);
    std::memset(buf + len, 0, kDatePad);
    int64_t t;
    if (!CommonDate(buf, buf + len, &t)) t = ParseDate(buf);
    return t < 0 || t > UINT32_MAX ? 0 : static_cast<uint32_t>(t);
}

int CompareBytes(const char* a, const char* b) {
    if (a == b) return 0;
    return std::strcmp(a, b);  // strcmp compares as unsigned char
}

// ---- part counters ----

// Part numbers are clamped here; no counter is that long.
constexpr uint32_t PART_NUMBER_MAX = 999999999;

// Where a subject's part counter sits: the last "(n/m)" or "[n/m]" in it.
// The digits of n are [Cut, CutEnd); the rest of the subject, total
// included, names the post.
struct TCounter {
    size_t Cut = 0, CutEnd = 0;
    uint32_t Part = 0;
    uint32_t Total = 0;
    bool Found = false;
};

uint32_t ClampedDigits(const char* s, size_t from, size_t to) {
    uint32_t n = 0;
    for (size_t d = from; d < to; ++d)
        n = n >= PART_NUMBER_MAX / 10 ? PART_NUMBER_MAX : n * 10 + static_cast<uint32_t>(s[d] - '0');
    return n;
}

TCounter LastCounter(const char* s, size_t len) {
    TCounter c;
    for (size_t i = len; i-- > 0;) {
        const char close = s[i];
        if (close != ')' && close != ']') continue;
        size_t k = i;
        while (k > 0 && IsDigitAscii(s[k - 1])) --k;
        if (k == i || k == 0 || s[k - 1] != '/') continue;
        const size_t slash = k - 1;
        k = slash;
        while (k > 0 && IsDigitAscii(s[k - 1])) --k;
        if (k == slash || k == 0 || s[k - 1] != (close == ')' ? '(' : '[')) continue;
        c.Cut = k;
        c.CutEnd = slash;
        c.Found = true;
        c.Part = ClampedDigits(s, k, slash);
        c.Total = ClampedDigits(s, slash + 1, i);
        return c;
    }
    return c;
}

// A hash of len bytes, eight at a time, mixed into h.
uint64_t MixBytes(uint64_t h, const char* p, size_t len) {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
    for (; len >= 8; p += 8, len -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * kMul;
        h ^= h >> 32;
    }
    uint64_t w = 0;
    std::memcpy(&w, p, len);
    h = (h ^ w ^ (uint64_t{len} << 56)) * kMul;
    return h ^ (h >> 29);
}

// The parts of one post come nearly in order (the server's order is the
// upload order, give or take a few connections): insertion sort is quickest
// for such short runs.
template <typename T, typename Less>
void SortRun(T* first, T* last, Less less) {
    if (last - first > 64) {
        std::sort(first, last, less);
        return;
    }
    for (T* i = first + 1; i < last; ++i) {
        T v = *i;
        T* j = i;
        for (; j > first && less(v, j[-1]); --j) *j = j[-1];
        *j = v;
    }
}

}  // namespace

TNewsStore& TNewsStore::Global() {
    static TNewsStore store;
    return store;
}

// One entry of the sort: a header and the keys it is ordered by.
struct TNewsStore::TSortItem {
    THeader* Header;
    TArticleNo Number;
    uint32_t Date;
    uint32_t Part;      // from the part counter; 0 without one
    uint32_t Key;       // index into PostKeys
    uint32_t Instance;  // which repost of the post this part belongs to
};

// The headers of one poster whose subjects are equal outside the digits of
// the part number.
struct TNewsStore::TPostKey {
    uint64_t Hash;
    const char* Poster;
    const char* Subject;  // of the first header seen, for comparing bytes
    size_t Cut, CutEnd;
    uint32_t Count;  // headers, then the next free place while placing them
    uint32_t Begin;  // first place in PostOrder
};

// One post: a run of PostOrder in part order.
struct TNewsStore::TPostRun {
    const char* Poster;
    const char* Subject;  // of the first part
    uint32_t Date;        // earliest
    TArticleNo Number;    // lowest
    uint32_t Begin, End;
};

char* TNewsStore::TTextArena::Copy(const char* text, size_t len) {
    constexpr size_t kChunk = 64 * 1024;
    if (Left < len + 1) {
        const size_t size = len + 1 > kChunk ? len + 1 : kChunk;
        Chunks.push_back(std::make_unique<char[]>(size));
        Next = Chunks.back().get();
        Left = size;
    }
    char* copy = Next;
    std::memcpy(copy, text, len);
    copy[len] = '\0';
    Next += len + 1;
    Left -= len + 1;
    return copy;
}

char* TNewsStore::ArenaCopy(const char* text, size_t len, void* arena) {
    return static_cast<TTextArena*>(arena)->Copy(text, len);
}

// Texts stay until the store goes; the table never removes one of its own.
void TNewsStore::ArenaRelease(char*, void*) {}

// The one table holds the texts of every group for the whole run: tens of
// thousands per group, so chains stay short only with this many buckets.
constexpr int STRING_TABLE_BITS = 16;

TNewsStore::TNewsStore()
    : StringTable(std::make_unique<TStringManager>(kBaseEntrySize, STRING_TABLE_BITS)),
      Groups(new TNewsGroup[MAXNEWSGROUPS]()) {
    StringTable->SetTextHooks(&TNewsStore::ArenaCopy, &TNewsStore::ArenaRelease, &Texts);
    NullText = Intern("null");
    AllGroups.Name = Intern("All-Groups");
}

TNewsStore::~TNewsStore() = default;

const char* TNewsStore::Intern(const char* text, size_t len) {
    TStringEntry* e = StringTable->Add(text, len);
    ZV_CHECK(e != nullptr);
    return e->Text;
}

const char* TNewsStore::Intern(const char* text) {
    return Intern(text, std::strlen(text));
}

const char* TNewsStore::InternCounted(const char* text, size_t len, uint64_t* counter,
                                      size_t counted) {
    size_t before = StringTable->Count();
    const char* stored = Intern(text, len);
    if (StringTable->Count() != before) *counter += counted ? counted : len;
    return stored;
}

// ---- group table ----

TNewsGroup* TNewsStore::AddGroup(const char* name) {
    if (NumGroups >= MAXNEWSGROUPS || !name) return nullptr;
    TNewsGroup* g = &Groups[NumGroups];
    *g = TNewsGroup{};
    g->Name = Intern(name);
    g->Enabled = 1;
    g->Ordinal = NumGroups + 1;
    ++NumGroups;
    return g;
}

TNewsGroup* TNewsStore::GetGroup(int index) {
    if (index < 0 || index >= NumGroups) return nullptr;
    return &Groups[index];
}

TNewsGroup* TNewsStore::FindGroup(const char* name) {
    if (!name) return nullptr;
    for (int i = 0; i < NumGroups; ++i)
        if (std::strcmp(Groups[i].Name, name) == 0) return &Groups[i];
    return nullptr;
}

int TNewsStore::IndexOfGroup(const char* name) const {
    if (!name) return -1;
    for (int i = 0; i < NumGroups; ++i)
        if (EqualsIgnoringCase(Groups[i].Name, name)) return i;
    return -1;
}

int TNewsStore::IndexOf(const TNewsGroup* group) const {
    if (!group || group < &Groups[0] || group >= &Groups[NumGroups]) return -1;
    return static_cast<int>(group - &Groups[0]);
}

void TNewsStore::DeleteGroup(int index) {
    if (index < 0 || index >= NumGroups) return;
    --NumGroups;
    for (int i = index; i < NumGroups; ++i) {
        Groups[i] = Groups[i + 1];
        Groups[i].Ordinal = i + 1;
    }
    Groups[NumGroups] = TNewsGroup{};
}

void TNewsStore::MoveGroupUp(int index) {
    if (index <= 0 || index >= NumGroups) return;
    std::swap(Groups[index], Groups[index - 1]);
    std::swap(Groups[index].Ordinal, Groups[index - 1].Ordinal);
}

void TNewsStore::MoveGroupDown(int index) {
    if (index < 0 || index >= NumGroups - 1) return;
    MoveGroupUp(index + 1);
}

void TNewsStore::SortGroups() {
    MiddlePivotSort(&Groups[0], 0, NumGroups - 1, [](const TNewsGroup& x, const TNewsGroup& y) {
        return std::strcmp(x.Name, y.Name) < 0;  // strcmp compares as unsigned char
    });
    for (int i = 0; i < NumGroups; ++i) Groups[i].Ordinal = i + 1;
}

void TNewsStore::SetEnabled(int index, bool enabled) {
    if (TNewsGroup* g = GetGroup(index)) g->Enabled = enabled ? 1 : 0;
}

bool TNewsStore::IsEnabled(int index) {
    TNewsGroup* g = GetGroup(index);
    return g && g->Enabled != 0;
}

// ---- header store ----

THeader* TNewsStore::NewHeader() {
    if (!HeaderFreeList) {
        auto block = std::make_unique<THeader[]>(HEADER_BLOCK_COUNT);
        for (int i = HEADER_BLOCK_COUNT - 1; i >= 0; --i) {
            block[i].HashNext = HeaderFreeList;
            HeaderFreeList = &block[i];
        }
        HeaderBlocks.push_back(std::move(block));
        ++Statistics.Blocks;
        Statistics.BlockBytes += sizeof(THeader) * HEADER_BLOCK_COUNT;
    }
    ZV_CHECK(HeaderFreeList != nullptr);
    THeader* h = HeaderFreeList;
    HeaderFreeList = h->HashNext;
    *h = THeader{};
    ++Statistics.RecordsHandedOut;
    return h;
}

void TNewsStore::CreateHash(TNewsGroup* group) {
    auto table = std::make_unique<THeader*[]>(HEADERHASH_COUNT);  // value-initialised: null
    group->HeaderHash = table.get();
    Hashes.push_back(std::move(table));
    group->SortedHead = nullptr;
    group->NumHeaders = 0;
    group->HighestLoaded = 0;
    group->LowestLoaded = INT64_MAX;
    group->HighestStored = 0;
}

THeader* TNewsStore::FindOrAddHeader(TNewsGroup* group, TArticleNo number) {
    if (!group->HeaderHash) CreateHash(group);
    THeader** bucket = &group->HeaderHash[number & (HEADERHASH_COUNT - 1)];
    if (number <= group->HighestStored) {
        for (THeader* h = *bucket; h; h = h->HashNext)
            if (h->Number == number) return h;
    }
    if (group->NumHeaders > HEADER_CAP) {
        if (group->FirstUnstored == 0 || number < group->FirstUnstored)
            group->FirstUnstored = number;
        return nullptr;
    }
    ++group->NumHeaders;
    if (number > group->HighestStored) group->HighestStored = number;
    THeader* h = NewHeader();
    h->Number = number;
    h->HashNext = *bucket;
    *bucket = h;
    return h;
}

TArticleNo TNewsStore::LineNumber(TNewsGroup* group, const char* line, const char** rest) {
    if (!line || !*line) return 0;
    TArticleNo number = LeadingNumber(line, rest);
    if (number <= 0) return 0;
    if (!group->HeaderHash) CreateHash(group);
    if (number > group->HighestLoaded) group->HighestLoaded = number;
    if (number < group->LowestLoaded) group->LowestLoaded = number;
    return number;
}

void TNewsStore::AddFieldLine(TNewsGroup* group, THeaderField kind, const char* line) {
    const char* p;
    TArticleNo number = LineNumber(group, line, &p);
    if (number <= 0) return;
    while (*p && !IsBlankAscii(*p)) ++p;
    while (IsBlankAscii(*p)) ++p;
    if (!*p) return;
    THeader* h = FindOrAddHeader(group, number);
    if (!h) return;
    size_t len = std::strlen(p);
    size_t cut = len < HEADER_FIELD_CUT ? len : HEADER_FIELD_CUT;
    switch (kind) {
        case FIELD_SUBJECT:
            h->Subject = InternCounted(p, cut, &Statistics.SubjectBytes);
            break;
        case FIELD_POSTER:
            h->Poster = InternCounted(p, cut, &Statistics.PosterBytes);
            break;
        case FIELD_DATE:
            h->Date = DateValue(p, len);
            break;
        case FIELD_LINES:
            h->Lines = LineCount(p, len);
            break;
        case FIELD_XREF:
            if (const char* x = CrossPostText(p, len)) h->CrossPosts = x;
            break;
        case FIELD_POSTING_HOST:
            h->PostingHost = InternCounted(p, len, &Statistics.HostBytes);
            break;
        default:
            break;
    }
}

const char* TNewsStore::CrossPostText(const char* value, size_t len) {
    std::string out;
    size_t i = 0;
    while (i < len) {
        while (i < len && IsSpaceAscii(value[i])) ++i;
        size_t start = i;
        while (i < len && !IsSpaceAscii(value[i])) ++i;
        const char* colon = static_cast<const char*>(std::memchr(value + start, ':', i - start));
        if (!colon) continue;  // the host name
        for (const char* c = value + start; c < colon; ++c) out += ToLowerAscii(*c);
        out += ": ";
    }
    if (out.empty()) return nullptr;
    // Counted as the raw value's length, as the statistics always were.
    return InternCounted(out.data(), out.size(), &Statistics.XrefBytes, len);
}

void TNewsStore::AddOverviewLine(TNewsGroup* group, const char* line) {
    const char* p;
    TArticleNo number = LineNumber(group, line, &p);
    if (number <= 0) return;
    // Only blanks and one tab: skipping every tab would shift the fields
    // after an empty subject.
    while (*p == ' ') ++p;
    if (*p == '\t') ++p;
    if (!*p) return;
    THeader* h = FindOrAddHeader(group, number);
    if (!h) return;
    // Fields after the number: subject, from, date, message-id, references,
    // bytes, lines. A field before a tab is present even when empty; one
    // missing at the end leaves the old value.
    for (int field = 0; field < 7; ++field) {
        const char* stop = strchrnul(p, '\t');
        const char* tab = *stop == '\t' ? stop : nullptr;
        size_t len = static_cast<size_t>(stop - p);
        bool present = tab != nullptr || len > 0;
        if (!present) break;
        size_t cut = len < HEADER_FIELD_CUT ? len : HEADER_FIELD_CUT;
        switch (field) {
            case 0:
                h->Subject = InternCounted(p, cut, &Statistics.SubjectBytes);
                break;
            case 1:
                h->Poster = InternCounted(p, cut, &Statistics.PosterBytes);
                break;
            case 2:
                h->Date = DateValue(p, cut);
                break;
            case 6:
                h->Lines = LineCount(p, cut);
                break;
            default:
                break;
        }
        if (!tab) break;
        p = tab + 1;
    }
}

// Poster chains. The walk follows a poster's chain after a part whose
// decode goes on, so the chain must give the decoder a post's parts in part
// order. Uploaders post many parts within one second, and over several
// connections the parts reach the server out of order: neither the date nor
// the article number nor the subject bytes ("(10/419)" before "(8/419)")
// give that order. So, per poster:
//  - A subject's last "(n/m)" or "[n/m]" is its part counter; the subject
//    with the digits of n taken out is the post's key. The total stays in
//    the key: a repost cut into another number of parts is another post.
//    Leading zeros are not part of the key: "(001/120)" and "(1/120)" are
//    both part 1 of one post, since a part number is a number however a
//    poster writes it.
//  - Parts of one key that share a part number are reposts or fills: the
//    k-th of them by date, then article number, goes to the k-th instance of
//    the post, so each instance is a clean chain in part order.
//  - A subject without a counter is a post of its own.
//  - Posts follow each other by earliest date, then the subject of their
//    first part, then their lowest article number; one header alone thus
//    keeps the date-then-subject order.
// Every key is total (article numbers differ), so any sort gives the same
// chains; which poster's chain comes first links nothing.
void TNewsStore::SortHeaders(TNewsGroup* group) {
    group->SortedHead = nullptr;
    if (!group->HeaderHash || group->NumHeaders == 0) return;
    SortItems.clear();
    SortItems.reserve(static_cast<size_t>(group->NumHeaders));
    for (int b = 0; b < HEADERHASH_COUNT; ++b) {
        for (THeader* h = group->HeaderHash[b]; h; h = h->HashNext) {
            h->NumberNext = h->PosterNext = h->PosterPrev = nullptr;
            if (!h->Subject) h->Subject = NullText;
            if (!h->Poster) h->Poster = NullText;
            if (!h->CrossPosts) h->CrossPosts = NullText;
            if (!h->PostingHost) h->PostingHost = NullText;
            SortItems.push_back({h, h->Number, h->Date, 0, 0, 0});
        }
    }
    const size_t n = SortItems.size();
    if (n == 0) return;
    std::sort(SortItems.begin(), SortItems.end(),
              [](const TSortItem& x, const TSortItem& y) { return x.Number < y.Number; });
    for (size_t i = 0; i + 1 < n; ++i) SortItems[i].Header->NumberNext = SortItems[i + 1].Header;
    group->SortedHead = SortItems[0].Header;
    LinkPosterChains(n);
    // The scratch goes with the sort: between walks the store keeps no more
    // than the headers themselves.
    LastScratchBytes =
        SortItems.capacity() * sizeof(TSortItem) + PostOrder.capacity() * sizeof(TSortItem) +
        KeySlots.capacity() * sizeof(uint32_t) + PostKeys.capacity() * sizeof(TPostKey) +
        PostRuns.capacity() * sizeof(TPostRun);
    std::vector<TSortItem>().swap(SortItems);
    std::vector<TSortItem>().swap(PostOrder);
    std::vector<uint32_t>().swap(KeySlots);
    std::vector<TPostKey>().swap(PostKeys);
    std::vector<TPostRun>().swap(PostRuns);
}

void TNewsStore::LinkPosterChains(size_t n) {
    // Keys, met in number order. Slots hold key index + 1; 0 is free.
    size_t slots = 16;
    while (slots < 2 * n) slots *= 2;
    KeySlots.assign(slots, 0);
    PostKeys.clear();
    for (TSortItem& item : SortItems) {
        const THeader* h = item.Header;
        const size_t len = std::strlen(h->Subject);
        const TCounter c = LastCounter(h->Subject, len);
        if (!c.Found) {
            item.Key = static_cast<uint32_t>(PostKeys.size());
            PostKeys.push_back({0, h->Poster, h->Subject, 0, 0, 1, 0});
            continue;
        }
        item.Part = c.Part;
        uint64_t hash = MixBytes(reinterpret_cast<uintptr_t>(h->Poster) + c.Cut, h->Subject, c.Cut);
        hash = MixBytes(hash, h->Subject + c.CutEnd, len - c.CutEnd);
        size_t slot = hash & (slots - 1);
        for (;; slot = (slot + 1) & (slots - 1)) {
            const uint32_t k = KeySlots[slot];
            if (k == 0) {
                KeySlots[slot] = static_cast<uint32_t>(PostKeys.size()) + 1;
                item.Key = static_cast<uint32_t>(PostKeys.size());
                PostKeys.push_back({hash, h->Poster, h->Subject, c.Cut, c.CutEnd, 1, 0});
                break;
            }
            TPostKey& key = PostKeys[k - 1];
            if (key.Hash == hash && key.Poster == h->Poster && key.Cut == c.Cut &&
                (key.Subject == h->Subject ||
                 (std::memcmp(key.Subject, h->Subject, c.Cut) == 0 &&
                  std::strcmp(key.Subject + key.CutEnd, h->Subject + c.CutEnd) == 0))) {
                item.Key = k - 1;
                ++key.Count;
                break;
            }
        }
    }

    // Each key's headers side by side, still in number order, then in part
    // order and split into instances.
    uint32_t next = 0;
    for (TPostKey& key : PostKeys) {
        key.Begin = next;
        next += key.Count;
        key.Count = key.Begin;
    }
    PostOrder.resize(n);
    for (const TSortItem& item : SortItems) PostOrder[PostKeys[item.Key].Count++] = item;
    PostRuns.clear();
    for (const TPostKey& key : PostKeys) {
        TSortItem* first = PostOrder.data() + key.Begin;
        TSortItem* last = PostOrder.data() + key.Count;
        if (last - first > 1) {
            SortRun(first, last, [](const TSortItem& x, const TSortItem& y) {
                if (x.Part != y.Part) return x.Part < y.Part;
                if (x.Date != y.Date) return x.Date < y.Date;
                return x.Number < y.Number;
            });
            bool reposted = false;
            for (TSortItem* i = first + 1; i < last; ++i) {
                if (i->Part == i[-1].Part) {
                    i->Instance = i[-1].Instance + 1;
                    reposted = true;
                }
            }
            if (reposted)
                SortRun(first, last, [](const TSortItem& x, const TSortItem& y) {
                    if (x.Instance != y.Instance) return x.Instance < y.Instance;
                    return x.Part < y.Part;
                });
        }
        for (TSortItem* run = first; run < last;) {
            TPostRun r{key.Poster,
                       run->Header->Subject,
                       run->Date,
                       run->Number,
                       static_cast<uint32_t>(run - PostOrder.data()),
                       0};
            TSortItem* i = run + 1;
            for (; i < last && i->Instance == run->Instance; ++i) {
                if (i->Date < r.Date) r.Date = i->Date;
                if (i->Number < r.Number) r.Number = i->Number;
            }
            r.End = static_cast<uint32_t>(i - PostOrder.data());
            PostRuns.push_back(r);
            run = i;
        }
    }

    std::sort(PostRuns.begin(), PostRuns.end(), [](const TPostRun& x, const TPostRun& y) {
        if (x.Poster != y.Poster) return std::less<const char*>()(x.Poster, y.Poster);
        if (x.Date != y.Date) return x.Date < y.Date;
        if (int c = CompareBytes(x.Subject, y.Subject)) return c < 0;
        return x.Number < y.Number;
    });
    THeader* prev = nullptr;
    for (const TPostRun& r : PostRuns) {
        for (uint32_t i = r.Begin; i < r.End; ++i) {
            THeader* h = PostOrder[i].Header;
            if (prev && prev->Poster == h->Poster) {
                prev->PosterNext = h;
                h->PosterPrev = prev;
            }
            prev = h;
        }
    }
}

namespace {

// Both counters when a and b are parts of one post (same poster, subjects
// equal but for the part number); Found is false in a when they are not.
std::pair<TCounter, TCounter> PostCounters(const THeader* a, const THeader* b) {
    if (!a || !b || a->Poster != b->Poster || !a->Subject || !b->Subject) return {};
    const TCounter ca = LastCounter(a->Subject, std::strlen(a->Subject));
    const TCounter cb = LastCounter(b->Subject, std::strlen(b->Subject));
    if (!ca.Found || !cb.Found || ca.Cut != cb.Cut ||
        std::memcmp(a->Subject, b->Subject, ca.Cut) != 0 ||
        std::strcmp(a->Subject + ca.CutEnd, b->Subject + cb.CutEnd) != 0)
        return {};
    return {ca, cb};
}

}  // namespace

bool TNewsStore::LaterPartOfPost(const THeader* header, const THeader* next) {
    const auto [a, b] = PostCounters(header, next);
    return a.Found && b.Part > a.Part;
}

bool TNewsStore::SamePost(const THeader* a, const THeader* b) {
    return a == b ? a && PartOf(a).Found : PostCounters(a, b).first.Found;
}

TPartCounter TNewsStore::PartOf(const THeader* header) {
    if (!header || !header->Subject) return {};
    const TCounter c = LastCounter(header->Subject, std::strlen(header->Subject));
    return {c.Part, c.Total, c.Found};
}

namespace {

// The first header of the run of the poster's chain that holds header's
// post (its parts, and copies the sort put in a run after them), or the
// one after header when header is the first.
THeader* StartOfPost(const THeader* header) {
    THeader* first = nullptr;
    for (THeader* h = header->PosterPrev; h && TNewsStore::SamePost(h, header); h = h->PosterPrev)
        first = h;
    return first ? first : header->PosterNext;
}

}  // namespace

THeader* TNewsStore::NextPartOfPost(const THeader* header) {
    if (!header) return nullptr;
    // A copy of the part that is still to be dealt with comes first.
    THeader* handled = nullptr;
    for (THeader* h = StartOfPost(header); h; h = h->PosterNext) {
        const auto [a, b] = PostCounters(header, h);
        if (!a.Found) break;
        if (b.Part != a.Part + 1) continue;
        if (!(h->Flags & HEADER_HANDLED)) return h;
        if (!handled) handled = h;
    }
    return handled;
}

bool TNewsStore::RepeatsHandledPart(const THeader* header) {
    if (!header) return false;
    for (const THeader* h = StartOfPost(header); h; h = h->PosterNext) {
        const auto [a, b] = PostCounters(header, h);
        if (!a.Found) break;
        if (h != header && (h->Flags & HEADER_HANDLED) && b.Part == a.Part) return true;
    }
    return false;
}

std::string TNewsStore::DescribePost(const THeader* header) {
    const TPartCounter counter = PartOf(header);
    if (!counter.Found) return {};
    std::vector<uint32_t> parts;
    parts.push_back(counter.Part);
    for (const THeader* h = StartOfPost(header); h && SamePost(h, header); h = h->PosterNext)
        parts.push_back(PartOf(h).Part);
    std::sort(parts.begin(), parts.end());
    parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
    // Ranges of consecutive numbers, "1-3, 5".
    auto ranges = [](const std::vector<uint32_t>& list) {
        std::string out;
        for (size_t i = 0; i < list.size();) {
            size_t j = i;
            while (j + 1 < list.size() && list[j + 1] == list[j] + 1) ++j;
            if (!out.empty()) out += ", ";
            out += std::to_string(list[i]);
            if (j > i) out += "-" + std::to_string(list[j]);
            i = j + 1;
        }
        return out;
    };
    std::vector<uint32_t> missing;
    for (uint32_t part = 1, k = 0; part <= counter.Total && missing.size() < 1000; ++part) {
        while (k < parts.size() && parts[k] < part) ++k;
        if (k == parts.size() || parts[k] != part) missing.push_back(part);
    }
    std::string text = "parts " + ranges(parts) + " of " + std::to_string(counter.Total);
    text += missing.empty() ? " on the server" : ", missing " + ranges(missing);
    return text;
}

size_t TNewsStore::SortScratchBytes() const {
    return LastScratchBytes;
}

void TNewsStore::ApplyPointer(TNewsGroup* group) {
    for (THeader* h = group->SortedHead; h; h = h->NumberNext) {
        if (h->Number < group->Pointer)
            h->Flags |= HEADER_HANDLED;
        else
            h->Flags &= ~HEADER_HANDLED;
    }
}

}  // namespace zorvex
