// homefiles: the names of the lists and logs the program keeps in its home
// directory. Their names are the formats' own and are shared with other
// tools, so they never change.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace zorvex {

// The files of the home directory, built once at start; the daily log is
// named by the month and day (local time) of start.
struct THomeFiles {
    std::string DailyLog, Lockouts, HttpGrabList, HttpGrabPage, DupeSubjects, DupeFiles, Newsrc;
};
THomeFiles HomeFileNames(std::string_view homeDir, time_t start);

}  // namespace zorvex
