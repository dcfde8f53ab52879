// The group table and each group's header store, filled from XOVER or XHDR
// lines and sorted before a walk into article-number order and per-poster
// chains. A poster's chain holds each multipart post's parts together in
// part order, so the walk can hand the decoder part 1, 2, 3... Headers live
// until the store goes; the handled bit keeps an article from being offered
// twice. The records themselves are in records.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nntp/records.h"

namespace zorvex {

class TStringManager;

struct TPartCounter {
    uint32_t Part = 0;
    uint32_t Total = 0;
    bool Found = false;
};

constexpr int MAXNEWSGROUPS = 2048;
constexpr int HEADERHASH_COUNT = 1024;
constexpr int HEADER_BLOCK_COUNT = 250;
// New records are made only while a group holds this many or fewer.
constexpr int HEADER_CAP = 32000;
constexpr size_t HEADER_FIELD_CUT = 100;

enum THeaderField : int {
    FIELD_SUBJECT = 1,
    FIELD_POSTER = 2,
    FIELD_DATE = 3,
    FIELD_LINES = 7,
    FIELD_XREF = 8,
    FIELD_POSTING_HOST = 10,
};

struct THeaderStats {
    uint64_t RecordsHandedOut = 0;
    uint64_t Blocks = 0;
    uint64_t BlockBytes = 0;
    uint64_t SubjectBytes = 0;
    uint64_t PosterBytes = 0;
    uint64_t XrefBytes = 0;
    uint64_t HostBytes = 0;
};

class TNewsStore {
  public:
    // The process-wide store every TNewsIo uses unless given another.
    static TNewsStore& Global();

    TNewsStore();
    ~TNewsStore();
    TNewsStore(const TNewsStore&) = delete;
    TNewsStore& operator=(const TNewsStore&) = delete;

    // Texts. Equal texts are one stored copy; Null() is the missing value.
    const char* Intern(const char* text, size_t len);
    const char* Intern(const char* text);
    const char* Null() const { return NullText; }
    TStringManager& Strings() { return *StringTable; }

    // Group table.
    TNewsGroup* AddGroup(const char* name);
    TNewsGroup* GetGroup(int index);
    TNewsGroup* FindGroup(const char* name);
    int IndexOfGroup(const char* name) const;
    int IndexOf(const TNewsGroup* group) const;
    void DeleteGroup(int index);
    void MoveGroupUp(int index);
    void MoveGroupDown(int index);
    void SortGroups();
    void SetEnabled(int index, bool enabled);
    bool IsEnabled(int index);
    int GroupCount() const { return NumGroups; }
    TNewsGroup& AllGroup() { return AllGroups; }
    int HighestWrittenIndex = 0;

    // Header store.
    THeader* NewHeader();
    void CreateHash(TNewsGroup* group);
    THeader* FindOrAddHeader(TNewsGroup* group, TArticleNo number);
    void AddFieldLine(TNewsGroup* group, THeaderField kind, const char* line);
    void AddOverviewLine(TNewsGroup* group, const char* line);
    // Number order, and per poster: posts by their earliest date, then the
    // subject of their first part, then their lowest number; within a post
    // the parts by the part counter of the subject (see the .cpp).
    void SortHeaders(TNewsGroup* group);
    // Whether next is a later part of the same post as header: same poster,
    // subjects equal but for the part number, and a higher part number (a
    // lower or equal one starts a repost).
    static bool LaterPartOfPost(const THeader* header, const THeader* next);
    // Whether two headers are parts of one post; a header is of its own
    // post when its subject has a part counter.
    static bool SamePost(const THeader* a, const THeader* b);
    // The "(n/m)" or "[n/m]" counter of a header's subject.
    static TPartCounter PartOf(const THeader* header);
    // The header of the next part of header's post (among the post's parts
    // and their copies in the poster's chain), one not yet handled when
    // there is one; null when that part is not there, or header's subject
    // counts no parts.
    static THeader* NextPartOfPost(const THeader* header);
    // Whether header is a copy of a part of its post that another copy
    // already dealt with.
    static bool RepeatsHandledPart(const THeader* header);
    // "parts 2-3 of 3, missing 1": what the store holds of header's post.
    static std::string DescribePost(const THeader* header);
    void ApplyPointer(TNewsGroup* group);
    const THeaderStats& Stats() const { return Statistics; }
    // Bytes the last sort used for its scratch, which it released at its end.
    size_t SortScratchBytes() const;

  private:
    struct TSortItem;
    struct TPostKey;
    struct TPostRun;
    // Text copies for the string table: packed in large chunks, freed with
    // the store, instead of one heap block per interned text.
    struct TTextArena {
        std::vector<std::unique_ptr<char[]>> Chunks;
        char* Next = nullptr;
        size_t Left = 0;
        char* Copy(const char* text, size_t len);
    };
    static char* ArenaCopy(const char* text, size_t len, void* arena);
    static void ArenaRelease(char* text, void* arena);
    void LinkPosterChains(size_t n);

    // Interns and counts the bytes (len, or counted when given) of a text
    // that was not yet stored.
    const char* InternCounted(const char* text, size_t len, uint64_t* counter, size_t counted = 0);
    // The leading article number of a header line, noted as loaded; 0 or
    // less when the line has none. rest points past the number.
    TArticleNo LineNumber(TNewsGroup* group, const char* line, const char** rest);
    const char* CrossPostText(const char* value, size_t len);

    TTextArena Texts;  // before the table: the table gives its texts back here
    std::unique_ptr<TStringManager> StringTable;
    const char* NullText = nullptr;
    std::unique_ptr<TNewsGroup[]> Groups;
    TNewsGroup AllGroups{};
    int NumGroups = 0;
    THeader* HeaderFreeList = nullptr;
    std::vector<std::unique_ptr<THeader[]>> HeaderBlocks;
    std::vector<std::unique_ptr<THeader*[]>> Hashes;
    // Sort scratch, released when the sort ends.
    std::vector<TSortItem> SortItems;
    std::vector<TSortItem> PostOrder;
    std::vector<uint32_t> KeySlots;
    std::vector<TPostKey> PostKeys;
    std::vector<TPostRun> PostRuns;
    size_t LastScratchBytes = 0;
    THeaderStats Statistics;
};

}  // namespace zorvex
