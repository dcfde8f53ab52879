// The headless program against the scripted server: TNewsApp with its
// settings file in a temporary home directory, the articles a test posts,
// and the questions tests ask afterwards (what was asked for, which files
// came whole, what the settings file holds).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/newsapp.h"
#include "library/fileio.h"
#include "library/profile.h"
#include "support/encoders.h"
#include "support/recording_view.h"
#include "support/scripted_server.h"
#include "support/tempdir.h"

namespace zorvex::test {

inline const TStep kGreeting{"200 scripted server ready\n"};
inline const TStep kModeReader{"200 reader mode\n"};

inline std::string YencArticle(TArticleNo n, const std::string& name, const std::string& data) {
    std::string out = "220 " + std::to_string(n) + " <" + std::to_string(n) +
                      "@test> article\nSubject: " + name + "\nFrom: p" + std::to_string(n) +
                      "\n\n=ybegin line=128 size=" + std::to_string(data.size()) + " name=" + name +
                      "\n";
    for (const std::string& l : YencDataLines(data)) out += l + "\n";
    char crc[16];
    snprintf(crc, sizeof crc, "%08x", BitwiseCrc32(data));
    return out + "=yend size=" + std::to_string(data.size()) + " crc32=" + crc + "\n.\n";
}

// Mode reader, the group and, on the first visit, its overview of the
// given articles; a reconnect finds the headers loaded and skips it.
inline std::vector<TStep> GroupSteps(int articles, bool overview = true) {
    std::string text = "224 overview follows\n";
    for (int i = 1; i <= articles; ++i)
        text += std::to_string(i) + "\tfile" + std::to_string(i) + "\tp" + std::to_string(i) +
                "\td\t<" + std::to_string(i) + "@test>\t\t100\t10\n";
    std::vector<TStep> steps = {kModeReader, TStep{"211 " + std::to_string(articles) + " 1 " +
                                                   std::to_string(articles) + " a.b\n"}};
    if (overview) steps.push_back(TStep{text + ".\n"});
    return steps;
}

class NewsControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Home.Path().empty());
        Data = {Noise(3000, 1), Noise(5000, 2), Noise(700, 3)};
    }
    void TearDown() override {
        App.reset();
        if (!HasFailure()) return;
        std::string dump = "status lines (last 60):\n";
        size_t from = View.Status.size() > 60 ? View.Status.size() - 60 : 0;
        for (size_t i = from; i < View.Status.size(); ++i) dump += "  " + View.Status[i] + "\n";
        std::fputs(dump.c_str(), stderr);
    }

    // One session: the articles from..to are sent as they are asked for.
    TScriptedServer::TSession FullSession(int articles, bool overview = true, int from = 1) {
        std::vector<TStep> steps = GroupSteps(articles, overview);
        for (int i = from; i <= articles; ++i) steps.push_back(TStep{Article(i)});
        return {kGreeting, steps};
    }
    std::string Article(int i) { return YencArticle(i, Name(i), Data[i - 1]); }
    static std::string Name(int i) { return "file" + std::to_string(i) + ".bin"; }

    void WriteIni(const std::string& extra, const std::string& groups = "0=a.b 1 0\n",
                  int minFreeSpace = 0) {
        std::ofstream out(Home.File("vantrel.ini"));
        out << "[connection]\nhost=" << Server.HostString()
            << "\n[paths]\ndownload=" << Home.File("dl")
            << "\n[misc]\nmaintain_newsrc=0\nxover=1\nminfreespace=" << minFreeSpace << "\n"
            << MiscKeys << "[log]\ntrim_old_logs=0\n"
            << extra << "\n[grouplist]\n"
            << groups;
    }
    void StartApp(TStartupSwitches switches) {
        TStartup startup;
        startup.HomeDir = Home.Path();
        startup.SettingsPath = Home.File("vantrel.ini");
        startup.Switches = switches;
        App = std::make_unique<TNewsApp>(startup, View, Loop, Store);
        TStartResult r = App->Start();
        ASSERT_EQ(r.ExitCode, 0) << r.Error;
    }
    static TStartupSwitches AutoExit() {
        TStartupSwitches s;
        s.Autostart = 1;
        s.Autoexit = 1;
        return s;
    }
    bool RunUntil(const std::function<bool()>& done, int ms = 8000) {
        return Loop.RunUntil(done, std::chrono::milliseconds(ms));
    }
    bool RunUntilExited(int ms = 8000) {
        return RunUntil([&] { return App->Exited(); }, ms);
    }
    std::string FileBytes(const std::string& path) {
        std::string bytes;
        return ReadWholeFile(path, &bytes) ? bytes : "<missing>";
    }
    // The file is exactly what was posted (no bytes dumped when not).
    bool Whole(int i) { return FileBytes(Home.File("dl/") + Name(i)) == Data[i - 1]; }
    int Asked(const std::string& command) {
        std::vector<std::string> seen = Server.Received();
        return static_cast<int>(std::count(seen.begin(), seen.end(), command));
    }
    std::string GroupListValue(const std::string& key) {
        TProfile p;
        p.Load(Home.File("vantrel.ini"));
        return p.GetString("grouplist", key, "<absent>", 255);
    }

    TTempDir Home;
    TPlainEventLoop Loop;
    TNewsStore Store;
    TRecordingView View;
    TScriptedServer Server;
    std::unique_ptr<TNewsApp> App;
    std::vector<std::string> Data;
    // More [misc] keys for WriteIni: only the first section of a name counts.
    std::string MiscKeys;
};

}  // namespace zorvex::test
