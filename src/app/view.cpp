#include "app/view.h"

#include <string>

namespace zorvex {

TBoxAnswer SafeAnswer(TBoxStyle style) {
    switch (style) {
        case BOX_OK:
            return ANSWER_OK;
        case BOX_OK_CANCEL:
        case BOX_YES_NO_CANCEL:
            return ANSWER_CANCEL;
        case BOX_YES_NO:
            return ANSWER_NO;
    }
    return ANSWER_CANCEL;
}

int FollowSelection(int selected, int countBefore, bool firstDropped) {
    int count = countBefore + 1 - (firstDropped ? 1 : 0);
    // Removing the first line moves the selection with its line.
    if (selected >= 0 && firstDropped) selected = selected == 0 ? -1 : selected - 1;
    if (selected < 0 || selected == count - 2) return count - 1;
    return selected;
}

namespace {

// Lines carry subjects and names from articles: a control character there
// must never reach the terminal as an escape sequence.
void PrintLine(FILE* out, const char* prefix, std::string_view line) {
    std::string shown(line);
    for (char& c : shown) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    fprintf(out, "%s%s\n", prefix, shown.c_str());
    fflush(out);
}

}  // namespace

void THeadlessView::StatusLineAdded(std::string_view line, bool) {
    PrintLine(Out, "", line);
}

void THeadlessView::LogLineAdded(std::string_view line, const THeader*, bool) {
    PrintLine(Out, "log: ", line);
}

TBoxAnswer THeadlessView::MessageBox(std::string_view text, std::string_view caption,
                                     TBoxStyle style) {
    PrintLine(Out, "", std::string(caption) + ": " + std::string(text));
    return SafeAnswer(style);
}

}  // namespace zorvex
