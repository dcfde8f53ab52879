// statuslog: the four places the program reports what it does. The status
// list (progress and errors), the log list (one line per file and per
// rejected article), the daily log file "newsMMDD.log" in the home
// directory, and the diagnostic log "diagnost.log". The lists keep their
// bounded lines here; the window shows them through TNewsView.
#pragma once

#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "app/view.h"
#include "library/diagsink.h"
#include "library/statussink.h"

namespace zorvex {

struct TSettings;
struct THeader;

constexpr size_t STATUS_LINE_MAX = 127;
constexpr size_t LOG_LIST_LINE_MAX = 126;
constexpr size_t LIST_LINES_MAX = 250;
constexpr size_t LOG_BUFFER_SIZE = 2048;
constexpr const char* DIAGNOSTIC_LOG_NAME = "diagnost.log";

// Cuts text to at most max bytes without splitting a UTF-8 character.
std::string_view CutText(std::string_view text, size_t max);

// Log lines go to the coordinator instead of the daily log while it is
// active; the coordinator client implements this.
class TLogCoordinator {
  public:
    virtual ~TLogCoordinator() = default;
    virtual bool Active() const = 0;
    virtual void SendLogLine(std::string_view line) = 0;
};

// No coordinator is running: every line goes to the local daily log.
class TNoCoordinator final : public TLogCoordinator {
  public:
    bool Active() const override { return false; }
    void SendLogLine(std::string_view) override {}
    static TNoCoordinator& Instance() {
        static TNoCoordinator none;
        return none;
    }
};

// "diagnost.log": one time-stamped line per entry, opened and closed each
// time, written only while enabled.
class TDiagnosticLog final : public TDiagnosticSink {
  public:
    explicit TDiagnosticLog(std::string path) : Path(std::move(path)) {}
    void SetEnabled(bool on) { On = on; }
    bool Enabled() const override { return On; }
    void Write(const char* tag, const char* text) override;
    const std::string& FilePath() const { return Path; }

  private:
    std::string Path;
    bool On = false;
    std::mutex Lock;  // socket events may arrive from helper code on other threads
};

struct TListLine {
    std::string Text;
    const THeader* Header = nullptr;
};

struct TLogExplanation {
    std::string Caption;
    std::string Text;
};

class TStatusLog final : public TStatusSink {
  public:
    // start is the moment the main object was built: it names the daily log.
    TStatusLog(TNewsView& view, const TSettings& settings, std::string homeDir,
               TDiagnosticSink& diagnostics,
               TLogCoordinator& coordinator = TNoCoordinator::Instance(),
               time_t start = time(nullptr));
    ~TStatusLog() override;
    TStatusLog(const TStatusLog&) = delete;
    TStatusLog& operator=(const TStatusLog&) = delete;

    void PrintStatus(std::string_view text) override;
    void PrintStatusString(int id);
    void PrintStatusF(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Writes a log line to the daily log (or the coordinator) and, when
    // showInList, to the log list; returns its list index or -1.
    int WriteLogLine(std::string_view text, bool showInList, const THeader* header);
    int WriteLogLineFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Deletes every other "news*.log" in the home directory, when asked by
    // [log] trim_old_logs and the log is kept locally.
    void TrimOldLogs();
    void CloseDailyLog();
    // Whether log lines reach the local daily log file.
    bool KeepsDailyLog() const;
    const std::string& DailyLogName() const { return DailyName; }
    std::string DailyLogPath() const { return HomeDir + "/" + DailyName; }

    // The status hint by string id (1000+id); -1 or an unknown id clears it.
    void ShowHint(int id);
    // Text 8000+textId captioned 8000+captionId.
    TBoxAnswer ShowMessageById(int textId, int captionId, TBoxStyle style);

    // The explanation shown for a log line that has no received file.
    static TLogExplanation ExplainLogLine(std::string_view line);
    static constexpr const char* NO_LINE_SELECTED = "Please select an item in the log window";

    const std::deque<TListLine>& StatusLines() const { return Status; }
    const std::deque<TListLine>& LogLines() const { return Logged; }

  private:
    // Appends to a bounded list and tells whether the first line went.
    static bool Append(std::deque<TListLine>& list, std::string_view text, const THeader* header);

    TNewsView& View;
    const TSettings& Settings;
    std::string HomeDir;
    std::string DailyName;
    TDiagnosticSink& Diagnostics;
    TLogCoordinator& Coordinator;
    FILE* DailyLog = nullptr;
    int HintId = -1;
    std::deque<TListLine> Status;
    std::deque<TListLine> Logged;
};

}  // namespace zorvex
