// Hashed table of unique strings. Interns header subjects and posters, group
// and file names, and carries the pattern lists and duplicate tables, which
// derive from it and append fields to the entry. Entries come from a block
// allocator with a free list so that tables of many short entries cost few
// heap calls; the iteration list can be rebuilt in bucket order or sorted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zorvex {

class TStringManager;

// Base entry. Derived tables derive their entry from this struct and pass
// sizeof(their entry) as the entry size.
struct TStringEntry {
    const char* Text;
    TStringEntry* Next;      // bucket chain
    TStringEntry* IterNext;  // iteration order
    uint32_t Flags;
    uint32_t UseCount;  // 1 when added, +1 on every successful find
    uint32_t Spare;     // unused by the base
    TStringManager* Owner;
};

inline constexpr size_t kBaseEntrySize = sizeof(TStringEntry);

// Answers whether a sorts before b.
using TStringLess = bool (*)(const TStringEntry* a, const TStringEntry* b, void* user);

// Returns a malloc-compatible NUL-terminated copy of the first len bytes of
// text, or nullptr when out of memory.
using TStringCopyHook = char* (*)(const char* text, size_t len, void* user);
// Releases a text made by the copy hook.
using TStringFreeHook = void (*)(char* text, void* user);

// Block allocator for entries of one fixed size. Blocks are kept until the
// list itself is destroyed; entries given back are only pushed on the list.
// May be shared by several tables with the same entry size.
class TStringFreeList {
  public:
    TStringFreeList() = default;
    virtual ~TStringFreeList();
    virtual void Lock() {}
    virtual void Unlock() {}

    // Returns uninitialised memory for one entry. The first call fixes the
    // entry size; a later call with another size is fatal.
    void* Take(size_t entrySize, size_t blockCount);
    void Give(void* entry);

    size_t EntrySize() const { return EntrySize_; }
    size_t Stride() const { return Stride_; }
    size_t BlocksTaken() const { return Blocks; }

    TStringFreeList(const TStringFreeList&) = delete;
    TStringFreeList& operator=(const TStringFreeList&) = delete;

  private:
    struct TNode {
        TNode* Next;
    };
    struct TBlock {
        TBlock* Next;
    };
    TNode* Head = nullptr;
    TBlock* BlockList = nullptr;  // kept only to release them with the list
    size_t EntrySize_ = 0;
    size_t Stride_ = 0;
    size_t Blocks = 0;
};

class TStringManager {
  public:
    // Manager flags.
    static constexpr uint32_t CALLER_TEXTS = 0x08;  // texts are the caller's: not copied or freed
    static constexpr uint32_t HEAP_ENTRIES = 0x10;  // entries from the heap one by one

    // entrySize >= kBaseEntrySize and bits in 1..30. Without a free list the
    // table makes its own, which lives as long as the table.
    TStringManager(size_t entrySize, int bits, uint32_t managerFlags = 0,
                   TStringFreeList* freeList = nullptr);

    // A derived table whose FreeEntry does more than the base must call
    // Clear() in its own destructor: here only the base FreeEntry runs.
    virtual ~TStringManager();
    virtual void Lock() {}
    virtual void Unlock() {}
    // Runs after every addition, removal and clearing.
    virtual void Changed();
    // Gives an entry back, releasing its text when asked and the text is ours.
    virtual void FreeEntry(TStringEntry* entry, bool freeText);

    // Null text finds nothing. A hit adds 1 to the entry's use count.
    TStringEntry* Find(const char* text);
    TStringEntry* Find(const char* text, size_t len);
    // Returns the existing entry (counted as a find) or a new one; nullptr
    // only for a null text.
    TStringEntry* Add(const char* text);
    // Adds the first len bytes of text. With CALLER_TEXTS the pointer is
    // stored as it is, so it must then point at a NUL-terminated text.
    TStringEntry* Add(const char* text, size_t len);
    void Remove(const char* text, bool freeText = true);
    void Clear();
    // Same as Find() != nullptr (so a hit counts as a use).
    bool Contains(const char* text) { return Find(text) != nullptr; }

    // Head of the iteration list, built in bucket order when invalid.
    TStringEntry* First();
    // Sorts the iteration list; returns the new head, nullptr when empty.
    // A null comparison compares the texts as unsigned bytes.
    TStringEntry* Sort(TStringLess less = nullptr, void* user = nullptr);

    void SetTextHooks(TStringCopyHook copy, TStringFreeHook release, void* user);
    // Texts added here are first added to the child, and the child's copy is
    // stored; they then belong to the child. Only while the table is empty.
    void SetChild(TStringManager* child);
    void SetDefaultEntryFlags(uint32_t flags) { DefaultFlags = flags; }

    size_t Count() const { return NumEntries; }
    int Bits() const { return Bits_; }
    size_t BucketCount() const { return BucketCount_; }
    uint32_t Mask() const { return Mask_; }
    size_t TableBytes() const { return TableBytes_; }
    size_t EntrySize() const { return EntrySize_; }
    size_t BlockCount() const { return BlockCount_; }
    uint32_t ManagerFlags() const { return Flags; }
    uint32_t DefaultEntryFlags() const { return DefaultFlags; }
    TStringFreeList* FreeList() const { return FreeList_; }
    TStringManager* Child() const { return Child_; }
    bool IterationValid() const { return IterValid; }

    // Statistics of the last iteration build.
    size_t LongestChain() const { return LongestChain_; }
    size_t AverageDepth() const { return AverageDepth_; }
    uint64_t BytesAdded() const { return BytesAdded_; }
    uint64_t BytesFreed() const { return BytesFreed_; }

    // Program-wide: entries handed out and given back by all tables.
    static uint64_t NodesAllocated() { return NodesAllocated_.load(std::memory_order_relaxed); }
    static uint64_t NodesFreed() { return NodesFreed_.load(std::memory_order_relaxed); }

    TStringManager(const TStringManager&) = delete;
    TStringManager& operator=(const TStringManager&) = delete;

  protected:
    // Texts this table copied itself and so must release.
    bool OwnsTexts() const { return (Flags & CALLER_TEXTS) == 0 && Child_ == nullptr; }
    TStringEntry* NewEntry();
    void ReleaseText(const char* text);

    // For tables that keep several entries under one text (the dupe tables)
    // and remove one particular entry of them.
    // A new entry at the head of text's chain even when an equal text is
    // there already; nullptr only for a null text.
    TStringEntry* InsertSeparate(const char* text);
    // The first entry of the chain text hashes to (any text), or nullptr.
    TStringEntry* ChainHead(const char* text) const;
    // Unlinks exactly this entry and frees it through FreeEntry; false
    // when it is not in this table.
    bool RemoveThisEntry(TStringEntry* entry, bool freeText = true);

  private:
    // The entry holding exactly these len bytes, counted as a use; or null.
    TStringEntry* Lookup(uint32_t hash, const char* text, size_t len);
    TStringEntry* Insert(uint32_t hash, const char* text, size_t len);
    void BuildIteration();
    void ClearChains();

    int Bits_;
    size_t BucketCount_;
    uint32_t Mask_;
    size_t TableBytes_;
    size_t EntrySize_;
    size_t BlockCount_;
    uint32_t Flags;
    uint32_t DefaultFlags = 0;
    size_t LongestChain_ = 0;
    size_t AverageDepth_ = 0;
    size_t NumEntries = 0;
    uint64_t BytesAdded_ = 0;
    uint64_t BytesFreed_ = 0;
    TStringCopyHook CopyHook = nullptr;
    TStringFreeHook FreeHook = nullptr;
    void* HookUser = nullptr;
    TStringManager* Child_ = nullptr;
    TStringEntry** SortIdx = nullptr;
    TStringEntry* IterHead = nullptr;
    bool IterValid = false;
    TStringFreeList* FreeList_;
    bool OwnFreeList = false;
    // Chain heads; an empty bucket holds nullptr.
    TStringEntry** Table = nullptr;

    static std::atomic<uint64_t> NodesAllocated_;
    static std::atomic<uint64_t> NodesFreed_;
};

}  // namespace zorvex
