#include "app/driverreport.h"

#include <algorithm>

#include "app/settings.h"
#include "app/statuslog.h"
#include "app/view.h"

namespace zorvex {

namespace {

// As a formatted log line is cut: bytes, not characters.
std::string_view Bounded(std::string_view line) {
    return line.substr(0, std::min(line.size(), LOG_BUFFER_SIZE - 1));
}

}  // namespace

TDriverOptions DriverOptionsFrom(const TSettingsStore& settings) {
    const TSettings& s = settings.Settings();
    TDriverOptions o;
    o.ViewerEnable = s.ViewerEnable != 0;
    o.EnableHttpGrabber = s.EnableHttpGrabber != 0;
    o.NoDataThresh = s.NoDataThresh;
    o.DownloadPath = s.DownloadPath;
    o.PathExpand = s.PathExpand;
    o.PathPrefixes = settings.PathPrefixes;
    o.CaseConvert = s.CaseConvert;
    o.RenameDupes = s.RenameDupes != 0;
    o.DeleteIncomplete = s.DeleteIncomplete != 0;
    o.EncryptionEnable = s.EncryptionEnable != 0;
    o.EncryptionKey = s.EncryptionKey;
    o.LogMime = s.LogMime != 0;
    o.LogSubject = s.LogSubject != 0;
    o.LogName = s.LogName != 0;
    return o;
}

void TDriverLogReport::StatusLine(std::string_view line) {
    Status.PrintStatus(line);
}

void TDriverLogReport::FileFinished(const TCurrentFile& file, std::string_view line,
                                    std::span<const std::string> details) {
    Status.WriteLogLine(Bounded(line), true, file.Header);
    if (!Status.KeepsDailyLog()) return;
    for (const std::string& detail : details) Status.WriteLogLine(Bounded(detail), false, nullptr);
}

void TDriverLogReport::MimeLine(std::string_view line) {
    Status.WriteLogLine(Bounded(line), true, nullptr);
}

void TDriverLogReport::UnsavedPost(const THeader* header, std::string_view line) {
    Status.WriteLogLine(Bounded(line), true, header);
}

void TDriverLogReport::ArticleStarted(long long number, int lines) {
    View.ArticleStarted(number, lines);
}

void TDriverLogReport::ArticleEnded() {
    View.ArticleEnded();
}

void TDriverLogReport::ShowIndicator(std::string_view text) {
    View.ShowIndicator(text);
}

}  // namespace zorvex
