#include "select/strfsm.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "library/check.h"

namespace zorvex {

namespace {

constexpr uint32_t NO_INDEX = 0xffffffffu;
// Runs longer than this are split by byte class: the leading stars of a
// long list follow into every pattern's first node.
constexpr uint32_t INDEXED_RUN_MIN = 32;

}  // namespace

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
    StartRow = UNKNOWN;
    StartNode = nullptr;
    AcceptNode = nullptr;
    // Cleared, not freed: a rebuild reuses the room.
    Follows.clear();
    ClassStarts.clear();
    ClassFollows.clear();
    Arena.clear();
    Table.clear();
    ById.clear();
    std::fill(Buckets.begin(), Buckets.end(), nullptr);
}

size_t TReStringManager::CacheBytes() const {
    return (Arena.size() + Table.size()) * sizeof(uint32_t) + NumStates * sizeof(TReStateSet);
}

// ---- compiling ----

TRenode* TReStringManager::NewNode() {
    TRenode* node = Pool.TakeNode();
    node->Out[0] = node->Out[1] = nullptr;
    node->Class = TCharClass{};
    node->Empty = true;
    node->Sure = false;
    node->Mark = 0;
    node->Index = static_cast<uint32_t>(Nodes.size());
    node->FollowOffset = node->FollowCount = 0;
    node->IndexOffset = NO_INDEX;
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
    // An option whose end leads back to its start.
    TFragment star = Option(f);
    Link(star.End, star.Start);
    return star;
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

TReStringManager::TFragment TReStringManager::AlternateAll(std::vector<TFragment>& fragments) {
    if (fragments.empty()) return {};
    while (fragments.size() > 1) {
        size_t kept = 0;
        for (size_t i = 0; i < fragments.size(); i += 2)
            fragments[kept++] =
                i + 1 < fragments.size() ? Alternate(fragments[i], fragments[i + 1]) : fragments[i];
        fragments.resize(kept);
    }
    return fragments[0];
}

TReStringManager::TFragment TReStringManager::AnyStar() {
    return Star(ClassNode(AnyCharacter()));
}

TReStringManager::TFragment TReStringManager::CompilePattern(std::string_view pattern,
                                                             bool caseSensitive) {
    TFragment result;
    for (size_t i = 0; i < pattern.size(); ++i) {
        auto c = static_cast<unsigned char>(pattern[i]);
        TFragment piece;
        if (c == '*') {
            piece = AnyStar();
        } else if (c == '?') {
            piece = ClassNode(AnyCharacter());
        } else {
            // A '\' at the very end stands for itself.
            if (c == '\\' && i + 1 < pattern.size()) c = static_cast<unsigned char>(pattern[++i]);
            TCharClass literal;
            literal.AddLiteral(c, !caseSensitive);
            piece = ClassNode(literal);
        }
        result = Concat(result, piece);
    }
    return result;
}

namespace {

// How a pattern's ends are tied to the text: to its ends, to word
// boundaries (the text's ends or a delimiter), or to nothing.
enum TEdge { EDGE_TEXT, EDGE_WORD, EDGE_ANYWHERE, EDGE_KINDS };

// The entry flags give both ends; wildcard stars at an end free that end
// and are dropped ("*.exe" as a word is ".exe" ending at a boundary, "*abc*"
// exact is "abc" anywhere). Dropped, they do not stay in every state of
// the automaton. A pattern of stars alone is left as it is.
void PatternEdges(uint32_t flags, std::string_view* pattern, TEdge* left, TEdge* right) {
    const TEdge edge = (flags & (RE_EXACT | RE_EXACT_TOO)) ? EDGE_TEXT
                       : (flags & RE_WORD)                 ? EDGE_WORD
                                                           : EDGE_ANYWHERE;
    *left = *right = edge;
    // The first and last character that are not wildcard stars, seen
    // through the escapes.
    size_t first = std::string_view::npos, end = 0;
    for (size_t i = 0; i < pattern->size(); ++i) {
        if ((*pattern)[i] == '*') continue;
        if (first == std::string_view::npos) first = i;
        if ((*pattern)[i] == '\\' && i + 1 < pattern->size()) ++i;
        end = i + 1;
    }
    if (first == std::string_view::npos) return;
    if (first > 0) *left = EDGE_ANYWHERE;
    if (end < pattern->size()) *right = EDGE_ANYWHERE;
    *pattern = pattern->substr(first, end - first);
}

}  // namespace

void TReStringManager::SplitByteClasses() {
    std::vector<const TCharClass*> classes;
    for (const TRenode* node : Nodes)
        if (!node->Empty) classes.push_back(&node->Class);
    auto less = [](const TCharClass* a, const TCharClass* b) {
        return std::memcmp(a, b, sizeof(TCharClass)) < 0;
    };
    std::sort(classes.begin(), classes.end(), less);
    ClassOf.fill(0);
    uint32_t count = 1;
    for (size_t i = 0; i < classes.size(); ++i) {
        if (i > 0 && !less(classes[i - 1], classes[i])) continue;  // the same class again
        // Each byte class splits into its bytes inside and outside this one.
        std::array<int16_t, 512> renumber;
        renumber.fill(-1);
        count = 0;
        for (int c = 0; c < 256; ++c) {
            const int key = ClassOf[c] * 2 + classes[i]->Has(static_cast<unsigned char>(c));
            if (renumber[key] < 0) renumber[key] = static_cast<int16_t>(count++);
            ClassOf[c] = static_cast<uint8_t>(renumber[key]);
        }
    }
    NumClasses = count;
    for (int c = 255; c >= 0; --c) Representative[ClassOf[c]] = static_cast<uint8_t>(c);
}

void TReStringManager::BuildFollows() {
    T.Reserve(Nodes.size());
    for (TRenode* node : Nodes) {
        if (node->Empty && node != StartNode) continue;
        NextStep();
        node->FollowOffset = static_cast<uint32_t>(Follows.size());
        T.Clear();
        T.Push(node);
        while (!T.IsEmpty()) {
            const TRenode* from = T.Pop();
            for (TRenode* next : from->Out) {
                if (!next || next->Mark == Step) continue;
                next->Mark = Step;
                if (next->Empty)
                    T.Push(next);
                else
                    Follows.push_back(next->Index);
            }
        }
        node->FollowCount = static_cast<uint32_t>(Follows.size()) - node->FollowOffset;
    }
    for (TRenode* node : Nodes) {
        if (node->FollowCount < INDEXED_RUN_MIN) continue;
        node->IndexOffset = static_cast<uint32_t>(ClassStarts.size());
        const uint32_t* run = Follows.data() + node->FollowOffset;
        for (uint32_t k = 0; k < NumClasses; ++k) {
            ClassStarts.push_back(static_cast<uint32_t>(ClassFollows.size()));
            for (uint32_t j = 0; j < node->FollowCount; ++j)
                if (Nodes[run[j]]->Class.Has(Representative[k])) ClassFollows.push_back(run[j]);
        }
        ClassStarts.push_back(static_cast<uint32_t>(ClassFollows.size()));
    }
    // A node with every byte in its class that follows itself and may end
    // the text: whatever comes next, the text is accepted.
    for (TRenode* node : Nodes) {
        if (node->Empty || !node->Class.IsFull()) continue;
        const uint32_t* run = Follows.data() + node->FollowOffset;
        const uint32_t* end = run + node->FollowCount;
        node->Sure = std::find(run, end, node->Index) != end &&
                     std::find(run, end, AcceptNode->Index) != end;
    }
}

void TReStringManager::Build() {
    ++Builds;
    Release();
    Stale = false;
    OverBudget = false;

    std::vector<TFragment> groups[EDGE_KINDS][EDGE_KINDS];
    for (TStringEntry* e = First(); e; e = e->IterNext) {
        const uint32_t flags = e->Flags;
        if (flags & RE_OTHER_SYNTAX) continue;
        std::string_view pattern = e->Text;
        TEdge left, right;
        PatternEdges(flags, &pattern, &left, &right);
        TFragment f = CompilePattern(pattern, (flags & RE_CASE_SENSITIVE) != 0);
        if (f) groups[left][right].push_back(f);
    }
    // Each group with the same ends gets them once.
    TCharClass delimiters;
    delimiters.AddWordDelimiters();
    TFragment all;
    for (int left = 0; left < EDGE_KINDS; ++left)
        for (int right = 0; right < EDGE_KINDS; ++right) {
            TFragment group = AlternateAll(groups[left][right]);
            if (!group) continue;
            if (left == EDGE_ANYWHERE) group = Concat(AnyStar(), group);
            if (left == EDGE_WORD)
                group = Concat(Option(Concat(AnyStar(), ClassNode(delimiters))), group);
            if (right == EDGE_ANYWHERE) group = Concat(group, AnyStar());
            if (right == EDGE_WORD)
                group = Concat(group, Option(Concat(ClassNode(delimiters), AnyStar())));
            all = Alternate(all, group);
        }
    if (!all) return;
    TCharClass terminator;
    terminator.Add(0);
    TFragment end = ClassNode(terminator);
    AcceptNode = end.End;
    all = Concat(all, end);
    // The start node is entered freely, so a first node with a class is
    // entered by reading, like every other.
    StartNode = NewNode();
    Link(StartNode, all.Start);

    SplitByteClasses();
    BuildFollows();
    if (Buckets.empty()) Buckets.assign(64, nullptr);
    Kernel.assign(1, StartNode->Index);
    StartRow = StateForKernel();
    ZV_CHECK(StartRow != UNKNOWN);
}

// ---- stepping ----

void TReStringManager::NextStep() {
    if (++Step == 0) {
        for (TRenode* node : Nodes) node->Mark = 0;
        Step = 1;
    }
}

TReStringManager::TStep TReStringManager::StepNodes(const uint32_t* nodes, size_t count,
                                                    uint8_t k) {
    const unsigned char c = Representative[k];
    NextStep();
    Kernel.clear();
    bool sure = false;
    for (size_t i = 0; i < count; ++i) {
        const TRenode* from = Nodes[nodes[i]];
        const uint32_t* run;
        uint32_t length;
        if (from->IndexOffset == NO_INDEX) {
            run = Follows.data() + from->FollowOffset;
            length = from->FollowCount;
        } else {
            const uint32_t* starts = ClassStarts.data() + from->IndexOffset + k;
            run = ClassFollows.data() + starts[0];
            length = starts[1] - starts[0];
        }
        for (uint32_t j = 0; j < length; ++j) {
            TRenode* next = Nodes[run[j]];
            if (next->Mark == Step || !next->Class.Has(c)) continue;
            next->Mark = Step;
            sure |= next->Sure;
            Kernel.push_back(run[j]);
        }
    }
    if (c == 0) return AcceptNode->Mark == Step ? TStep::Accept : TStep::Reject;
    if (sure) return TStep::Accept;
    // No node left: no later character can lead to the end.
    if (Kernel.empty()) return TStep::Reject;
    std::sort(Kernel.begin(), Kernel.end());
    return TStep::Continue;
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

uint32_t TReStringManager::StateForKernel() {
    const uint64_t hash = HashNodes(Kernel);
    const size_t mask = Buckets.size() - 1;
    for (TReStateSet* s = Buckets[hash & mask]; s; s = s->HashNext)
        if (s->Hash == hash && s->NodeCount == Kernel.size() &&
            std::equal(Kernel.begin(), Kernel.end(), Arena.begin() + s->NodeOffset))
            return s->Row;

    // The start state is always kept.
    const size_t added = (Kernel.size() + NumClasses) * sizeof(uint32_t) + sizeof(TReStateSet);
    if (NumStates > 0 && CacheBytes() + added > CacheBytesMax) {
        OverBudget = true;
        return UNKNOWN;
    }
    TReStateSet* s = Pool.TakeState();
    s->Row = static_cast<uint32_t>(Table.size());
    Table.insert(Table.end(), NumClasses, UNKNOWN);
    s->NodeOffset = Arena.size();
    s->NodeCount = static_cast<uint32_t>(Kernel.size());
    s->Hash = hash;
    Arena.insert(Arena.end(), Kernel.begin(), Kernel.end());
    s->HashNext = Buckets[hash & mask];
    Buckets[hash & mask] = s;
    s->ListNext = States;
    States = s;
    ById.push_back(s);
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
    return s->Row;
}

uint32_t TReStringManager::Compute(uint32_t row, uint8_t k) {
    const TReStateSet* from = ById[row / NumClasses];
    uint32_t next;
    switch (StepNodes(Arena.data() + from->NodeOffset, from->NodeCount, k)) {
        case TStep::Accept:
            next = ACCEPT;
            break;
        case TStep::Reject:
            next = REJECT;
            break;
        default:
            next = StateForKernel();
            if (next == UNKNOWN) return UNKNOWN;
    }
    Table[row + k] = next;
    return next;
}

bool TReStringManager::MatchUncached(std::string_view rest) {
    std::vector<uint32_t> current;
    for (size_t i = 0;; ++i) {
        const auto c = static_cast<unsigned char>(i < rest.size() ? rest[i] : 0);
        current.swap(Kernel);
        TStep step = StepNodes(current.data(), current.size(), ClassOf[c]);
        if (step != TStep::Continue) return step == TStep::Accept;
    }
}

bool TReStringManager::MatchOnce(std::string_view text) {
    if (Stale || NumStates > Threshold || OverBudget) Build();
    if (StartRow == UNKNOWN) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    uint32_t row = StartRow;
    // The text, then its terminating NUL, which always decides.
    for (size_t i = 0; i <= n; ++i) {
        const uint8_t k = ClassOf[i < n ? bytes[i] : 0];
        uint32_t next = Table[row + k];
        if (next == UNKNOWN) {
            next = Compute(row, k);
            if (next == UNKNOWN) return MatchUncached(text.substr(i + 1));
        }
        if (next >= DECIDED) return next == ACCEPT;
        row = next;
    }
    return false;  // not reached
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
