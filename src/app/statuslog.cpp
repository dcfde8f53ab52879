#include "app/statuslog.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "app/settings.h"
#include "library/ascii.h"
#include "library/fileio.h"
#include "library/homefiles.h"
#include "library/profile.h"
#include "library/strings.h"

namespace zorvex {

std::string_view CutText(std::string_view text, size_t max) {
    if (text.size() <= max) return text;
    size_t n = max;
    // Step back over continuation bytes so a character is never halved.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

namespace {

// Formats into the log buffer's bounds.
std::string FormatLogBuffer(const char* format, va_list args) {
    char buffer[LOG_BUFFER_SIZE];
    vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

}  // namespace

void TDiagnosticLog::Write(const char* tag, const char* text) {
    if (!On) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    std::lock_guard<std::mutex> hold(Lock);
    FILE* f = fopen(Path.c_str(), "a");
    if (f == nullptr) return;  // this entry is lost; the next one tries again
    fprintf(f, "%02d/%02d/%04d %02d:%02d:%02d.%04d %s: %s\n", utc.tm_mon + 1, utc.tm_mday,
            utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec,
            static_cast<int>(now.tv_nsec / 1000000), tag, text);
    fclose(f);
}

TStatusLog::TStatusLog(TNewsView& view, const TSettings& settings, std::string homeDir,
                       TDiagnosticSink& diagnostics, TLogCoordinator& coordinator, time_t start)
    : View(view),
      Settings(settings),
      HomeDir(std::move(homeDir)),
      DailyName(BaseName(HomeFileNames(HomeDir, start).DailyLog)),
      Diagnostics(diagnostics),
      Coordinator(coordinator) {}

TStatusLog::~TStatusLog() {
    CloseDailyLog();
}

void TStatusLog::CloseDailyLog() {
    if (DailyLog) fclose(DailyLog);
    DailyLog = nullptr;
}

bool TStatusLog::Append(std::deque<TListLine>& list, std::string_view text, const THeader* header) {
    list.push_back(TListLine{std::string(text), header});
    if (list.size() <= LIST_LINES_MAX) return false;
    list.pop_front();
    return true;
}

void TStatusLog::PrintStatus(std::string_view text) {
    std::string line(CutText(text, STATUS_LINE_MAX));
    if (Diagnostics.Enabled()) Diagnostics.Write("MSG", line.c_str());
    bool dropped = Append(Status, line, nullptr);
    View.StatusLineAdded(line, dropped);
}

void TStatusLog::PrintStatusString(int id) {
    const char* text = LoadStringResource(id);
    PrintStatus(text ? text : "");
}

void TStatusLog::PrintStatusF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatLogBuffer(format, args);
    va_end(args);
    PrintStatus(text);
}

int TStatusLog::WriteLogLine(std::string_view text, bool showInList, const THeader* header) {
    std::string full(text);
    if (Diagnostics.Enabled()) Diagnostics.Write("LOG", full.c_str());
    if (Coordinator.Active()) {
        Coordinator.SendLogLine(full);
    } else if (Settings.LogEnabled) {
        if (DailyLog == nullptr) DailyLog = fopen(DailyLogPath().c_str(), "a");
        // A log that cannot be opened skips this line and is tried again.
        if (DailyLog) {
            fprintf(DailyLog, "%s\n", full.c_str());
            fflush(DailyLog);
        }
    }
    if (!showInList) return -1;
    std::string_view shown = CutText(full, LOG_LIST_LINE_MAX);
    bool dropped = Append(Logged, shown, header);
    View.LogLineAdded(shown, header, dropped);
    return static_cast<int>(Logged.size()) - 1;
}

bool TStatusLog::KeepsDailyLog() const {
    return Settings.LogEnabled && !Coordinator.Active();
}

int TStatusLog::WriteLogLineFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatLogBuffer(format, args);
    va_end(args);
    return WriteLogLine(text, true, nullptr);
}

void TStatusLog::TrimOldLogs() {
    if (!Settings.LogTrimOldLogs || Coordinator.Active()) return;
    DIR* dir = opendir(HomeDir.c_str());
    if (dir == nullptr) return;
    std::string keep = LowerAscii(DailyName);
    while (dirent* entry = readdir(dir)) {
        std::string lower = LowerAscii(entry->d_name);
        if (lower.size() < 8 || lower.compare(0, 4, "news") != 0 ||
            lower.compare(lower.size() - 4, 4, ".log") != 0 || lower == keep)
            continue;
        std::string path = HomeDir + "/" + entry->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
    }
    closedir(dir);
}

void TStatusLog::ShowHint(int id) {
    if (id == HintId) return;
    HintId = id;
    const char* text = id >= 0 ? LoadStringResource(1000 + id) : nullptr;
    View.ShowHint(text ? text : "");
}

TBoxAnswer TStatusLog::ShowMessageById(int textId, int captionId, TBoxStyle style) {
    const char* text = LoadStringResource(8000 + textId);
    const char* caption = LoadStringResource(8000 + captionId);
    return View.MessageBox(CutText(text ? text : "", 255), CutText(caption ? caption : "", 79),
                           style);
}

TLogExplanation TStatusLog::ExplainLogLine(std::string_view line) {
    static const struct {
        const char* Tag;
        const char* Text;
    } EXPLANATIONS[] = {
        {"[No KeyWords]",
         "This is a [No Keywords] item. You have configured \"search keywords\" and they did "
         "not match this message, and it was not downloaded. Search keywords are added (or "
         "deleted) by the \"Configure:Search Keywords\" menu item"},
        {"[LOCKOUT FROM]",
         "This entry was skipped because it matched a Lockout string that you entered using "
         "the Configure:Lockout:Poster menu item."},
        {"[LOCKOUT SUBJECT]",
         "This entry was skipped because it matched a Lockout string that you entered using "
         "the Configure:Lockout:Subject menu item."},
        {"[DUPE SUBJ]",
         "This entry was skipped because it was determined by the duplicate subject detector "
         "to be a duplicate of another message that you have already downloaded. You can "
         "configure the dup subject detector with the Configure:Duplicate Checker menu item."},
        {"[TOOLONG]",
         "This entry was skipped because it was longer than the limit that you specified "
         "using the Configure:Limits menu item."},
        {"[TOOSMALL]",
         "This entry was skipped because it was smaller than the limit that you specified "
         "using the Configure:Limits menu item."},
        {"[NO MASK]",
         "This entry was skipped because it did not match any of the file masks that you "
         "entered using the configure:acceptable file masks menu item."},
        {"[NO DATA]",
         "This entry was aborted because the message did not contain a valid binary "
         "attachment. Sometimes this happens because a message is corrupted, or if parts of "
         "a long multipart message have been dropped by the news server."},
    };
    std::string lower = LowerAscii(line);
    for (const auto& e : EXPLANATIONS) {
        std::string tag = LowerAscii(e.Tag);
        if (lower.compare(0, tag.size(), tag) == 0)
            return {std::string(line.substr(0, tag.size())), e.Text};
    }
    return {LoadStringResource(STR_ERROR_CAPTION), LoadStringResource(STR_NOT_PROPERLY_RECEIVED)};
}

}  // namespace zorvex
