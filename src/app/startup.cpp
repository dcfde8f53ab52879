#include "app/startup.h"

#include "library/ascii.h"
#include "library/profile.h"

namespace zorvex {

const TSwitchInfo SWITCHES[NUM_SWITCHES] = {
    {"-h", "Print usage information"},
    {"-i", "Specify INI filename -i xxx"},
    {"-auto", "Automatic Start"},
    {"-noabout", "Omit about dialog"},
    {"-autoexit", "Automatic Exit"},
    {"-diag", "Diagnostic Log"},
    {"-autocat", "Automatic Catalog Generation"},
    {"-autorestart", "Automatic Restart"},
    {"-minimize", "Minimize to Taskbar"},
    {"-autoshrink", "Automatically shrink to taskbar"},
    {"-noresize", "Disable resizable window"},
};

namespace {

int FindSwitch(std::string_view word) {
    for (int i = 0; i < NUM_SWITCHES; ++i)
        if (EqualsIgnoringCase(word, SWITCHES[i].Word)) return i;
    return -1;
}

}  // namespace

void ParseCommandLine(int argc, const char* const* argv, TStartup& startup) {
    TStartupSwitches& sw = startup.Switches;
    // The flag each switch turns on, in table order; null for the others.
    int* flags[NUM_SWITCHES] = {nullptr,        nullptr,           &sw.Autostart, nullptr,
                                &sw.Autoexit,   &sw.DiagnosticLog, &sw.Autocat,   &sw.Autorestart,
                                &sw.MinTaskbar, &sw.Autoshrink,    &sw.NoResize};
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i] ? argv[i] : "";
        if (word == "--help") {
            startup.HelpAsked = true;
            continue;
        }
        switch (int n = FindSwitch(word); n) {
            case -1:
                if (!word.empty() && word[0] != '/' && word[0] != '-')
                    startup.ExtraArgument = std::string(word);
                break;
            case 0:
                startup.HelpAsked = true;
                break;
            case 1:
                if (i + 1 < argc && argv[i + 1] && *argv[i + 1]) {
                    std::string_view name = argv[++i];
                    startup.SettingsPath = name.find('/') != std::string_view::npos
                                               ? std::string(name)
                                               : startup.HomeDir + "/" + std::string(name);
                }
                break;
            case 3:
                sw.About = 0;
                break;
            default:
                *flags[n] = 1;
                break;
        }
    }
}

void ReadSwitchDefaults(const TProfile& profile, TStartupSwitches& sw) {
    sw.About = profile.GetInt("switches", "about", 1);
    sw.Autostart = profile.GetInt("switches", "autostart", 0);
    sw.Autoexit = profile.GetInt("switches", "autoexit", 0);
    sw.Autocat = profile.GetInt("switches", "autocat", 0);
    sw.DiagnosticLog = profile.GetInt("switches", "diagnosticlog", 0);
    sw.Autorestart = profile.GetInt("switches", "autorestart", 0);
    sw.MinTaskbar = profile.GetInt("switches", "mintaskbar", 0);
    sw.Autoshrink = profile.GetInt("switches", "autoshrink", 0);
    sw.NoResize = profile.GetInt("switches", "noresize", 0);
}

TStartup PrepareStartup(int argc, const char* const* argv, std::string homeDir) {
    TStartup startup;
    startup.HomeDir = std::move(homeDir);
    ParseCommandLine(argc, argv, startup);
    // An unreadable file gives the defaults here; the settings load reports it.
    TProfile profile;
    profile.Load(startup.SettingsPath);
    ReadSwitchDefaults(profile, startup.Switches);
    startup.ExtraArgument.clear();
    ParseCommandLine(argc, argv, startup);
    if (startup.Switches.MinTaskbar) startup.Switches.Autostart = 1;
    return startup;
}

std::string UsageText(std::string_view program) {
    std::string text = "usage: " + std::string(program) + " [switches]\n";
    for (const TSwitchInfo& s : SWITCHES) {
        std::string word = s.Word;
        if (word == "-i") word += " FILE";
        text +=
            "  " + word + std::string(word.size() < 14 ? 14 - word.size() : 1, ' ') + s.Help + "\n";
    }
    return text;
}

}  // namespace zorvex
