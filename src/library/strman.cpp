#include "library/strman.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "library/check.h"
#include "library/hash.h"
#include "library/quicksort.h"

namespace zorvex {
namespace {

// Entries and the block header are laid out on this boundary so that a
// derived entry may hold any ordinary type.
constexpr size_t kEntryAlign = alignof(std::max_align_t);
constexpr size_t kMaxBlockCount = 32;

size_t RoundUp(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

bool DefaultLess(const TStringEntry* a, const TStringEntry* b, void*) {
    // strcmp compares as unsigned char.
    return std::strcmp(a->Text ? a->Text : "", b->Text ? b->Text : "") < 0;
}

// True when the stored text equals the len bytes at text (which hold no NUL).
inline bool SameText(const char* stored, const char* text, size_t len) {
    return std::strncmp(stored, text, len) == 0 && stored[len] == '\0';
}

}  // namespace

std::atomic<uint64_t> TStringManager::NodesAllocated_{0};
std::atomic<uint64_t> TStringManager::NodesFreed_{0};

// ---------------------------------------------------------------------------
// TStringFreeList

TStringFreeList::~TStringFreeList() {
    while (BlockList) {
        TBlock* next = BlockList->Next;
        std::free(BlockList);
        BlockList = next;
    }
}

void* TStringFreeList::Take(size_t entrysize, size_t blockCount) {
    if (EntrySize_ == 0) {
        ZV_CHECK(entrysize >= sizeof(TNode));
        EntrySize_ = entrysize;
        Stride_ = RoundUp(entrysize, kEntryAlign);
    }
    ZV_CHECK(EntrySize_ == entrysize);
    if (Head == nullptr) {
        if (blockCount == 0) blockCount = 1;
        const size_t header = RoundUp(sizeof(TBlock), kEntryAlign);
        char* block = static_cast<char*>(std::malloc(header + blockCount * Stride_));
        ZV_CHECK(block != NULL);
        TBlock* b = reinterpret_cast<TBlock*>(block);
        b->Next = BlockList;
        BlockList = b;
        ++Blocks;
        // Push back to front so that entries are handed out in address order.
        for (size_t i = blockCount; i-- > 0;) {
            TNode* n = reinterpret_cast<TNode*>(block + header + i * Stride_);
            n->Next = Head;
            Head = n;
        }
    }
    TNode* n = Head;
    Head = n->Next;
    return n;
}

void TStringFreeList::Give(void* entry) {
    if (entry == nullptr) return;
    TNode* n = static_cast<TNode*>(entry);
    n->Next = Head;
    Head = n;
}

// ---------------------------------------------------------------------------
// TStringManager

TStringManager::TStringManager(size_t entrySize, int bits, uint32_t managerFlags,
                               TStringFreeList* freeList)
    : Flags(managerFlags), FreeList_(freeList) {
    const size_t entry_size = entrySize;
    ZV_CHECK(entry_size > 0);
    ZV_CHECK(bits > 0);
    ZV_CHECK(entry_size >= kBaseEntrySize);
    ZV_CHECK(bits <= 30);
    Bits_ = bits;
    BucketCount_ = size_t{1} << bits;
    Mask_ = static_cast<uint32_t>(BucketCount_ - 1);
    TableBytes_ = BucketCount_ * sizeof(TStringEntry*);
    EntrySize_ = entrySize;
    BlockCount_ = BucketCount_ / 4;
    if (BlockCount_ < 1) BlockCount_ = 1;
    if (BlockCount_ > kMaxBlockCount) BlockCount_ = kMaxBlockCount;

    Table = static_cast<TStringEntry**>(std::calloc(BucketCount_, sizeof(TStringEntry*)));
    ZV_CHECK(Table != NULL);
    if (FreeList_ == nullptr) {
        FreeList_ = new TStringFreeList;
        OwnFreeList = true;
    }
}

TStringManager::~TStringManager() {
    ClearChains();
    std::free(Table);
    Table = nullptr;
    if (OwnFreeList) delete FreeList_;
}

void TStringManager::Changed() {
    IterValid = false;
}

void TStringManager::SetTextHooks(TStringCopyHook copy, TStringFreeHook release, void* user) {
    CopyHook = copy;
    FreeHook = release;
    HookUser = user;
}

void TStringManager::SetChild(TStringManager* child) {
    ZV_CHECK(NumEntries == 0);
    ZV_CHECK(child != this);
    Child_ = child;
}

TStringEntry* TStringManager::NewEntry() {
    void* result;
    if (Flags & HEAP_ENTRIES) {
        result = std::malloc(EntrySize_);
        ZV_CHECK(result != NULL);
    } else {
        ZV_CHECK(FreeList_ != NULL);
        FreeList_->Lock();
        result = FreeList_->Take(EntrySize_, BlockCount_);
        FreeList_->Unlock();
    }
    std::memset(result, 0, EntrySize_);
    NodesAllocated_.fetch_add(1, std::memory_order_relaxed);
    return static_cast<TStringEntry*>(result);
}

void TStringManager::ReleaseText(const char* text) {
    char* t = const_cast<char*>(text);
    if (FreeHook) {
        FreeHook(t, HookUser);
    } else {
        std::free(t);
    }
}

void TStringManager::FreeEntry(TStringEntry* entry, bool freeText) {
    if (entry == nullptr) return;
    if (freeText && entry->Text && OwnsTexts()) {
        BytesFreed_ += std::strlen(entry->Text);
        ReleaseText(entry->Text);
    }
    entry->Text = nullptr;
    if (Flags & HEAP_ENTRIES) {
        std::free(entry);
    } else {
        ZV_CHECK(FreeList_ != NULL);
        FreeList_->Lock();
        FreeList_->Give(entry);
        FreeList_->Unlock();
    }
    NodesFreed_.fetch_add(1, std::memory_order_relaxed);
}

TStringEntry* TStringManager::Lookup(uint32_t hash, const char* text, size_t len) {
    for (TStringEntry* e = Table[hash & Mask_]; e; e = e->Next) {
        if (SameText(e->Text, text, len)) {
            ++e->UseCount;
            return e;
        }
    }
    return nullptr;
}

TStringEntry* TStringManager::Find(const char* text) {
    if (text == nullptr) return nullptr;
    size_t len;
    const uint32_t h = HashString(text, &len);
    return Lookup(h, text, len);
}

TStringEntry* TStringManager::Find(const char* text, size_t len) {
    if (text == nullptr) return nullptr;
    len = strnlen(text, len);
    return Lookup(HashString(text, len), text, len);
}

TStringEntry* TStringManager::Add(const char* text) {
    if (text == nullptr) return nullptr;
    size_t len;
    const uint32_t h = HashString(text, &len);
    if (TStringEntry* e = Lookup(h, text, len)) return e;
    return Insert(h, text, len);
}

TStringEntry* TStringManager::Add(const char* text, size_t len) {
    if (text == nullptr) return nullptr;
    len = strnlen(text, len);
    const uint32_t h = HashString(text, len);
    if (TStringEntry* e = Lookup(h, text, len)) return e;
    return Insert(h, text, len);
}

TStringEntry* TStringManager::Insert(uint32_t hash, const char* text, size_t len) {
    const char* stored = text;
    if (Child_) {
        TStringEntry* c = Child_->Add(text, len);
        stored = c->Text;
    } else if ((Flags & CALLER_TEXTS) == 0) {
        char* copy;
        if (CopyHook) {
            copy = CopyHook(text, len, HookUser);
        } else {
            copy = static_cast<char*>(std::malloc(len + 1));
            if (copy) {
                std::memcpy(copy, text, len);
                copy[len] = '\0';
            }
        }
        ZV_CHECK(copy != NULL);
        stored = copy;
    }

    TStringEntry* e = NewEntry();
    e->Text = stored;
    e->UseCount = 1;
    e->Owner = this;
    e->Flags = DefaultFlags;
    TStringEntry*& head = Table[hash & Mask_];
    e->Next = head;
    head = e;

    ++NumEntries;
    BytesAdded_ += len;
    Changed();
    return e;
}

void TStringManager::Remove(const char* text, bool freeText) {
    if (text != nullptr) {
        size_t len;
        const uint32_t h = HashString(text, &len);
        for (TStringEntry** link = &Table[h & Mask_]; *link; link = &(*link)->Next) {
            TStringEntry* e = *link;
            if (std::strcmp(e->Text, text) == 0) {
                *link = e->Next;
                FreeEntry(e, freeText);
                --NumEntries;
                break;
            }
        }
    }
    Changed();
}

TStringEntry* TStringManager::InsertSeparate(const char* text) {
    if (text == nullptr) return nullptr;
    size_t len;
    const uint32_t h = HashString(text, &len);
    return Insert(h, text, len);
}

TStringEntry* TStringManager::ChainHead(const char* text) const {
    return Table[HashString(text) & Mask_];
}

bool TStringManager::RemoveThisEntry(TStringEntry* entry, bool freeText) {
    if (entry == nullptr || entry->Text == nullptr) return false;
    const uint32_t h = HashString(entry->Text);
    for (TStringEntry** link = &Table[h & Mask_]; *link; link = &(*link)->Next) {
        if (*link == entry) {
            *link = entry->Next;
            FreeEntry(entry, freeText);
            --NumEntries;
            Changed();
            return true;
        }
    }
    return false;
}

void TStringManager::ClearChains() {
    for (size_t i = 0; i < BucketCount_; ++i) {
        TStringEntry* e = Table[i];
        Table[i] = nullptr;
        while (e) {
            TStringEntry* next = e->Next;
            FreeEntry(e, true);
            e = next;
        }
    }
    NumEntries = 0;
    IterHead = nullptr;
}

void TStringManager::Clear() {
    ClearChains();
    Changed();
}

void TStringManager::BuildIteration() {
    TStringEntry* head = nullptr;
    TStringEntry** tail = &head;
    size_t count = 0, longest = 0, depthSum = 0;
    for (size_t i = 0; i < BucketCount_; ++i) {
        size_t depth = 0;
        for (TStringEntry* e = Table[i]; e; e = e->Next) {
            ++depth;
            depthSum += depth;
            *tail = e;
            tail = &e->IterNext;
        }
        count += depth;
        if (depth > longest) longest = depth;
    }
    *tail = nullptr;
    IterHead = head;
    NumEntries = count;
    LongestChain_ = longest;
    AverageDepth_ = count ? depthSum / count : 0;
    IterValid = true;
}

TStringEntry* TStringManager::First() {
    if (!IterValid) BuildIteration();
    return IterHead;
}

TStringEntry* TStringManager::Sort(TStringLess less, void* user) {
    if (!IterValid) BuildIteration();
    if (NumEntries == 0) return nullptr;
    SortIdx = static_cast<TStringEntry**>(std::malloc(NumEntries * sizeof(TStringEntry*)));
    ZV_CHECK(SortIdx != NULL);
    size_t n = 0;
    for (TStringEntry* e = IterHead; e; e = e->IterNext) SortIdx[n++] = e;
    TStringLess cmp = less ? less : DefaultLess;
    MiddlePivotSort(
        SortIdx, 0, static_cast<std::ptrdiff_t>(n) - 1,
        [cmp, user](const TStringEntry* a, const TStringEntry* b) { return cmp(a, b, user); });
    for (size_t i = 0; i + 1 < n; ++i) SortIdx[i]->IterNext = SortIdx[i + 1];
    SortIdx[n - 1]->IterNext = nullptr;
    IterHead = SortIdx[0];
    std::free(SortIdx);
    SortIdx = nullptr;
    IterValid = true;
    return IterHead;
}

}  // namespace zorvex
