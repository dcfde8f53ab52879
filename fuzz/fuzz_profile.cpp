// Any bytes as a settings file: parsing, reading every kind of value and
// editing must never crash, and a saved file must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "library/profile.h"
#include "plugin/pluginlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    zorvex::TProfile p;
    p.Parse(text);
    p.GetInt("misc", "xover", 3);
    zorvex::TSettingsStore::ReadSigned(p, "color", "0", -1);
    zorvex::ReadNumberedList(p, "filemask");
    zorvex::ReadLogFont(p, "font_header", zorvex::TLogFont{});
    p.Set("misc", "xover", "1");
    p.Set("fuzz section", "added", "value");
    p.Delete("filemask", "0");

    // The plug-in names written back after an edit read back the same.
    zorvex::TPlugInList plugIns;
    plugIns.Read(p);
    if (plugIns.Names().size() > zorvex::MAX_PLUGINS) abort();
    plugIns.Add("added.so");
    plugIns.Write(p);
    zorvex::TPlugInList back;
    back.Read(p);
    if (back.Names() != plugIns.Names()) abort();

    std::string once = p.Serialize();
    zorvex::TProfile again;
    again.Parse(once);
    if (again.Get("misc", "xover").value_or("") != "1") abort();
    if (again.Get("fuzz section", "added").value_or("") != "value") abort();
    if (again.Serialize() != once) abort();
    return 0;
}
