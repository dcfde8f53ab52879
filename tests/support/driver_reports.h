// Reports for the article-to-file driver outside the program: one that
// keeps everything the driver says, for the tests, and one that drops it,
// for the fuzz harness and the benchmarks.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/driver.h"

namespace zorvex::test {

// Status lines; log lines (finished files and "[MIME]" lines) as the log
// list gets them; a finished file's daily-log detail lines; the indicator
// and the count of article starts and ends. Nothing is cut or dropped.
class TRecordingReport : public TDriverReport {
  public:
    std::vector<std::string> Status, Logged, Details;
    std::string Indicator;
    int Started = 0, Ended = 0;

    void StatusLine(std::string_view line) override { Status.emplace_back(line); }
    void FileFinished(const TCurrentFile&, std::string_view line,
                      std::span<const std::string> details) override {
        Logged.emplace_back(line);
        Details.insert(Details.end(), details.begin(), details.end());
    }
    void MimeLine(std::string_view line) override { Logged.emplace_back(line); }
    void UnsavedPost(const THeader*, std::string_view line) override {
        Logged.emplace_back(line);
    }
    void ArticleStarted(long long, int) override { ++Started; }
    void ArticleEnded() override { ++Ended; }
    void ShowIndicator(std::string_view text) override { Indicator = text; }
};

class TSilentReport final : public TDriverReport {
  public:
    void StatusLine(std::string_view) override {}
    void FileFinished(const TCurrentFile&, std::string_view,
                      std::span<const std::string>) override {}
    void MimeLine(std::string_view) override {}
    void UnsavedPost(const THeader*, std::string_view) override {}
    void ArticleStarted(long long, int) override {}
    void ArticleEnded() override {}
    void ShowIndicator(std::string_view) override {}
};

}  // namespace zorvex::test
