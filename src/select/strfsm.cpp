#include "select/strfsm.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "library/check.h"

namespace zorvex {

// ---- the pool ----

TReSystem::~TReSystem() = default;

TReSystem& TReSystem::Global() {
    // Never destroyed: lists with static lifetime may give nodes back after
    // the end of main.
    static TReSystem* pool = new TReSystem;
    return *pool;
}

namespace {

// Takes one item off a free list linked through link, first filling the
// list with a block of quantum items when it is empty.
template <typename T>
T* TakeFromBlocks(T*& freeList, T* T::*link, std::vector<std::unique_ptr<T[]>>& blocks,
                  size_t quantum, uint64_t& freeCount, uint64_t& handedOut) {
    if (!freeList) {
        std::unique_ptr<T[]> block(new (std::nothrow) T[quantum]);
        ZV_CHECK(block != nullptr);
        for (size_t i = 0; i < quantum; ++i) {
            block[i].*link = freeList;
            freeList = &block[i];
        }
        freeCount += quantum;
        blocks.push_back(std::move(block));
    }
    T* item = freeList;
    freeList = item->*link;
    --freeCount;
    ++handedOut;
    return item;
}

}  // namespace

TRenode* TReSystem::TakeNode() {
    std::lock_guard<std::mutex> hold(Lock);
    return TakeFromBlocks(FreeNodes, &TRenode::FreeNext, NodeBlocks, RE_ALLOC_QUANTUM,
                          Count.NodesFree, Count.NodesHandedOut);
}

void TReSystem::GiveNodes(std::vector<TRenode*>& nodes) {
    std::lock_guard<std::mutex> hold(Lock);
    for (TRenode* node : nodes) {
        node->FreeNext = FreeNodes;
        FreeNodes = node;
    }
    Count.NodesGivenBack += nodes.size();
    Count.NodesFree += nodes.size();
    nodes.clear();
}

TReStateSet* TReSystem::TakeState() {
    std::lock_guard<std::mutex> hold(Lock);
    return TakeFromBlocks(FreeStates, &TReStateSet::ListNext, StateBlocks, STATESET_ALLOC_QUANTUM,
                          Count.StatesFree, Count.StatesHandedOut);
}

void TReSystem::GiveStates(TReStateSet* list) {
    std::lock_guard<std::mutex> hold(Lock);
    while (list) {
        TReStateSet* next = list->ListNext;
        list->ListNext = FreeStates;
        FreeStates = list;
        ++Count.StatesGivenBack;
        ++Count.StatesFree;
        list = next;
    }
}

TReSystem::TCounts TReSystem::Counts() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Count;
}

// ---- the list ----

TReStringManager::TReStringManager(int bits, uint32_t listFlags, TReSystem& pool)
    : TStringManager(kBaseEntrySize, bits), Pool(pool), ListFlags_(listFlags) {}

TReStringManager::~TReStringManager() {
    Release();
}

void TReStringManager::Changed() {
    TStringManager::Changed();
    Stale = true;
    Release();
}

std::string TReStringManager::Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '*' || c == '?' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

TStringEntry* TReStringManager::AddPattern(std::string_view pattern, uint32_t flags) {
    // Entries are C strings: a pattern ends at its first NUL.
    pattern = pattern.substr(0, pattern.find('\0'));
    TStringEntry* entry = Add(pattern.data(), pattern.size());
    if (entry && (entry->Flags | flags) != entry->Flags) SetEntryFlags(entry, entry->Flags | flags);
    return entry;
}

void TReStringManager::SetEntryFlags(TStringEntry* entry, uint32_t flags) {
    if (entry->Flags == flags) return;
    entry->Flags = flags;
    Changed();
}

void TReStringManager::Release() {
    Pool.GiveNodes(Nodes);
    Pool.GiveStates(States);
    States = nullptr;
    NumStates = 0;
    Start = nullptr;
    StartNode = nullptr;
    AcceptNode = nullptr;
    Arena.clear();
    std::fill(Buckets.begin(), Buckets.end(), nullptr);
}

size_t TReStringManager::CacheBytes() const {
    return Arena.size() * sizeof(uint32_t) + NumStates * sizeof(TReStateSet);
}

// ---- compiling ----

TRenode* TReStringManager::NewNode() {
    TRenode* node = Pool.TakeNode();
    node->Out[0] = node->Out[1] = nullptr;
    node->Class = TCharClass{};
    node->Empty = true;
    node->Mark = 0;
    node->Index = static_cast<uint32_t>(Nodes.size());
    Nodes.push_back(node);
    return node;
}

namespace {

void Link(TRenode* from, TRenode* to) {
    if (!from->Out[0]) {
        from->Out[0] = to;
    } else {
        // The constructions never give a node a third edge.
        ZV_CHECK(from->Out[1] == nullptr);
        from->Out[1] = to;
    }
}

TCharClass AnyCharacter() {
    TCharClass any;
    any.AddAll();
    return any;
}

}  // namespace

TReStringManager::TFragment TReStringManager::ClassNode(const TCharClass& cls) {
    TRenode* node = NewNode();
    node->Class = cls;
    node->Empty = false;
    return {node, node};
}

TReStringManager::TFragment TReStringManager::Concat(TFragment a, TFragment b) {
    if (!a) return b;
    if (!b) return a;
    Link(a.End, b.Start);
    return {a.Start, b.End};
}

TReStringManager::TFragment TReStringManager::Star(TFragment f) {
    TRenode* p = NewNode();
    TRenode* q = NewNode();
    Link(p, f.Start);
    Link(p, q);
    Link(f.End, q);
    Link(q, p);
    return {p, q};
}

TReStringManager::TFragment TReStringManager::Option(TFragment f) {
    TRenode* p = NewNode();
    TRenode* q = NewNode();
    Link(p, f.Start);
    Link(p, q);
    Link(f.End, q);
    return {p, q};
}

TReStringManager::TFragment TReStringManager::Alternate(TFragment a, TFragment b) {
    if (!a) return b;
    if (!b) return a;
    TRenode* p = NewNode();
    TRenode* q = NewNode();
    Link(p, a.Start);
    Link(p, b.Start);
    Link(a.End, q);
    Link(b.End, q);
    return {p, q};
}

TReStringManager::TFragment TReStringManager::AnyStar() {
    return Star(ClassNode(AnyCharacter()));
}

TReStringManager::TFragment TReStringManager::CompilePattern(const char* pattern,
                                                             bool caseSensitive) {
    TFragment result;
    for (size_t i = 0; pattern[i]; ++i) {
        auto c = static_cast<unsigned char>(pattern[i]);
        TFragment piece;
        if (c == '*') {
            piece = AnyStar();
        } else if (c == '?') {
            piece = ClassNode(AnyCharacter());
        } else {
            // A '\' at the very end stands for itself.
            if (c == '\\' && pattern[i + 1]) c = static_cast<unsigned char>(pattern[++i]);
            TCharClass literal;
            literal.AddLiteral(c, !caseSensitive);
            piece = ClassNode(literal);
        }
        result = Concat(result, piece);
    }
    return result;
}

void TReStringManager::Build() {
    ++Builds;
    Release();
    Stale = false;
    OverBudget = false;

    TFragment exact, word, substring;
    for (TStringEntry* e = First(); e; e = e->IterNext) {
        const uint32_t flags = e->Flags;
        if (flags & RE_OTHER_SYNTAX) continue;
        TFragment f = CompilePattern(e->Text, (flags & RE_CASE_SENSITIVE) != 0);
        if (!f) continue;
        if (flags & (RE_EXACT | RE_EXACT_TOO))
            exact = Alternate(exact, f);
        else if (flags & RE_WORD)
            word = Alternate(word, f);
        else
            substring = Alternate(substring, f);
    }
    if (substring) substring = Concat(Concat(AnyStar(), substring), AnyStar());
    if (word) {
        TCharClass delimiters;
        delimiters.AddWordDelimiters();
        TFragment before = Option(Concat(AnyStar(), ClassNode(delimiters)));
        TFragment after = Option(Concat(ClassNode(delimiters), AnyStar()));
        word = Concat(Concat(before, word), after);
    }
    TFragment all = Alternate(substring, Alternate(word, exact));
    if (!all) {
        Release();  // the stars of empty patterns' lists, if any
        return;
    }
    TCharClass terminator;
    terminator.Add(0);
    TFragment end = ClassNode(terminator);
    AcceptNode = end.End;
    all = Concat(all, end);
    // The start node is entered freely, so a first node with a class is
    // entered by reading, like every other.
    StartNode = NewNode();
    Link(StartNode, all.Start);

    // Each node is pushed at most once per step, so the stacks never
    // need more than one slot a node.
    S.Reserve(Nodes.size());
    T.Reserve(Nodes.size());
    if (Buckets.empty()) Buckets.assign(64, nullptr);
    Kernel.assign(1, StartNode->Index);
    Start = StateForKernel();
    ZV_CHECK(Start != nullptr);
}

// ---- stepping ----

void TReStringManager::NextStep() {
    if (++Step == 0) {
        for (TRenode* node : Nodes) node->Mark = 0;
        Step = 1;
    }
}

void TReStringManager::Closure() {
    while (!T.IsEmpty()) {
        TRenode* node = T.Pop();
        S.Push(node);
        for (TRenode* next : node->Out)
            if (next && next->Empty && next->Mark != Step) {
                next->Mark = Step;
                T.Push(next);
            }
    }
}

void TReStringManager::Expand(const uint32_t* nodes, size_t count) {
    NextStep();
    S.Clear();
    T.Clear();
    for (size_t i = 0; i < count; ++i) {
        TRenode* node = Nodes[nodes[i]];
        node->Mark = Step;
        T.Push(node);
    }
    Closure();
}

void TReStringManager::Move(unsigned char c) {
    NextStep();
    Kernel.clear();
    for (size_t i = S.Size(); i-- > 0;) {
        for (TRenode* next : S.At(i)->Out)
            if (next && !next->Empty && next->Mark != Step && next->Class.Has(c)) {
                next->Mark = Step;
                Kernel.push_back(next->Index);
            }
    }
    std::sort(Kernel.begin(), Kernel.end());
}

TReStateSet* TReStringManager::Compute(const TReStateSet* from, unsigned char c) {
    Expand(Arena.data() + from->NodeOffset, from->NodeCount);
    Move(c);
    if (c == 0) return AcceptNode->Mark == Step ? &Accept : Pool.RejectState();
    // No node left: no later character can lead to the accept node.
    if (Kernel.empty()) return Pool.RejectState();
    return StateForKernel();
}

namespace {

uint64_t HashNodes(const std::vector<uint32_t>& nodes) {
    uint64_t h = 0x9e3779b97f4a7c15ull ^ nodes.size();
    for (uint32_t n : nodes) {
        h ^= n;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    return h;
}

}  // namespace

TReStateSet* TReStringManager::StateForKernel() {
    const uint64_t hash = HashNodes(Kernel);
    const size_t mask = Buckets.size() - 1;
    for (TReStateSet* s = Buckets[hash & mask]; s; s = s->HashNext)
        if (s->Hash == hash && s->NodeCount == Kernel.size() &&
            std::equal(Kernel.begin(), Kernel.end(), Arena.begin() + s->NodeOffset))
            return s;

    // The start state is always kept.
    if (NumStates > 0 &&
        CacheBytes() + Kernel.size() * sizeof(uint32_t) + sizeof(TReStateSet) > CacheBytesMax) {
        OverBudget = true;
        return nullptr;
    }
    TReStateSet* s = Pool.TakeState();
    s->Terminal = false;
    s->Accepted = false;
    std::fill(std::begin(s->Next), std::end(s->Next), nullptr);
    s->NodeOffset = Arena.size();
    s->NodeCount = static_cast<uint32_t>(Kernel.size());
    s->Hash = hash;
    Arena.insert(Arena.end(), Kernel.begin(), Kernel.end());
    s->HashNext = Buckets[hash & mask];
    Buckets[hash & mask] = s;
    s->ListNext = States;
    States = s;
    ++NumStates;

    if (NumStates > Buckets.size()) {
        std::vector<TReStateSet*> grown(Buckets.size() * 2, nullptr);
        const size_t m = grown.size() - 1;
        for (TReStateSet* t = States; t; t = t->ListNext) {
            t->HashNext = grown[t->Hash & m];
            grown[t->Hash & m] = t;
        }
        Buckets.swap(grown);
    }
    return s;
}

bool TReStringManager::MatchUncached(std::string_view rest) {
    std::vector<uint32_t> current;
    for (size_t i = 0;; ++i) {
        const auto c = static_cast<unsigned char>(i < rest.size() ? rest[i] : 0);
        current.swap(Kernel);
        Expand(current.data(), current.size());
        Move(c);
        if (c == 0) return AcceptNode->Mark == Step;
        if (Kernel.empty()) return false;
    }
}

bool TReStringManager::MatchOnce(std::string_view text) {
    if (Stale || NumStates > Threshold || OverBudget) Build();
    if (!Start) return false;
    TReStateSet* state = Start;
    const size_t n = text.size();
    for (size_t i = 0; i <= n; ++i) {
        const auto c = static_cast<unsigned char>(i < n ? text[i] : 0);
        TReStateSet* next = state->Next[c];
        if (!next) {
            next = Compute(state, c);
            if (!next) return MatchUncached(text.substr(i + 1));
            state->Next[c] = next;
        }
        if (next->Terminal) return next->Accepted;
        state = next;
    }
    return false;  // not reached: the terminating NUL always ends in a terminal state
}

bool TReStringManager::Match(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (text.empty() && MatchBlank()) return true;
    if ((ListFlags_ & RE_FILE_NAME_LIST) && text.find('.') == std::string_view::npos &&
        text.size() + 16 <= 255) {
        char withDot[256];
        std::memcpy(withDot, text.data(), text.size());
        withDot[text.size()] = '.';
        if (MatchOnce(std::string_view(withDot, text.size() + 1))) return true;
    }
    return MatchOnce(text);
}

bool TReStringManager::Match(const char* text) {
    if (!text) return MatchBlank();
    return Match(std::string_view(text));
}

}  // namespace zorvex
