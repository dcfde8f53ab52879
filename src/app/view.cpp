#include "app/view.h"

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

void THeadlessView::StatusLineAdded(std::string_view line, bool) {
    fprintf(Out, "%.*s\n", static_cast<int>(line.size()), line.data());
    fflush(Out);
}

void THeadlessView::LogLineAdded(std::string_view line, const THeader*, bool) {
    fprintf(Out, "log: %.*s\n", static_cast<int>(line.size()), line.data());
    fflush(Out);
}

TBoxAnswer THeadlessView::MessageBox(std::string_view text, std::string_view caption,
                                     TBoxStyle style) {
    fprintf(Out, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
            static_cast<int>(text.size()), text.data());
    fflush(Out);
    return SafeAnswer(style);
}

}  // namespace zorvex
