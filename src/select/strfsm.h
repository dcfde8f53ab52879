// Wildcard pattern lists: a string table whose entries are patterns ('*'
// any run, '?' one character, '\' quotes the next), answering whether any
// of them matches a text. All patterns of a list compile into one
// nondeterministic automaton, run as a deterministic one that is built
// lazily, a state per (state, character) actually met, and cached between
// matches. Nodes and states come from one shared pool in blocks, so a
// rebuild does not go back to the system allocator.
//
// For speed: bytes that no pattern tells apart share a byte class, so a
// state's row of transitions is short; each node knows the nodes a step
// from it may enter (split by byte class where there are many), so a new
// state costs no walk over empty nodes; stars at a pattern's ends become
// the shared wrapper of its group; and a state from which every text is
// accepted ends the match at once.
//
// Bounds: the work stack is sized to the list's node count, and every
// node is pushed at most once per step, so no list size can overflow it.
// The cache is dropped and rebuilt at the next match when more states are
// in use than the threshold, or when the states pass RE_CACHE_BYTES_MAX;
// should one text take the cache past that budget, its remaining
// characters are stepped through node sets without caching.
#pragma once

#include <array>
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
    bool Empty;  // entered without reading: has no class
    // Entered on any character, entered again on any next one, and the
    // end of the text is accepted right after it: the match is decided.
    bool Sure;
    uint32_t Mark;   // equals the owner's step number when marked
    uint32_t Index;  // position in the owner's node list
    // The nodes with a class reachable from here through empty nodes: the
    // ones a step from this node may enter (a run in the owner's arena).
    uint32_t FollowOffset, FollowCount;
    // For a long run, where its entries for each byte class start in the
    // owner's index (NO_INDEX when the run is short and read whole).
    uint32_t IndexOffset;
    TRenode* FreeNext;  // in the pool's free list
};

struct TReStateSet {
    // Its transitions: a row of the owner's table, one per byte class.
    uint32_t Row;
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
    // Transition table entries past the rows: not computed yet, and the
    // two ends of a match.
    static constexpr uint32_t UNKNOWN = 0xffffffffu;
    static constexpr uint32_t REJECT = 0xfffffffeu;
    static constexpr uint32_t ACCEPT = 0xfffffffdu;
    static constexpr uint32_t DECIDED = ACCEPT;  // this and above end the match
    enum class TStep { Continue, Accept, Reject };

    bool MatchOnce(std::string_view text);
    void Release();
    void Build();
    TRenode* NewNode();
    TFragment ClassNode(const TCharClass& cls);
    TFragment Concat(TFragment a, TFragment b);
    TFragment Star(TFragment f);
    TFragment Option(TFragment f);
    TFragment Alternate(TFragment a, TFragment b);
    // A balanced alternation, so that no path through it is long.
    TFragment AlternateAll(std::vector<TFragment>& fragments);
    TFragment AnyStar();
    TFragment CompilePattern(std::string_view pattern, bool caseSensitive);
    // Bytes that every class of the automaton takes or leaves together
    // share a byte class, and a row has one entry per byte class.
    void SplitByteClasses();
    // The follow runs of the start node and of every node with a class.
    void BuildFollows();

    void NextStep();
    // One step from count nodes on a byte of class k: the nodes entered are
    // left sorted in Kernel, or the match is decided.
    TStep StepNodes(const uint32_t* nodes, size_t count, uint8_t k);
    // The row of the cached state for Kernel, or of a new one; UNKNOWN
    // past the byte budget.
    uint32_t StateForKernel();
    // The transition of the state at row on byte class k, computed and
    // recorded; UNKNOWN past the byte budget (Kernel then holds the nodes).
    uint32_t Compute(uint32_t row, uint8_t k);
    // Steps the nodes in Kernel through the rest of a text (and its
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
    std::vector<uint32_t> Follows;  // the nodes' follow runs
    // Long runs split by byte class: per node NumClasses + 1 starts into
    // ClassFollows, so a step reads only the entries that can be entered.
    std::vector<uint32_t> ClassStarts, ClassFollows;
    std::array<uint8_t, 256> ClassOf{};
    std::array<uint8_t, 256> Representative{};  // a byte of each class
    uint32_t NumClasses = 0;
    TReStack T;
    uint32_t Step = 0;
    std::vector<uint32_t> Kernel;
    std::vector<uint32_t> Arena;  // the states' node arrays
    std::vector<uint32_t> Table;  // the states' rows
    std::vector<TReStateSet*> Buckets;
    std::vector<TReStateSet*> ById;  // by row / NumClasses
    TReStateSet* States = nullptr;
    size_t NumStates = 0;
    uint32_t StartRow = UNKNOWN;
};

}  // namespace zorvex
