#include "library/strings.h"

#include <algorithm>
#include <iterator>

namespace zorvex {

namespace {

struct TStringResource {
    int Id;
    const char* Text;
};

// Sorted by number.
const TStringResource STRINGS[] = {
    {1102, "Open a connection and begin downloading"},
    {6000, "Background"},
    {6001, "Seen indicator"},
    {6002, "Unseen indicator"},
    {6003, "Reject indicator"},
    {6004, "Accept indicator"},
    {6005, "Message number"},
    {6006, "From field"},
    {6007, "Subject field"},
    {6010, "Lines"},
    {6011, "Date"},
    {6015, "Background"},
    {6016, "Age counter"},
    {6017, "Line count"},
    {6018, "From field"},
    {6019, "Filename/Subject field"},
    {7000, "Background (highlighted)"},
    {7001, "Seen indicator (highlighted)"},
    {7002, "Unseen indicator (highlighted)"},
    {7003, "Reject indicator (highlighted)"},
    {7004, "Accept indicator (highlighted)"},
    {7005, "Message number (highlighted)"},
    {7006, "From field (highlighted)"},
    {7007, "Subject field (highlighted)"},
    {7010, "Lines (highlighted)"},
    {7011, "Date (highlighted)"},
    {7015, "Background (highlighted)"},
    {7016, "Age counter (highlighted)"},
    {7017, "Line count (highlighted)"},
    {7018, "From field (highlighted)"},
    {7019, "Filename/Subject field (highlighted)"},
    {8001, "Error!"},
    {8002, "That file was not properly received!"},
    {8005, "Please select a newsgroup in the group list first!"},
    {8007, "Group switch will take place as soon as current action has completed."},
    {8008, "Group switch confirmed"},
    {8009, "previous file incomplete"},
    {8010, "Unable to parse filename!"},
    {8011, "Decoding initialization failed!"},
    {8012, "Invalid Download Path"},
    {9004, "Autostart in progress"},
    {9005, "Press <Connect> to begin downloading."},
    {9014, "Finished all groups..."},
    {9015, "Executing Automatic Exit..."},
    {9016, "Autosave: Pointers"},
    {9017, "Autosave: Everything"},
    {9020, "Executing Automatic Catalog All Groups..."},
    {9021, "Executing Automatic Restart"},
};

}  // namespace

const char* LoadStringResource(int id) {
    auto it = std::lower_bound(std::begin(STRINGS), std::end(STRINGS), id,
                               [](const TStringResource& s, int n) { return s.Id < n; });
    return it != std::end(STRINGS) && it->Id == id ? it->Text : nullptr;
}

}  // namespace zorvex
