#include "app/view.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "library/ascii.h"

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

uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Lines carry subjects and names from articles: a control character there
// must never reach the terminal as an escape sequence.
std::string Printable(std::string_view line) {
    std::string shown(line);
    for (char& c : shown) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    return shown;
}

bool IsErrorCaption(std::string_view caption) {
    auto startsWith = [caption](std::string_view word) {
        return caption.size() >= word.size() &&
               EqualsIgnoringCase(caption.substr(0, word.size()), word);
    };
    return startsWith("error") || startsWith("PlugIn Error");
}

constexpr uint64_t PROGRESS_DRAW_MS = 100;
constexpr uint64_t RATE_WINDOW_MS = 2000;

}  // namespace

void THeadlessView::Print(FILE* to, const char* prefix, std::string_view line) {
    ClearProgress();
    fprintf(to, "%s%s\n", prefix, Printable(line).c_str());
    fflush(to);
    DrawProgress();
}

void THeadlessView::StatusLineAdded(std::string_view line, bool) {
    Print(Out, "", line);
}

void THeadlessView::LogLineAdded(std::string_view line, const THeader*, bool) {
    Print(Out, "log: ", line);
}

TBoxAnswer THeadlessView::MessageBox(std::string_view text, std::string_view caption,
                                     TBoxStyle style) {
    Print(IsErrorCaption(caption) ? Err : Out, "", std::string(caption) + ": " + std::string(text));
    return SafeAnswer(style);
}

void THeadlessView::CatalogPageStarted(std::string_view file) {
    Print(Out, "Processing Catalog Images: ", file);
}

void THeadlessView::GroupShown(std::string_view name, long long) {
    Group = Printable(name);
}

std::string THeadlessView::ProgressText(const std::string& group, const TProgress& p,
                                        double bytesPerSecond) {
    char text[512];
    int n;
    if (p.Article > 0 && p.Lines > 0) {
        int percent = static_cast<int>(100.0 * p.LinesReceived / p.Lines);
        n = snprintf(text, sizeof text, "%s #%lld %d%%", group.c_str(), p.Article,
                     percent > 100 ? 100 : percent);
    } else if (p.Article > 0) {
        n = snprintf(text, sizeof text, "%s #%lld", group.c_str(), p.Article);
    } else {
        n = snprintf(text, sizeof text, "%s", group.c_str());
    }
    std::string line(text, n > 0 ? std::min<size_t>(static_cast<size_t>(n), sizeof text - 1) : 0);
    snprintf(text, sizeof text, " | %.1f MB received | %.2f MB/s",
             static_cast<double>(p.BytesReceived) / 1e6, bytesPerSecond / 1e6);
    return line + text;
}

void THeadlessView::Progress(const TProgress& progress) {
    if (!ProgressLine) return;
    uint64_t now = NowMs();
    if (RateStartMs == 0) {
        RateStartMs = now;
        RateStartBytes = progress.BytesReceived;
    } else if (now - RateStartMs >= RATE_WINDOW_MS) {
        Rate = static_cast<double>(progress.BytesReceived - RateStartBytes) * 1000.0 /
               static_cast<double>(now - RateStartMs);
        RateStartMs = now;
        RateStartBytes = progress.BytesReceived;
    }
    Last = progress;
    if (now - LastDrawMs < PROGRESS_DRAW_MS) return;
    LastDrawMs = now;
    ClearProgress();
    DrawProgress();
}

void THeadlessView::ClearProgress() {
    if (!ProgressShown) return;
    fputs("\r\033[K", Out);
    ProgressShown = false;
}

void THeadlessView::DrawProgress() {
    if (!ProgressLine || LastDrawMs == 0) return;
    std::string text = ProgressText(Group, Last, Rate);
    // One terminal line, never wrapped: a wrapped line could not be cleared.
    if (text.size() > 78) text.resize(78);
    fputs(text.c_str(), Out);
    fflush(Out);
    ProgressShown = true;
}

void THeadlessView::EndProgress() {
    ClearProgress();
    fflush(Out);
    ProgressLine = false;
}

}  // namespace zorvex
