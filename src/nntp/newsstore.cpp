#include "nntp/newsstore.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <utility>

#include "app/parsedate.h"
#include "dupe/strman.h"
#include "library/ascii.h"
#include "library/check.h"
#include "library/quicksort.h"

namespace zorvex {

namespace {

// Leading decimal value after optional white space and sign; 0 when none.
// Clamped, so that absurd digit runs never overflow the range arithmetic.
TArticleNo LeadingNumber(const char* p, const char** end) {
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    TArticleNo value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = ClampedDigit(value, *p);
    if (end) *end = p;
    return negative ? -value : value;
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

uint32_t DateValue(const char* p, size_t len) {
    char buf[HEADER_FIELD_CUT * 4 + 1];
    len = len < sizeof buf - 1 ? len : sizeof buf - 1;
    std::memcpy(buf, p, len);
    buf[len] = '\0';
    int64_t t = ParseDate(buf);
    return t < 0 || t > UINT32_MAX ? 0 : static_cast<uint32_t>(t);
}

int CompareBytes(const char* a, const char* b) {
    if (a == b) return 0;
    return std::strcmp(a, b);  // strcmp compares as unsigned char
}

}  // namespace

TNewsStore& TNewsStore::Global() {
    static TNewsStore store;
    return store;
}

TNewsStore::TNewsStore()
    : StringTable(std::make_unique<TStringManager>(kBaseEntrySize, 13)),
      Groups(new TNewsGroup[MAXNEWSGROUPS]()) {
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
        if (strcasecmp(Groups[i].Name, name) == 0) return i;
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

void TNewsStore::SetEnabled(int index, int flag) {
    if (TNewsGroup* g = GetGroup(index)) g->Enabled = flag ? 1 : 0;
}

int TNewsStore::IsEnabled(int index) {
    TNewsGroup* g = GetGroup(index);
    return g ? g->Enabled : 0;
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
}

THeader* TNewsStore::FindOrAddHeader(TNewsGroup* group, TArticleNo number) {
    if (!group->HeaderHash) CreateHash(group);
    THeader** bucket = &group->HeaderHash[number & (HEADERHASH_COUNT - 1)];
    for (THeader* h = *bucket; h; h = h->HashNext)
        if (h->Number == number) return h;
    if (group->NumHeaders > HEADER_CAP) {
        if (group->FirstUnstored == 0 || number < group->FirstUnstored)
            group->FirstUnstored = number;
        return nullptr;
    }
    ++group->NumHeaders;
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

void TNewsStore::AddFieldLine(TNewsGroup* group, int kind, const char* line) {
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
        while (i < len && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
        size_t start = i;
        while (i < len && !std::isspace(static_cast<unsigned char>(value[i]))) ++i;
        const char* colon = static_cast<const char*>(std::memchr(value + start, ':', i - start));
        if (!colon) continue;  // the host name
        for (const char* c = value + start; c < colon; ++c)
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
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
        const char* tab = std::strchr(p, '\t');
        size_t len = tab ? static_cast<size_t>(tab - p) : std::strlen(p);
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

void TNewsStore::SortHeaders(TNewsGroup* group) {
    group->SortedHead = nullptr;
    if (!group->HeaderHash || group->NumHeaders == 0) return;
    SortList.clear();
    SortList.reserve(static_cast<size_t>(group->NumHeaders) + 1);
    for (int b = 0; b < HEADERHASH_COUNT; ++b) {
        for (THeader* h = group->HeaderHash[b]; h; h = h->HashNext) {
            h->NumberNext = h->PosterNext = h->PosterPrev = nullptr;
            if (!h->Subject) h->Subject = NullText;
            if (!h->Poster) h->Poster = NullText;
            if (!h->CrossPosts) h->CrossPosts = NullText;
            if (!h->PostingHost) h->PostingHost = NullText;
            SortList.push_back(h);
        }
    }
    long n = static_cast<long>(SortList.size());
    THeader** a = SortList.data();
    MiddlePivotSort(a, 0, n - 1,
                    [](const THeader* x, const THeader* y) { return x->Number < y->Number; });
    for (long i = 0; i + 1 < n; ++i) a[i]->NumberNext = a[i + 1];
    group->SortedHead = a[0];

    MiddlePivotSort(a, 0, n - 1, [](const THeader* x, const THeader* y) {
        int c = CompareBytes(x->Poster, y->Poster);
        if (c != 0) return c < 0;
        if (x->Date != y->Date) return x->Date < y->Date;
        return CompareBytes(x->Subject, y->Subject) < 0;
    });
    for (long i = 0; i + 1 < n; ++i) {
        if (a[i]->Poster == a[i + 1]->Poster) {
            a[i]->PosterNext = a[i + 1];
            a[i + 1]->PosterPrev = a[i];
        }
    }
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
