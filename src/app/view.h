// The window side of the main object, as the engine sees it: the status and
// log lists, the hint line and message boxes. The desktop program implements
// it with widgets and dialogs; the headless program prints and answers every
// question with the safe choice.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "image/picture.h"
#include "select/lockout.h"

namespace zorvex {

struct THeader;

// Where a download run stands, after every socket message.
struct TProgress {
    const char* Group = "";
    long long Article = 0;  // the article being fetched, 0 when none
    int Lines = 0;          // its line count from the header, 0 when unknown
    int LinesReceived = 0;
    uint64_t BytesReceived = 0;  // since the program started
};

enum TBoxStyle { BOX_OK, BOX_OK_CANCEL, BOX_YES_NO, BOX_YES_NO_CANCEL };
enum TBoxAnswer { ANSWER_OK, ANSWER_CANCEL, ANSWER_YES, ANSWER_NO };

// The Lockout Current / Previous window: an article's fields, which of them
// to lock out (the poster is ticked at first) and whether only until exit.
struct TLockoutForm {
    TLockoutFields Fields;
    TLockoutChoice Choice;
    bool Temporary = false;
};

class TNewsView {
  public:
    virtual ~TNewsView() = default;
    // A line was appended to the status list; firstDropped when the list was
    // full and its first line went.
    virtual void StatusLineAdded(std::string_view line, bool firstDropped) = 0;
    virtual void LogLineAdded(std::string_view line, const THeader* header, bool firstDropped) = 0;
    // The hint line; empty clears it.
    virtual void ShowHint(std::string_view text) = 0;
    virtual TBoxAnswer MessageBox(std::string_view text, std::string_view caption,
                                  TBoxStyle style) = 0;
    // Asks for a line of text (at most maxLength characters); false when
    // the user cancels. A view that cannot ask cancels.
    virtual bool AskText(std::string_view title, std::string_view prompt, size_t maxLength,
                         std::string* answer) {
        (void)title, (void)prompt, (void)maxLength, (void)answer;
        return false;
    }
    // Shows the lockout window; true when the user pressed Ok (the form then
    // holds the user's choice). A view that cannot ask cancels.
    virtual bool EditLockoutForm(TLockoutForm& form) {
        (void)form;
        return false;
    }
    // The small status indicator ("DECD" while a file is being decoded);
    // empty clears it. A view without one ignores it.
    virtual void ShowIndicator(std::string_view text) { (void)text; }
    // An article starts (its number and line count from the header) or ends;
    // the view shows its progress from these and the engine's line count.
    virtual void ArticleStarted(long long number, int lines) { (void)number, (void)lines; }
    virtual void ArticleEnded() {}
    // The walk selected a group; its last article number on the server.
    virtual void GroupShown(std::string_view name, long long last) { (void)name, (void)last; }
    // Header loading expects this many lines (the progress bar's range).
    virtual void ExpectCount(long count) { (void)count; }
    virtual void Progress(const TProgress& progress) { (void)progress; }
    // The pane where a picture being received is shown: false without one
    // (then no picture is decoded for it).
    virtual bool PicturePane(int* width, int* height) {
        (void)width, (void)height;
        return false;
    }
    // The Current image slot's picture changed (more rows, or a new one).
    virtual void PictureChanged(const TPicture& picture) { (void)picture; }
    // A catalog page is being drawn ("Processing Catalog Images").
    virtual void CatalogPageStarted(std::string_view file) { (void)file; }
};

// The answer that never does anything the user did not ask for.
TBoxAnswer SafeAnswer(TBoxStyle style);

// Which line a list selects after a line was added: it follows new lines
// unless the user selected an older one. selected is -1 for none.
int FollowSelection(int selected, int countBefore, bool firstDropped);

// Shows nothing and answers every question with the safe choice: for batch
// work, measurements and fuzzing, where the lines are not read.
class TSilentView final : public TNewsView {
  public:
    void StatusLineAdded(std::string_view, bool) override {}
    void LogLineAdded(std::string_view, const THeader*, bool) override {}
    void ShowHint(std::string_view) override {}
    TBoxAnswer MessageBox(std::string_view, std::string_view, TBoxStyle style) override {
        return SafeAnswer(style);
    }
};

// Status lines as they are, log lines behind "log: ", message boxes as a
// status line "caption: text" answered with the safe choice; error boxes go
// to err. With a progress line (for a terminal), one live line at the
// bottom shows the group, the article and the transfer; it is cleared
// before every printed line and drawn again after it.
class THeadlessView : public TNewsView {
  public:
    explicit THeadlessView(FILE* out = stdout, FILE* err = stderr, bool progressLine = false)
        : Out(out), Err(err), ProgressLine(progressLine) {}
    void StatusLineAdded(std::string_view line, bool firstDropped) override;
    void LogLineAdded(std::string_view line, const THeader* header, bool firstDropped) override;
    void ShowHint(std::string_view) override {}
    TBoxAnswer MessageBox(std::string_view text, std::string_view caption,
                          TBoxStyle style) override;
    void GroupShown(std::string_view name, long long last) override;
    void Progress(const TProgress& progress) override;
    void CatalogPageStarted(std::string_view file) override;
    // Removes the progress line for good (at exit).
    void EndProgress();
    // The progress text for a moment, with the rate in bytes per second.
    static std::string ProgressText(const std::string& group, const TProgress& p,
                                    double bytesPerSecond);

  private:
    void Print(FILE* to, const char* prefix, std::string_view line);
    void ClearProgress();
    void DrawProgress();

    FILE* Out;
    FILE* Err;
    bool ProgressLine;
    bool ProgressShown = false;
    std::string Group;
    TProgress Last;
    uint64_t LastDrawMs = 0;
    uint64_t RateStartMs = 0;
    uint64_t RateStartBytes = 0;
    double Rate = 0;
};

}  // namespace zorvex
