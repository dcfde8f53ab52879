// Any bytes as lockout.lst, with Lockout Current fields cut from them, into
// a store of a few groups. Loading never crashes; the saved file read back
// saves to the same bytes (a fixed point) and matches as the lists it came
// from did. A saved line past the line limit is cut when read back: then
// the file of the next round is the fixed point.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nntp/newsstore.h"
#include "select/lockout.h"

namespace {

using zorvex::TLockoutLists;
using zorvex::TNewsGroup;
using zorvex::TNewsStore;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// Lists of their own on a store of their own: lists on one store share the
// group records' slots. The stores are made once (they are large to make);
// the lists' loads and their end clear the slots.
struct TSet {
    TNewsStore& Store;
    TLockoutLists Lists{Store};
    explicit TSet(TNewsStore& store) : Store(store) {}
};

TNewsStore& MakeStore() {
    auto* store = new TNewsStore;
    for (const char* name : {"alt.test", "alt.binaries.pics", "comp.misc"}) store->AddGroup(name);
    return *store;
}

bool HasLongLine(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (end - start > zorvex::LOCKOUT_LINE_MAX) return true;
        start = end + 1;
    }
    return false;
}

bool HasTemporary(TLockoutLists& lists) {
    for (int kind : zorvex::kLockoutKinds)
        for (const zorvex::TLockoutEntry& e : lists.Entries(kind))
            if (e.Flags & zorvex::RE_TEMPORARY) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto slice = [&text](size_t from, size_t length) {
        return from < text.size() ? text.substr(from, length) : std::string_view{};
    };

    static TNewsStore& storeA = MakeStore();
    static TNewsStore& storeB = MakeStore();
    static TNewsStore& storeC = MakeStore();
    TSet a(storeA);
    a.Lists.LoadFromText(text);
    if (size > 0) {
        const uint8_t choice = data[0];
        const zorvex::TLockoutFields fields =
            zorvex::LockoutFieldsFrom(slice(1, 40), slice(41, 300), slice(341, 20), slice(361, 30));
        a.Lists.AddLockouts(
            fields, {(choice & 1) != 0, (choice & 2) != 0, (choice & 4) != 0, (choice & 8) != 0},
            false);
    }
    const std::string first = a.Lists.SaveToText();

    TSet b(storeB);
    b.Lists.LoadFromText(first);
    const std::string second = b.Lists.SaveToText();
    const bool cut = HasLongLine(first);
    if (!cut) {
        Check(second == first);
    } else {
        Check(!HasLongLine(second));
        TSet c(storeC);
        c.Lists.LoadFromText(second);
        Check(c.Lists.SaveToText() == second);
    }

    const std::vector<std::string_view> texts = {
        "", "x", "spam", "a.exe", "movie", slice(0, 8), slice(3, 24), slice(10, 200),
    };
    const bool same = !cut && !HasTemporary(a.Lists);
    for (int kind = 0; kind <= 9; ++kind) {
        for (std::string_view t : texts) {
            for (int i = -2; i < 3; ++i) {
                TNewsGroup* ga = i == -2   ? nullptr
                                 : i == -1 ? &a.Store.AllGroup()
                                           : a.Store.GetGroup(i);
                TNewsGroup* gb = i == -2   ? nullptr
                                 : i == -1 ? &b.Store.AllGroup()
                                           : b.Store.GetGroup(i);
                const bool hitA = a.Lists.Matches(ga, kind, t);
                const bool hitB = b.Lists.Matches(gb, kind, t);
                if (same) Check(hitA == hitB);
            }
            const auto answers = b.Lists.TestString(kind, t);
            Check(!answers.empty());
        }
    }
    return 0;
}
