#include "library/homefiles.h"

#include <cstdio>

#include "library/fileio.h"

namespace zorvex {

THomeFiles HomeFileNames(std::string_view homeDir, time_t start) {
    const std::string home = AddTrailingSlash(homeDir);
    int month = 0, day = 0;  // "news0000.log" for a time the calendar cannot show
    struct tm local {};
    if (localtime_r(&start, &local) != nullptr) {
        month = local.tm_mon + 1;
        day = local.tm_mday;
    }
    char dailyLog[32];
    snprintf(dailyLog, sizeof dailyLog, "news%02d%02d.log", month, day);
    THomeFiles files;
    files.DailyLog = home + dailyLog;
    files.Lockouts = home + "lockout.lst";
    files.HttpGrabList = home + "httpgrab.lst";
    files.HttpGrabPage = home + "httpgrab.htm";
    files.DupeSubjects = home + "dupesubj.lst";
    files.DupeFiles = home + "dupefile.lst";
    files.Newsrc = home + "newsrc.lst";
    return files;
}

}  // namespace zorvex
