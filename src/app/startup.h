// startup: the command line and the start-up switches. The switch table
// (eleven words, matched ignoring case), the [switches] defaults, the
// settings file chosen with "-i" and the home directory, so that the
// desktop program and the headless one start the same way.
#pragma once

#include <string>
#include <string_view>

namespace zorvex {

class TProfile;

struct TStartupSwitches {
    int About = 1;
    int Autostart = 0;
    int Autoexit = 0;
    int Autocat = 0;
    int DiagnosticLog = 0;
    int Autorestart = 0;
    int MinTaskbar = 0;
    int Autoshrink = 0;
    int NoResize = 0;
};

struct TSwitchInfo {
    const char* Word;
    const char* Help;
};
constexpr int NUM_SWITCHES = 11;
extern const TSwitchInfo SWITCHES[NUM_SWITCHES];

// The settings file when "-i" names none; its name is the format's own.
constexpr const char* DEFAULT_SETTINGS_FILE = "vantrel.ini";

struct TStartup {
    std::string HomeDir;  // the working directory at start
    std::string SettingsPath = DEFAULT_SETTINGS_FILE;
    std::string ExtraArgument;
    TStartupSwitches Switches;
    bool HelpAsked = false;  // "-h" or "--help"
};

// One pass over the words after the program name.
void ParseCommandLine(int argc, const char* const* argv, TStartup& startup);
// The nine [switches] keys; absent keys keep the table's defaults.
void ReadSwitchDefaults(const TProfile& profile, TStartupSwitches& switches);
// The whole start: home directory, "-i" first, the INI defaults, then the
// command line again so that its switches win. Starting minimised forces
// automatic start.
TStartup PrepareStartup(int argc, const char* const* argv, std::string homeDir);
// The switch table with its help texts, one switch per line.
std::string UsageText(std::string_view program);

}  // namespace zorvex
