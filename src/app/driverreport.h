// driverreport: the article-to-file driver as the program runs it. Its
// options are read from the settings store, and what it reports goes to the
// status list, the log (list, daily file or coordinator) and the window.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "decode/driver.h"

namespace zorvex {

class TSettingsStore;
class TStatusLog;
class TNewsView;

// The driver's options as the settings give them now.
TDriverOptions DriverOptionsFrom(const TSettingsStore& settings);

// Status lines to the status list, log lines to the log; the subject and
// poster lines of a finished file only when the daily log file is kept.
// Log lines keep the bound of every formatted log line (LOG_BUFFER_SIZE).
class TDriverLogReport final : public TDriverReport {
  public:
    TDriverLogReport(TStatusLog& log, TNewsView& view) : Status(log), View(view) {}

    void StatusLine(std::string_view line) override;
    void FileFinished(const TCurrentFile& file, std::string_view line,
                      std::span<const std::string> details) override;
    void MimeLine(std::string_view line) override;
    void UnsavedPost(const THeader* header, std::string_view line) override;
    void ArticleStarted(long long number, int lines) override;
    void ArticleEnded() override;
    void ShowIndicator(std::string_view text) override;

  private:
    TStatusLog& Status;
    TNewsView& View;
};

}  // namespace zorvex
