// pluginlist: the names of the plug-in libraries in [plugins] (count,
// dllname0, dllname1, ...), and the rules of editing them. A change takes
// effect at the next start: the libraries are loaded only then.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zorvex {

class TProfile;

constexpr size_t MAX_PLUGINS = 20;
constexpr size_t PLUGIN_NAME_MAX = 255;

constexpr const char* PLUGIN_ADD_PROMPT = "Name of Plugin DLL:";
constexpr const char* PLUGIN_LIST_FULL =
    "You have reached the maximum number of PlugIns that Zorvex supports";
constexpr const char* PLUGIN_NEXT_START =
    "The plugin will not take effect until the next time you load Vantrel";
constexpr const char* PLUGIN_SELECT_FIRST = "Please select an item in the listbox first";

enum class TPlugInEdit { DONE, LIST_FULL, NO_NAME, NO_SELECTION };

class TPlugInList {
  public:
    // count names (at most MAX_PLUGINS), each cut to PLUGIN_NAME_MAX
    // characters; an empty one keeps its slot and is not loaded.
    void Read(const TProfile& profile);
    // Writes the list once it was edited since it was read; until then a
    // section the user keeps by hand is left as it is.
    void Write(TProfile& profile);

    const std::vector<std::string>& Names() const { return List; }
    TPlugInEdit Add(const std::string& name);
    // index into Names(); -1 when nothing is selected.
    TPlugInEdit Remove(int index);
    bool Edited() const { return Changed; }

  private:
    std::vector<std::string> List;
    bool Changed = false;
};

}  // namespace zorvex
