// The program's string resources: texts it loads by number (status texts
// 9000+, message boxes 8000+, hints 1000+, colour names 6000+ and 7000+).
#pragma once

namespace zorvex {

// nullptr when the program has no string of that number.
const char* LoadStringResource(int id);

constexpr int STR_ERROR_CAPTION = 8001;
constexpr int STR_NOT_PROPERLY_RECEIVED = 8002;
constexpr int STR_PREVIOUS_FILE_INCOMPLETE = 8009;
constexpr int STR_UNABLE_TO_PARSE_FILENAME = 8010;
constexpr int STR_DECODE_INIT_FAILED = 8011;
constexpr int STR_INVALID_DOWNLOAD_PATH = 8012;
constexpr int STR_AUTOSTART = 9004;
constexpr int STR_PRESS_CONNECT = 9005;
constexpr int STR_FINISHED_ALL_GROUPS = 9014;
constexpr int STR_AUTO_EXIT = 9015;
constexpr int STR_AUTOSAVE_POINTERS = 9016;
constexpr int STR_AUTOSAVE_EVERYTHING = 9017;
constexpr int STR_AUTO_CATALOG = 9020;
constexpr int STR_AUTO_RESTART = 9021;

}  // namespace zorvex
