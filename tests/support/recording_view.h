// A view that keeps every status line, log line and message box
// ("caption: text"), answering boxes from a script and then with the safe
// answer. The window's lists drop their oldest lines; this one never does.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/view.h"

namespace zorvex::test {

class TRecordingView : public TNewsView {
  public:
    std::vector<std::string> Status, Logged, Boxes;
    std::deque<TBoxAnswer> Answers;
    // Called with each status line as it is added.
    std::function<void(const std::string&)> OnStatus;
    // Answers text questions in turn, then cancels; each question is kept
    // as "title: prompt".
    std::deque<std::string> TextAnswers;
    std::vector<std::string> Questions;
    // Fills the lockout window and answers Ok; unset, the window cancels.
    std::function<void(TLockoutForm&)> OnLockoutForm;
    std::vector<TLockoutForm> LockoutForms;  // as the engine filled them
    // A picture pane of this size when both are set; none otherwise.
    int PaneWidth = 0, PaneHeight = 0;
    int PictureChanges = 0;
    std::vector<std::string> CatalogPages;  // as they were begun

    void StatusLineAdded(std::string_view line, bool) override {
        Status.emplace_back(line);
        if (OnStatus) OnStatus(Status.back());
    }
    void LogLineAdded(std::string_view line, const THeader*, bool) override {
        Logged.emplace_back(line);
    }
    void ShowHint(std::string_view) override {}
    TBoxAnswer MessageBox(std::string_view text, std::string_view caption,
                          TBoxStyle style) override {
        Boxes.push_back(std::string(caption) + ": " + std::string(text));
        if (Answers.empty()) return SafeAnswer(style);
        TBoxAnswer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    bool AskText(std::string_view title, std::string_view prompt, size_t,
                 std::string* answer) override {
        Questions.push_back(std::string(title) + ": " + std::string(prompt));
        if (TextAnswers.empty()) return false;
        *answer = TextAnswers.front();
        TextAnswers.pop_front();
        return true;
    }
    bool PicturePane(int* width, int* height) override {
        *width = PaneWidth;
        *height = PaneHeight;
        return PaneWidth > 0 && PaneHeight > 0;
    }
    void PictureChanged(const TPicture&) override { ++PictureChanges; }
    void CatalogPageStarted(std::string_view file) override { CatalogPages.emplace_back(file); }
    bool EditLockoutForm(TLockoutForm& form) override {
        LockoutForms.push_back(form);
        if (!OnLockoutForm) return false;
        OnLockoutForm(form);
        return true;
    }
    int Count(const std::string& line) const {
        return static_cast<int>(std::count(Status.begin(), Status.end(), line));
    }
    bool Has(const std::string& line) const { return Count(line) > 0; }
};

}  // namespace zorvex::test
