// Any bytes as a [grouplist] section and as a server's group listing. The
// list loads without a crash and survives a save and a second load
// unchanged; the listing keeps only clean, distinct names, and the browse
// filter shows only names of the listing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "library/profile.h"
#include "nntp/grouplist.h"
#include "nntp/newsrc.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    zorvex::TProfile profile;
    profile.Parse("[grouplist]\n" + text);
    zorvex::TNewsStore first;
    zorvex::TGroupList list(first);
    list.Load(profile);

    zorvex::TProfile saved;
    list.WriteGroupList(saved);
    zorvex::TProfile reread;
    reread.Parse(saved.Serialize());
    zorvex::TNewsStore second;
    zorvex::TGroupList again(second);
    again.Load(reread);
    Check(first.GroupCount() == second.GroupCount());
    for (int i = 0; i < first.GroupCount(); ++i) {
        const zorvex::TNewsGroup* a = first.GetGroup(i);
        const zorvex::TNewsGroup* b = second.GetGroup(i);
        Check(std::strcmp(a->Name, b->Name) == 0);
        Check(a->Enabled == b->Enabled);
        Check(a->Pointer == b->Pointer && a->Pointer >= 0);
    }

    // A home directory that cannot exist: nothing is read or written.
    zorvex::TNewsrcList newsrc("/nonexistent/zorvex-fuzz", 4096);
    size_t start = 0;
    while (start <= size) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = size;
        newsrc.AddNewsrcLine(text.substr(start, end - start).c_str());
        start = end + 1;
    }
    std::set<std::string> names;
    for (const std::string& name : newsrc.Names()) {
        Check(!name.empty() && name.size() <= zorvex::NEWSRC_NAME_MAX);
        for (unsigned char c : name) Check(c >= 0x20 && c != 0x7f && c != ' ' && c != '\t');
        Check(names.insert(name).second);
    }
    zorvex::TBrowseBoxes boxes{size % 2 == 0, true, size % 3 == 0, true, false, true};
    std::string search = size > 2 ? text.substr(0, 2) : "";
    for (const std::string& shown : zorvex::BrowseAvailable(newsrc, first, {}, boxes, search))
        Check(names.count(shown) == 1);
    return 0;
}
