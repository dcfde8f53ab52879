// Wildcard pattern lists: a string table whose entries are patterns ('*'
// any run, '?' one character, '\' quotes the next), answering whether any
// of them matches a text. All patterns of a list compile into one
// nondeterministic automaton, run as a deterministic one that is built
// lazily, a state per (state, character) actually met, and cached between
// matches. Nodes and states come from one shared pool in blocks, so a
// rebuild does not go back to the system allocator.
//
// Bounds: the work stacks are sized to the list's node count, and every
// node is pushed at most once per step, so no list size can overflow them.
// The cache is dropped and rebuilt at the next match when more states are
// in use than the threshold, or when the states' node arrays pass
// RE_CACHE_BYTES_MAX; should one text take the cache past that budget, its
// remaining characters are stepped through node sets without caching.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "library/strman.h"
#include "select/strccl.h"

namespace zorvex {

constexpr size_t RE_ALLOC_QUANTUM = 64;        // nodes taken from the system at once
constexpr size_t STATESET_ALLOC_QUANTUM = 16;  // states taken from the system at once
constexpr size_t RE_STATE_THRESHOLD_INITIAL = 4096;
constexpr size_t RE_CACHE_BYTES_MAX = size_t{64} << 20;

// Entry flags (per pattern).
enum : uint32_t {
    RE_EXACT = 0x01,           // the pattern covers the whole text
    RE_CASE_SENSITIVE = 0x02,  // letters match only in their own case
    RE_EXACT_TOO = 0x04,       // same as RE_EXACT
    RE_WORD = 0x10,            // bounded by word delimiters or the text's ends
    RE_OTHER_SYNTAX = 0x20,    // not a wildcard pattern: never matches
    RE_TEMPORARY = 0x40,       // kept until the program ends, never saved
};

// List flags.
enum : uint32_t {
    RE_FILE_NAME_LIST = 0x01,  // a text without '.' also matches as "text."
    RE_MATCH_BLANK = 0x20,     // an empty or absent text matches
};

struct TRenode {
    TRenode* Out[2];  // either may be null
    TCharClass Class;
    bool Empty;         // entered without reading: has no class
    uint32_t Mark;      // equals the owner's step number when marked
    uint32_t Index;     // position in the owner's node list
    TRenode* FreeNext;  // in the pool's free list
};

struct TReStateSet {
    bool Terminal;
    bool Accepted;
    TReStateSet* Next[256];  // null until computed
    // The nodes entered on the way here (a sorted run of node indexes in the
    // owner's arena); the state stands for them and everything they reach
    // without reading.
    size_t NodeOffset;
    uint32_t NodeCount;
    uint64_t Hash;
    TReStateSet* HashNext;
    TReStateSet* ListNext;  // in the pool's free list, or the owner's state list
};

// The pool of nodes and states shared by all lists.
class TReSystem {
  public:
    TReSystem() = default;
    ~TReSystem();
    static TReSystem& Global();

    TRenode* TakeNode();
    // Gives back every node of the vector, which is left empty.
    void GiveNodes(std::vector<TRenode*>& nodes);
    TReStateSet* TakeState();
    // Gives back a list linked through ListNext.
    void GiveStates(TReStateSet* list);
    // Terminal and not accepted; shared by every list.
    TReStateSet* RejectState() { return &Reject; }

    struct TCounts {
        uint64_t NodesHandedOut, NodesGivenBack, NodesFree;
        uint64_t StatesHandedOut, StatesGivenBack, StatesFree;
    };
    TCounts Counts() const;

    TReSystem(const TReSystem&) = delete;
    TReSystem& operator=(const TReSystem&) = delete;

  private:
    mutable std::mutex Lock;
    TRenode* FreeNodes = nullptr;
    TReStateSet* FreeStates = nullptr;
    // Kept for the pool's life: freed nodes and states only join the lists.
    std::vector<std::unique_ptr<TRenode[]>> NodeBlocks;
    std::vector<std::unique_ptr<TReStateSet[]>> StateBlocks;
    TCounts Count{};
    TReStateSet Reject{true, false, {}, 0, 0, 0, nullptr, nullptr};
};

// A work stack of node references, grown to the list's node count.
class TReStack {
  public:
    void Reserve(size_t n) {
        if (Items.size() < n) Items.resize(n);
    }
    void Push(TRenode* node) { Items[Top++] = node; }
    TRenode* Pop() { return Items[--Top]; }
    bool IsEmpty() const { return Top == 0; }
    size_t Size() const { return Top; }
    TRenode* At(size_t i) const { return Items[i]; }
    void Clear() { Top = 0; }

  private:
    std::vector<TRenode*> Items;
    size_t Top = 0;
};

class TReStringManager : public TStringManager {
  public:
    // bits: log2 of the hash buckets (the lists use 10).
    explicit TReStringManager(int bits = 10, uint32_t listFlags = 0,
                              TReSystem& pool = TReSystem::Global());
    ~TReStringManager() override;

    // Whether any pattern matches text; a null text is absent. The text
    // ends at its first NUL, as a C string would.
    bool Match(const char* text);
    bool Match(std::string_view text);

    // Adds a pattern (an equal one is reused) and ORs flags into its entry
    // flags; the default entry flags apply to a new entry.
    TStringEntry* AddPattern(std::string_view pattern, uint32_t flags = 0);
    // Sets an entry's flags; the automaton is rebuilt at the next match.
    void SetEntryFlags(TStringEntry* entry, uint32_t flags);

    uint32_t ListFlags() const { return ListFlags_; }
    void SetListFlags(uint32_t flags) { ListFlags_ = flags; }
    bool MatchBlank() const { return (ListFlags_ & RE_MATCH_BLANK) != 0; }
    void SetMatchBlank(bool on) {
        ListFlags_ = on ? ListFlags_ | RE_MATCH_BLANK : ListFlags_ & ~RE_MATCH_BLANK;
    }

    // The most the states may take before the cache is dropped.
    void SetCacheBytesMax(size_t bytes) { CacheBytesMax = bytes; }
    size_t StateThreshold() const { return Threshold; }
    void SetStateThreshold(size_t states) { Threshold = states; }
    size_t StatesInUse() const { return NumStates; }
    size_t NodesInUse() const { return Nodes.size(); }
    uint32_t BuildCount() const { return Builds; }
    // Whether the list changed since its last build, or was rebuilt since a
    // caller saw buildCount: marks computed from it are out of date.
    bool ChangedSince(uint32_t buildCount) const { return Stale || Builds != buildCount; }

    // Every addition, removal and clearing: the automaton is stale, its
    // nodes and states go back to the pool at once.
    void Changed() override;

    // Escapes '*', '?' and '\' so that text matches itself literally.
    static std::string Escape(std::string_view text);

  private:
    struct TFragment {
        TRenode* Start = nullptr;
        TRenode* End = nullptr;
        explicit operator bool() const { return Start != nullptr; }
    };

    bool MatchOnce(std::string_view text);
    void Release();
    void Build();
    TRenode* NewNode();
    TFragment ClassNode(const TCharClass& cls);
    TFragment Concat(TFragment a, TFragment b);
    TFragment Star(TFragment f);
    TFragment Option(TFragment f);
    TFragment Alternate(TFragment a, TFragment b);
    TFragment AnyStar();
    TFragment CompilePattern(const char* pattern, bool caseSensitive);

    // The closure of the nodes now on T, collected on S.
    void Closure();
    // One step from the node set on S (a closure) on character c: the nodes
    // entered are left sorted in Kernel.
    void Move(unsigned char c);
    void NextStep();
    // The cached state for Kernel, or a new one; null past the byte budget.
    TReStateSet* StateForKernel();
    // The closure of count node indexes onto S.
    void Expand(const uint32_t* nodes, size_t count);
    // The state reached from one on c, computed; null past the byte budget
    // (Kernel then holds the node set reached).
    TReStateSet* Compute(const TReStateSet* from, unsigned char c);
    // Steps the node set in Kernel through the rest of a text (and its
    // terminating NUL) without caching.
    bool MatchUncached(std::string_view rest);
    size_t CacheBytes() const;

    TReSystem& Pool;
    uint32_t ListFlags_;
    size_t Threshold = RE_STATE_THRESHOLD_INITIAL;
    size_t CacheBytesMax = RE_CACHE_BYTES_MAX;
    uint32_t Builds = 0;
    bool Stale = true;
    bool OverBudget = false;      // a state was refused: rebuild at the next match
    std::vector<TRenode*> Nodes;  // taken from the pool for this build
    TRenode* StartNode = nullptr;
    TRenode* AcceptNode = nullptr;
    TReStack S, T;
    uint32_t Step = 0;
    std::vector<uint32_t> Kernel;
    std::vector<uint32_t> Arena;  // the states' node arrays
    std::vector<TReStateSet*> Buckets;
    TReStateSet* States = nullptr;
    size_t NumStates = 0;
    TReStateSet* Start = nullptr;
    TReStateSet Accept{true, true, {}, 0, 0, 0, nullptr, nullptr};
};

}  // namespace zorvex
