// zorvexd seen from outside, the way a scheduler runs it: a fresh home
// directory with a vantrel.ini, "zorvexd -auto -autoexit", then only what it
// leaves behind. Against the private INN of scripts/inn-up.sh it must decode
// the set posted by scripts/post-samples.py into the group directories, log
// one line per file, save the pointers and leave a second run nothing to do;
// posts made the way uploaders make them (scripts/post-uploads.py, and nyuu
// through scripts/nyuu-post.sh) must come out whole or be reported once;
// posts that lockout.lst, keywords, masks or the dupe lists keep out are
// never asked for, or leave no file when refused while they arrive.
// Skipped, with the reason, when INN is not running or zorvexd is not built
// (the nyuu test also when nyuu could not be installed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/statuslog.h"
#include "image/loader.h"
#include "library/ascii.h"
#include "library/profile.h"
#include "support/encoders.h"
#include "support/inn_env.h"
#include "support/loopback.h"
#include "support/picture_files.h"
#include "support/plugin_files.h"
#include "support/samples.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

#ifdef ZORVEX_ZORVEXD
const char* const ZORVEXD = ZORVEX_ZORVEXD;
#else
const char* const ZORVEXD = nullptr;
#endif

const char* const SAMPLE_GROUPS[] = {"alt.binaries.test.zorvex", "alt.binaries.pictures.test",
                                     "misc.test"};
// Listed with enable flag 0: the post put there must not be fetched.
const char* const DISABLED_GROUP = "alt.binaries.multimedia.test";

const char* const RESULT_TAGS[] = {"[RECEIVED]", "[ERROR]", "[INCOMPLETE]", "[USER ABORT]",
                                   "[POSSIBLE VIRUS -- DELETED]"};

constexpr auto RUN_LIMIT = std::chrono::seconds(120);

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

struct TRun {
    int Exit = -1;  // -1 unless it exited by itself
    int Signal = 0;
    bool TimedOut = false;
    std::string Out, Err;
};

std::string Describe(const TRun& run) {
    std::string text = "exit " + std::to_string(run.Exit);
    if (run.Signal) text += ", killed by signal " + std::to_string(run.Signal);
    if (run.TimedOut) text += " (still running after the time limit)";
    std::string out =
        run.Out.size() > 6000 ? "..." + run.Out.substr(run.Out.size() - 6000) : run.Out;
    return text + "\n--- stdout ---\n" + out + "--- stderr ---\n" + run.Err;
}

// zorvexd with args in home; its output goes through files in capture, so
// nothing but the program itself writes into home. With termAfterMs it gets
// one SIGTERM after that long.
TRun RunZorvexd(const std::string& home, const std::string& capture, const Lines& args,
                int termAfterMs = -1) {
    TRun run;
    const std::string outPath = capture + "/stdout", errPath = capture + "/stderr";
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<char*> argv{const_cast<char*>(ZORVEXD)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* dir = home.c_str();
    const pid_t pid = in >= 0 && out >= 0 && err >= 0 ? ::fork() : -1;
    if (pid == 0) {
        // Only async-signal-safe calls until exec: the test program has threads.
        if (::chdir(dir) != 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    for (int fd : {in, out, err})
        if (fd >= 0) ::close(fd);
    if (pid < 0) {
        run.Err = "could not start " + std::string(ZORVEXD);
        return run;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + RUN_LIMIT;
    int status = 0;
    bool termed = false;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (termAfterMs >= 0 && !termed &&
            std::chrono::steady_clock::now() > start + std::chrono::milliseconds(termAfterMs)) {
            ::kill(pid, SIGTERM);
            termed = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.TimedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status)) run.Exit = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.Signal = WTERMSIG(status);
    run.Out = ReadWhole(outPath);
    run.Err = ReadWhole(errPath);
    return run;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Section -> key -> value, names lower-cased (INI names ignore case). Read
// here rather than through the settings store, so a fault there shows.
using TIni = std::map<std::string, std::map<std::string, std::string>>;

TIni ReadIni(const fs::path& file) {
    TIni ini;
    std::string section;
    for (const std::string& raw : SplitLines(ReadWhole(file))) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = LowerAscii(Trim(line.substr(1, line.size() - 2)));
            ini[section];
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            ini[section][LowerAscii(Trim(line.substr(0, eq)))] = Trim(line.substr(eq + 1));
    }
    return ini;
}

struct TGroupEntry {
    int Enabled = -1;
    long long Pointer = -1;
    bool operator==(const TGroupEntry&) const = default;
};

void PrintTo(const TGroupEntry& e, std::ostream* os) {
    *os << "{enabled " << e.Enabled << ", pointer " << e.Pointer << "}";
}

// [grouplist] as name -> entry; a value that is not "NAME FLAG POINTER"
// shows as an entry of its own under its raw text.
std::map<std::string, TGroupEntry> GroupList(const TIni& ini) {
    std::map<std::string, TGroupEntry> groups;
    auto section = ini.find("grouplist");
    if (section == ini.end()) return groups;
    for (const auto& [key, value] : section->second) {
        std::istringstream fields(value);
        std::string name;
        TGroupEntry e;
        if (!(fields >> name >> e.Enabled >> e.Pointer))
            name = "<unparsed key " + key + ": " + value + ">";
        groups[name] = e;
    }
    return groups;
}

std::string DailyLogName(std::chrono::system_clock::time_point when) {
    const time_t t = std::chrono::system_clock::to_time_t(when);
    tm local{};
    localtime_r(&t, &local);
    char name[32];
    std::snprintf(name, sizeof name, "news%02d%02d.log", local.tm_mon + 1, local.tm_mday);
    return name;
}

std::set<std::string> FilesUnder(const fs::path& dir) {
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (!it->is_directory()) files.insert(it->path().string());
    return files;
}

// A tag no earlier run used, for subjects and file names: the server keeps
// every post.
std::string UniqueTag(const char* prefix) {
    return std::string(prefix) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(std::chrono::system_clock::now().time_since_epoch() /
                          std::chrono::milliseconds(1));
}

// The settings of a run against INN on port: names kept as posted, headers
// by XOVER, one directory per group; more adds sections, groups are the
// [grouplist] lines.
std::string RunIni(int port, const std::string& home, const std::string& more,
                   const std::string& groups) {
    return "[connection]\nhost=127.0.0.1:" + std::to_string(port) + "\n[paths]\ndownload=" + home +
           "/dl\n[miscpref]\npathexpand=3\ncaseconvert=0\n"
           "[misc]\nmaintain_newsrc=0\nxover=1\nminfreespace=0\n"
           "[timeout]\ndelay=30\n[log]\ntrim_old_logs=0\n" +
           more + "[grouplist]\n" + groups;
}

bool IsResultLine(const std::string& line) {
    return std::any_of(std::begin(RESULT_TAGS), std::end(RESULT_TAGS),
                       [&](const char* tag) { return StartsWith(line, tag); });
}

class ZorvexdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ZORVEXD) GTEST_SKIP() << "zorvexd is not part of this build";
        ASSERT_FALSE(Home.Path().empty());
        ASSERT_FALSE(Capture.Path().empty());
    }
    TRun Run(const Lines& args, int termAfterMs = -1) {
        return RunZorvexd(Home.Path(), Capture.Path(), args, termAfterMs);
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(Home.File(name), std::ios::binary) << text;
    }

    TTempDir Home, Capture;
};

// ---------------------------------------------------------------- start --

struct TStartCase {
    const char* Name;
    const char* IniName;  // written into the home directory unless Ini is null
    const char* Ini;
    Lines Args;
    const char* MissingKey;  // stderr names it and the INI file
};

void PrintTo(const TStartCase& c, std::ostream* os) {
    *os << c.Name;
}

const TStartCase START_CASES[] = {
    {"NoIniAtAll", "vantrel.ini", nullptr, {"-auto", "-autoexit"}, "host"},
    {"NoHost",
     "vantrel.ini",
     "[paths]\ndownload=dl\n[grouplist]\n0=misc.test 1 0\n",
     {"-auto", "-autoexit"},
     "host"},
    // Port 9 on loopback refuses: a program that went on would fail there.
    {"NoDownloadPath",
     "vantrel.ini",
     "[connection]\nhost=127.0.0.1:9\n[grouplist]\n0=misc.test 1 0\n",
     {"-auto", "-autoexit"},
     "download"},
    // Switches in capitals; the named file is read instead of vantrel.ini.
    {"NamedIniWithoutHost",
     "other.ini",
     "[paths]\ndownload=dl\n",
     {"-AUTO", "-I", "other.ini", "-AutoExit"},
     "host"},
};

class ZorvexdStartTest : public ZorvexdTest, public ::testing::WithParamInterface<TStartCase> {};

TEST_P(ZorvexdStartTest, AMissingSettingStopsTheRunAndNamesKeyAndFile) {
    const TStartCase& c = GetParam();
    if (c.Ini) Write(c.IniName, c.Ini);
    const TRun run = Run(c.Args);
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    EXPECT_EQ(run.Exit, 2) << Describe(run);
    EXPECT_NE(run.Err.find(c.MissingKey), std::string::npos) << Describe(run);
    EXPECT_NE(run.Err.find(c.IniName), std::string::npos) << Describe(run);
}

INSTANTIATE_TEST_SUITE_P(Settings, ZorvexdStartTest, ::testing::ValuesIn(START_CASES),
                         [](const auto& info) { return std::string(info.param.Name); });

class ZorvexdHelpTest : public ZorvexdTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ZorvexdHelpTest, PrintsUsageAndTouchesNothing) {
    const TRun run = Run({GetParam()});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    EXPECT_EQ(run.Exit, 0) << Describe(run);
    for (const char* option : {"-i", "-auto", "-autoexit", "-diag"})
        EXPECT_NE(run.Out.find(option), std::string::npos) << option << "\n" << Describe(run);
    EXPECT_TRUE(FilesUnder(Home.Path()).empty()) << "files written in the home directory";
}

INSTANTIATE_TEST_SUITE_P(Switches, ZorvexdHelpTest, ::testing::Values("-h", "-H", "--help"));

// -------------------------------------------------------------- signals --

// SIGTERM runs the Exit command: a clean end with the exit-time save, both
// while waiting for a start and while connected to a server that says
// nothing (a listener that never answers needs no INN).
TEST_F(ZorvexdTest, SigtermSavesAndEndsCleanly) {
    TLoopbackListener silent;
    ASSERT_TRUE(silent.Ok);
    for (bool connect : {false, true}) {
        SCOPED_TRACE(connect ? "connected" : "waiting");
        Write("vantrel.ini", "[connection]\nhost=" + silent.HostString() +
                                 "\n[paths]\ndownload=dl\n[grouplist]\n0=a.b 1 5\n");
        const TRun run = Run(connect ? Lines{"-auto", "-autoexit"} : Lines{}, 1500);
        ASSERT_FALSE(run.TimedOut) << Describe(run);
        EXPECT_EQ(run.Exit, 0) << Describe(run);
        if (connect) {
            EXPECT_NE(run.Out.find("Disconnecting.... successful!"), std::string::npos)
                << Describe(run);
        } else {
            EXPECT_NE(run.Out.find("Press <Connect> to begin downloading."), std::string::npos)
                << Describe(run);
        }
        TProfile saved;
        ASSERT_TRUE(saved.Load(Home.File("vantrel.ini")));
        EXPECT_TRUE(saved.Has("timeout", "msgdelay")) << "no exit-time save";
        EXPECT_EQ(saved.GetString("grouplist", "0", "", 255), "a.b 1 5");
    }
}

// ------------------------------------------------------------- download --

struct TWalkCase {
    const char* Name;
    int Xover;           // headers by XOVER, else by XHDR
    int MaintainNewsrc;  // LIST the server's groups before the walk
    bool Tls = false;    // over TLS, to the port that wants a login, trusting INN's certificate
};

void PrintTo(const TWalkCase& c, std::ostream* os) {
    *os << c.Name;
}

const TWalkCase WALK_CASES[] = {
    {"XhdrAfterGroupList", 0, 1}, {"XoverOnly", 1, 0}, {"XoverOverTlsWithLogin", 1, 0, true}};

// What each expectation of the sample set means for the file and its line.
struct TOutcome {
    const char* Expect;
    const char* Tag;
    bool Whole;  // the file as posted; else a cut-short start of it
};
const TOutcome OUTCOMES[] = {
    {"received", "[RECEIVED] ", true},
    {"crc-error", "[RECEIVED] (1 errors) ", true},  // only "=yend" lies
    {"incomplete", "[INCOMPLETE] ", false},
};

class ZorvexdInnTest : public ZorvexdTest, public ::testing::WithParamInterface<TWalkCase> {
  protected:
    void SetUp() override {
        ZorvexdTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Env = ReadInnEnv();
        if (Env.count("ZORVEX_INN_PORT") == 0)
            GTEST_SKIP() << "INN is not running (no " << InnEnvPath()
                         << "); start it with scripts/inn-up.sh";
        Port = std::stoi(Env.at("ZORVEX_INN_PORT"));
    }

    // Every enabled sample group and the disabled one, each at its last number.
    std::map<std::string, long long> LastNumbers() {
        std::map<std::string, long long> last;
        TGroupProbe probe(Port);
        EXPECT_TRUE(probe.Ok()) << "INN on 127.0.0.1:" << Port << " does not answer, yet "
                                << InnEnvPath() << " says it runs";
        for (const char* g : SAMPLE_GROUPS) last[g] = probe.Last(g);
        last[DISABLED_GROUP] = probe.Last(DISABLED_GROUP);
        return last;
    }

    std::string Dl() const { return Home.Path() + "/dl/"; }

    // The TLS port that wants a login, and the [auth] section for it: INN's
    // own certificate is trusted through sslcafile.
    std::string TlsLogin() {
        return Env["ZORVEX_INN_TLS_AUTH_PORT"] +
               "\n[auth]\nusessl=1\nsslcafile=" + InnCertificate() +
               "\nname=" + Env["ZORVEX_INN_USER"] + "\npassword=" + Env["ZORVEX_INN_PASS"];
    }
    std::string InnCertificate() { return Env["ZORVEX_INN_DIR"] + "/etc/cert.pem"; }

    std::map<std::string, std::string> Env;
    int Port = 0;
};

TEST_P(ZorvexdInnTest, AutoExitRunDecodesEveryPostAndSavesPointersForTheNextRun) {
    const TWalkCase& walk = GetParam();
    const std::map<std::string, long long> before = LastNumbers();
    for (const auto& [group, last] : before) ASSERT_GE(last, 0) << "GROUP " << group;

    const std::string tag = UniqueTag("zd");
    {
        TGroupProbe poster(Port);
        ASSERT_EQ(
            poster.PostYenc(DISABLED_GROUP,
                            "Zorvex disabled group [" + tag + "] - \"disabled.bin\" yEnc (1/1)",
                            "disabled.bin", Noise(3000, 77)),
            "");
    }
    const std::string samplesDir = Capture.Path() + "/samples";
    std::vector<TSample> samples;
    ASSERT_EQ(PostSampleSet(ZORVEX_SOURCE_DIR, InnEnvPath(), tag, samplesDir, &samples), "");
    const std::map<std::string, long long> after = LastNumbers();
    for (const auto& [group, last] : after) ASSERT_GT(last, before.at(group)) << group;

    // Pointers at the old ends: only this test's posts are new to the run.
    std::string ini =
        "[connection]\nhost=127.0.0.1:" + (walk.Tls ? TlsLogin() : std::to_string(Port)) +
        "\n[paths]\ndownload=" + Home.Path() + "/dl\n" + "[miscpref]\npathexpand=3\n" +
        "[misc]\nmaintain_newsrc=" + std::to_string(walk.MaintainNewsrc) +
        "\nxover=" + std::to_string(walk.Xover) + "\nminfreespace=0\n" +
        "[timeout]\ndelay=30\n[log]\ntrim_old_logs=0\n[grouplist]\n";
    std::map<std::string, TGroupEntry> wantGroups;
    int key = 0;
    for (const char* g : SAMPLE_GROUPS) {
        ini += std::to_string(key++) + "=" + g + " 1 " + std::to_string(before.at(g)) + "\n";
        wantGroups[g] = {1, after.at(g)};
    }
    ini += std::to_string(key) + "=" + DISABLED_GROUP + " 0 " +
           std::to_string(before.at(DISABLED_GROUP)) + "\n";
    wantGroups[DISABLED_GROUP] = {0, before.at(DISABLED_GROUP)};
    Write("vantrel.ini", ini);

    const auto started = std::chrono::system_clock::now();
    const TRun run = Run({"-auto", "-autoexit"});
    const auto ended = std::chrono::system_clock::now();
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);
    EXPECT_EQ(run.Err, "") << "a clean run reports no errors";
    EXPECT_EQ(run.Out.find('\r'), std::string::npos) << "a progress line on a pipe";

    // The daily log is named for the day the run started.
    Lines log;
    for (const std::string& file : FilesUnder(Home.Path())) {
        const std::string name = fs::path(file).filename();
        if (!StartsWith(LowerAscii(name), "news") || fs::path(file).extension() != ".log") continue;
        EXPECT_TRUE(name == DailyLogName(started) || name == DailyLogName(ended)) << name;
        for (const std::string& line : SplitLines(ReadWhole(file))) log.push_back(line);
    }
    Lines listed;  // the log list, as printed
    for (const std::string& line : SplitLines(run.Out))
        if (StartsWith(line, "log: ")) listed.push_back(line.substr(5));

    std::set<std::string> wantFiles;
    size_t wantLines = 0;
    for (const TSample& sample : samples) {
        const TOutcome* outcome = nullptr;
        for (const auto& o : OUTCOMES)
            if (sample.Expect == o.Expect) outcome = &o;
        if (!outcome) continue;  // the text post makes no file
        for (const std::string& group : sample.Groups) {
            SCOPED_TRACE(sample.Name + " in " + group);
            const fs::path file = Dl() + group + "/" + sample.Name;
            wantFiles.insert(file.string());
            ++wantLines;
            const std::string prefix = outcome->Tag + file.string() + " " + group + " ";
            const auto at = std::find_if(log.begin(), log.end(),
                                         [&](const auto& l) { return StartsWith(l, prefix); });
            ASSERT_NE(at, log.end()) << "no log line starts \"" << prefix << "\"";
            EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                    [&](const auto& l) { return StartsWith(l, prefix); }),
                      1);
            // [log] subject defaults to on: the subject follows the line.
            ASSERT_NE(at + 1, log.end());
            EXPECT_TRUE(StartsWith(at[1], "  Subject: ") && at[1].find(tag) != std::string::npos &&
                        at[1].find(sample.Name) != std::string::npos)
                << at[1];
            // The log list shows the line cut to its width.
            const std::string shown = at->substr(0, LOG_LIST_LINE_MAX);
            EXPECT_NE(std::find(listed.begin(), listed.end(), shown), listed.end())
                << "not on stdout: \"log: " << shown << "\"";

            ASSERT_TRUE(fs::is_regular_file(file));
            if (outcome->Whole) {
                EXPECT_EQ(Sha256(file), sample.Sha256);
            } else {
                const std::string whole = ReadWhole(samplesDir + "/files/" + sample.Name);
                const std::string part = ReadWhole(file);
                EXPECT_FALSE(part.empty());
                EXPECT_LT(part.size(), whole.size());
                EXPECT_EQ(whole.compare(0, part.size(), part), 0) << "not a start of the file";
            }
        }
    }
    // One line per file: none for the text post or the disabled group, no [ERROR].
    Lines resultLines;
    std::copy_if(log.begin(), log.end(), std::back_inserter(resultLines), IsResultLine);
    EXPECT_EQ(resultLines.size(), wantLines) << ::testing::PrintToString(resultLines);
    // Nothing outside the group directories, nothing from the disabled group.
    const std::set<std::string> files = FilesUnder(Dl());
    EXPECT_EQ(files, wantFiles);
    EXPECT_EQ(GroupList(ReadIni(Home.File("vantrel.ini"))), wantGroups)
        << ReadWhole(Home.File("vantrel.ini"));

    // The same INI again: the saved pointers are past everything.
    const TRun again = Run({"-auto", "-autoexit"});
    ASSERT_FALSE(again.TimedOut) << Describe(again);
    EXPECT_EQ(again.Exit, 0) << Describe(again);
    EXPECT_EQ(again.Err, "");
    EXPECT_EQ(FilesUnder(Dl()), files);
    size_t resultLinesAgain = 0;
    for (const std::string& file : FilesUnder(Home.Path()))
        if (fs::path(file).extension() == ".log" &&
            StartsWith(LowerAscii(fs::path(file).filename().string()), "news"))
            for (const std::string& line : SplitLines(ReadWhole(file)))
                resultLinesAgain += IsResultLine(line);
    EXPECT_EQ(resultLinesAgain, wantLines) << "the second run logged files";
    for (const std::string& line : SplitLines(again.Out))
        EXPECT_FALSE(StartsWith(line, "log: ") && IsResultLine(line.substr(5))) << line;
    EXPECT_EQ(GroupList(ReadIni(Home.File("vantrel.ini"))), wantGroups);
}

INSTANTIATE_TEST_SUITE_P(Walks, ZorvexdInnTest, ::testing::ValuesIn(WALK_CASES),
                         [](const auto& info) { return std::string(info.param.Name); });

// INN's certificate is its own: without sslcafile it is refused. That cannot
// change by trying again, so an unattended run ends at once with code 2 and
// the reason, having asked the server for nothing.
TEST_F(ZorvexdTest, RefusedCertificateEndsTheRunWithTheReason) {
    const std::map<std::string, std::string> env = ReadInnEnv();
    if (env.count("ZORVEX_INN_TLS_PORT") == 0)
        GTEST_SKIP() << "INN is not running (no " << InnEnvPath()
                     << "); start it with scripts/inn-up.sh";
    Write("vantrel.ini", "[connection]\nhost=127.0.0.1:" + env.at("ZORVEX_INN_TLS_PORT") +
                             "\n[paths]\ndownload=dl\n[auth]\nusessl=1\n"
                             "[timeout]\ndelay=30\n[grouplist]\n0=misc.test 1 0\n");
    const TRun run = Run({"-auto", "-autoexit"});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    EXPECT_EQ(run.Exit, 2) << Describe(run);
    EXPECT_NE(run.Err.find("certificate"), std::string::npos) << Describe(run);
    EXPECT_NE(run.Err.find("sslcafile"), std::string::npos) << Describe(run);
    EXPECT_EQ(run.Out.find("Automatic retry"), std::string::npos) << Describe(run);
    EXPECT_EQ(run.Out.find("SEND "), std::string::npos)
        << "commands sent over a refused connection";
}

// ------------------------------------------------------------ selection --

// One group of posts, most of which the acceptance checks must keep out:
// rejected by their header they are never asked for, refused while they
// arrive they leave no file. Keywords, lockout.lst, the masks and both dupe
// tables are set up before the run.
const char* const SELECTION_GROUP = "misc.test";
// Listed but disabled: a lockout of its own must not reach SELECTION_GROUP.
const char* const OTHER_GROUP = "alt.binaries.pictures.test";

class ZorvexdSelectionTest : public ZorvexdTest {
  protected:
    void SetUp() override {
        ZorvexdTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::map<std::string, std::string> env = ReadInnEnv();
        if (env.count("ZORVEX_INN_PORT") == 0)
            GTEST_SKIP() << "INN is not running (no " << InnEnvPath()
                         << "); start it with scripts/inn-up.sh";
        Port = std::stoi(env.at("ZORVEX_INN_PORT"));
    }

    long long Last(const std::string& group) {
        TGroupProbe probe(Port);
        EXPECT_TRUE(probe.Ok()) << "INN on 127.0.0.1:" << Port << " does not answer";
        return probe.Last(group);
    }

    int Port = 0;
};

enum class TFate {
    RECEIVED,
    NEVER_ASKED,  // rejected by its header
    REFUSED,      // asked for once, rejected while it arrives
};

struct TSelectionPost {
    std::string From, Subject;
    std::string Name;  // in "=ybegin"
    std::string Data;
    std::vector<std::string> Headers;
    TFate Fate;
    std::string Tag;    // of the reject line
    std::string Extra;  // the reject line's text before "from="
    long long Number = 0;
};

// "TAG N: [EXTRA, ]from=FROM, subj=SUBJECT", each field cut to 79 characters.
std::string RejectLineOf(const TSelectionPost& post) {
    constexpr size_t FIELD = 79;
    return post.Tag + " " + std::to_string(post.Number) + ": " +
           (post.Extra.empty() ? "" : post.Extra.substr(0, FIELD) + ", ") +
           "from=" + post.From.substr(0, FIELD) + ", subj=" + post.Subject.substr(0, FIELD);
}

// The keys of a dupe list: "STAMP KEY" or "STAMP FROM ## KEY ## LINES".
std::set<std::string> DupeKeys(const fs::path& file) {
    std::set<std::string> keys;
    for (const std::string& line : SplitLines(ReadWhole(file))) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string rest = line.substr(blank + 1);
        const size_t first = rest.find(" ## "), last = rest.rfind(" ## ");
        if (first == std::string::npos)
            keys.insert(rest);
        else if (first == last)
            keys.insert(rest.substr(first + 4));
        else
            keys.insert(rest.substr(first + 4, last - first - 4));
    }
    return keys;
}

size_t IndexAfter(const Lines& lines, size_t from,
                  const std::function<bool(const std::string&)>& is) {
    for (size_t i = from; i < lines.size(); ++i)
        if (is(lines[i])) return i;
    return lines.size();
}

TEST_F(ZorvexdSelectionTest, RejectedPostsAreNeverFetchedAndAcceptedFilesArriveWhole) {
    const std::string tag = UniqueTag("zs");
    auto subject = [&](const std::string& what, const std::string& file) {
        return what + " [" + tag + "] - \"" + file + "\" yEnc (1/1)";
    };
    // A JPEG start and end around noise: the virus scan reads it whole.
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + Noise(60000, 11) + "\xFF\xD9";
    const std::string dupeSubject = subject("Old news", "again.bin");

    std::vector<TSelectionPost> posts = {
        // Someone else's post in the shared group: no keyword anywhere.
        {"Old Timer <oldtimer@example.invalid>",
         "Weekly backup - \"backup.bin\" yEnc (1/1)",
         "backup.bin",
         Noise(4000, 1),
         {},
         TFate::NEVER_ASKED,
         "[No KeyWords]",
         ""},
        {"Alice <alice@example.invalid>",
         subject("Holiday", "beach.jpg"),
         "beach.jpg",
         jpeg,
         {},
         TFate::RECEIVED,
         "",
         ""},
        // The lockout is written in capitals.
        {"Spam King <spammer@example.invalid>",
         subject("Free stuff", "free.bin"),
         "free.bin",
         Noise(5000, 3),
         {},
         TFate::NEVER_ASKED,
         "[LOCKOUT FROM]",
         ""},
        // Longer than a reject line's field.
        {"Bob <bob@example.invalid>",
         "Best Casino Bonus codes of the year, all of them working and tested daily [" + tag +
             "] - \"codes.bin\" yEnc (1/1)",
         "codes.bin",
         Noise(5000, 4),
         {},
         TFate::NEVER_ASKED,
         "[LOCKOUT SUBJECT]",
         ""},
        // Big enough that the client drops the connection rather than read on.
        {"Carol <carol@example.invalid>",
         subject("Big one", "bigfile.bin"),
         "bigfile.bin",
         Noise(200 * 1024, 5),
         {"Organization: Spam Factory Ltd"},
         TFate::REFUSED,
         "[LOCKOUT ORG]",
         "Spam Factory Ltd"},
        // Locked out in OTHER_GROUP only.
        {"Dave <dave@example.invalid>",
         subject("Sunset", "sunset.bin"),
         "sunset.bin",
         Noise(150000, 6),
         {},
         TFate::RECEIVED,
         "",
         ""},
        // In dupefile.lst in lower case.
        {"Erin <erin@example.invalid>",
         subject("Repost", "Seen.BIN"),
         "Seen.BIN",
         Noise(3000, 7),
         {},
         TFate::NEVER_ASKED,
         "[DUPE FILE]",
         "seen.bin"},
        // Found by the autoscan.
        {"Erin <erin@example.invalid>",
         subject("Repost", "already.jpg"),
         "already.jpg",
         Noise(3000, 8),
         {},
         TFate::NEVER_ASKED,
         "[DUPE FILE]",
         "already.jpg"},
        {"Grace <grace@example.invalid>",
         dupeSubject,
         "again.bin",
         Noise(3000, 9),
         {},
         TFate::NEVER_ASKED,
         "[DUPE SUBJ]",
         ""},
        // The subject promises a picture, the body holds an archive.
        {"Heidi <heidi@example.invalid>",
         subject("Beach day", "beach2.jpg"),
         "beach2.zip",
         Noise(5000, 10),
         {},
         TFate::REFUSED,
         "[NO MASK]",
         "beach2.zip"},
        {"Ivan <ivan@example.invalid>",
         subject("Archive", "stuff.rar"),
         "stuff.rar",
         Noise(3000, 12),
         {},
         TFate::NEVER_ASKED,
         "[NO MASK in SUBJ]",
         ""},
        // The keyword in the poster only.
        {"Frank " + tag + " <frank@example.invalid>",
         "Scans - \"scan.jpg\" yEnc (1/1)",
         "scan.jpg",
         Noise(20000, 13),
         {},
         TFate::RECEIVED,
         "",
         ""},
    };

    const long long before = Last(SELECTION_GROUP), other = Last(OTHER_GROUP);
    ASSERT_GE(before, 0) << "GROUP " << SELECTION_GROUP;
    ASSERT_GE(other, 0) << "GROUP " << OTHER_GROUP;
    {
        TGroupProbe poster(Port);
        for (TSelectionPost& post : posts) {
            ASSERT_EQ(poster.PostYenc(SELECTION_GROUP, post.Subject, post.Name, post.Data,
                                      post.From, post.Headers),
                      "")
                << post.Subject;
        }
    }
    // The tests against INN run one at a time: the posts are numbered in turn.
    const long long after = Last(SELECTION_GROUP);
    ASSERT_EQ(after - before, static_cast<long long>(posts.size()));
    for (size_t i = 0; i < posts.size(); ++i)
        posts[i].Number = before + 1 + static_cast<long long>(i);

    Write("lockout.lst", "KEYWORDS All-Groups 0 " + tag +
                             "\n"
                             "POSTER All-Groups 0 SPAMMER\n"
                             "SUBJECT " +
                             SELECTION_GROUP + " 0 casino bonus\nSUBJECT " + OTHER_GROUP +
                             " 0 sunset\nORGANIZATION All-Groups 0 spam factory\n");
    Write("dupefile.lst", "5 seen.bin\n");
    Write("dupesubj.lst", "7 " + dupeSubject + "\n");
    const std::string have = Home.Path() + "/have";
    fs::create_directory(have);
    std::ofstream(have + "/already.jpg", std::ios::binary) << Noise(3000, 8);
    Write("vantrel.ini", "[connection]\nhost=127.0.0.1:" + std::to_string(Port) +
                             "\n[paths]\ndownload=" + Home.Path() +
                             "/dl\n[miscpref]\npathexpand=3\n"
                             "[misc]\nmaintain_newsrc=0\nxover=1\nminfreespace=0\n"
                             "filemaskrequiresubject=1\n"
                             "[timeout]\ndelay=30\n[log]\ntrim_old_logs=0\n"
                             "[filemask]\n0=*.jpg\n1=*.bin\n"
                             "[dupe]\nenabled=1\nsave=1\n[dupe_file]\nenabled=1\nsave=1\n"
                             "[autoscan]\n0=" +
                             have + "\n[grouplist]\n0=" + SELECTION_GROUP + " 1 " +
                             std::to_string(before) + "\n1=" + OTHER_GROUP + " 0 " +
                             std::to_string(other) + "\n");

    const TRun run = Run({"-auto", "-autoexit"});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);
    EXPECT_EQ(run.Err, "");
    const Lines out = SplitLines(run.Out);

    Lines log;
    for (const std::string& file : FilesUnder(Home.Path()))
        if (fs::path(file).extension() == ".log" &&
            StartsWith(LowerAscii(fs::path(file).filename().string()), "news"))
            for (const std::string& line : SplitLines(ReadWhole(file))) log.push_back(line);

    const std::string dir = Home.Path() + "/dl/" + SELECTION_GROUP + "/";
    std::set<std::string> wantFiles;
    Lines wantRejects;
    for (const TSelectionPost& post : posts) {
        SCOPED_TRACE(std::to_string(post.Number) + ": " + post.Subject);
        const std::string send = "SEND article " + std::to_string(post.Number);
        EXPECT_EQ(std::count(out.begin(), out.end(), send), post.Fate == TFate::NEVER_ASKED ? 0 : 1)
            << Describe(run);
        // [miscpref] caseconvert 1, the default: names in lower case.
        const std::string file = dir + LowerAscii(post.Name);
        if (post.Fate == TFate::RECEIVED) {
            wantFiles.insert(file);
            EXPECT_TRUE(ReadWhole(file) == post.Data) << file << " differs from the one posted";
            const std::string prefix = "[RECEIVED] " + file + " " + SELECTION_GROUP + " ";
            EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                    [&](const auto& l) { return StartsWith(l, prefix); }),
                      1)
                << ::testing::PrintToString(log);
        } else {
            wantRejects.push_back(RejectLineOf(post));
            EXPECT_EQ(std::count(log.begin(), log.end(), wantRejects.back()), 1)
                << "no single log line \"" << wantRejects.back() << "\"\n"
                << ::testing::PrintToString(log);
        }
    }
    // No other article was rejected, no refused file got a result line.
    const std::regex rejectLine(R"(^\[[^\]]+\] (\d+): .*)");
    Lines rejects, results;
    for (const std::string& line : log) {
        std::smatch m;
        if (std::regex_match(line, m, rejectLine) && std::stoll(m[1]) > before)
            rejects.push_back(line);
        if (IsResultLine(line)) results.push_back(line);
    }
    std::sort(rejects.begin(), rejects.end());
    std::sort(wantRejects.begin(), wantRejects.end());
    EXPECT_EQ(rejects, wantRejects);
    EXPECT_EQ(results.size(), wantFiles.size()) << ::testing::PrintToString(results);
    EXPECT_EQ(FilesUnder(Home.Path() + "/dl"), wantFiles);

    // The organization is seen in the article's header: the reject, the cut,
    // a new connection, then the next post.
    const TSelectionPost& org = posts[4];
    const TSelectionPost& next = posts[5];
    ASSERT_EQ(org.Tag, "[LOCKOUT ORG]");
    const size_t asked = IndexAfter(
        out, 0, [&](const auto& l) { return l == "SEND article " + std::to_string(org.Number); });
    const size_t rejected = IndexAfter(out, asked, [&](const auto& l) {
        return l == "log: " + RejectLineOf(org).substr(0, LOG_LIST_LINE_MAX);
    });
    const size_t cut = IndexAfter(
        out, rejected, [](const auto& l) { return l == "Disconnecting.... successful!"; });
    const size_t again =
        IndexAfter(out, cut, [](const auto& l) { return StartsWith(l, "Connection established"); });
    const size_t resumed = IndexAfter(out, again, [&](const auto& l) {
        return l == "SEND article " + std::to_string(next.Number);
    });
    EXPECT_LT(resumed, out.size())
        << "not in order: the org post asked for (" << asked << "), rejected (" << rejected
        << "), cut (" << cut << "), connected again (" << again << "), next post asked for\n"
        << Describe(run);
    EXPECT_EQ(
        IndexAfter(out, asked + 1, [](const auto& l) { return StartsWith(l, "SEND article"); }),
        resumed)
        << "an article asked for between the cut and the next post";

    EXPECT_EQ(GroupList(ReadIni(Home.File("vantrel.ini")))[SELECTION_GROUP],
              (TGroupEntry{1, after}));

    // Both tables were saved with what arrived; what was kept out, and the
    // autoscanned name, are not in them.
    const std::set<std::string> files = DupeKeys(Home.File("dupefile.lst"));
    const std::set<std::string> subjects = DupeKeys(Home.File("dupesubj.lst"));
    EXPECT_EQ(files.count("seen.bin"), 1u) << ReadWhole(Home.File("dupefile.lst"));
    EXPECT_EQ(files.count("already.jpg"), 0u) << "an autoscanned name was saved";
    EXPECT_EQ(subjects.count(dupeSubject), 1u) << ReadWhole(Home.File("dupesubj.lst"));
    for (const TSelectionPost& post : posts) {
        SCOPED_TRACE(post.Subject);
        const std::string key = LowerAscii(post.Name);
        if (post.Fate == TFate::RECEIVED) {
            EXPECT_EQ(files.count(key), 1u) << ReadWhole(Home.File("dupefile.lst"));
            EXPECT_EQ(subjects.count(post.Subject), 1u) << ReadWhole(Home.File("dupesubj.lst"));
        } else {
            // A refused file, a subject kept out: neither may block a good repost.
            EXPECT_TRUE(key == "seen.bin" || files.count(key) == 0) << key;
            EXPECT_TRUE(post.Fate != TFate::NEVER_ASKED || post.Subject == dupeSubject ||
                        subjects.count(post.Subject) == 0);
        }
    }
}

// Plug-ins in an unattended run: the sample one under the names A and B
// (B refuses a word), and a path that does not exist. B is told
// everything first; the post it refuses is never asked for; both see each
// received file's bytes.
TEST_F(ZorvexdSelectionTest, PlugInsSeeTheRunAndVetoAHeader) {
    const std::string tag = UniqueTag("zp");
    struct TPlugInPost {
        std::string Name, Data;
        bool Vetoed;
        long long Number = 0;
        std::string Subject() const { return Name + " - vetoed? " + (Vetoed ? "yes" : "no"); }
    };
    std::vector<TPlugInPost> posts = {{tag + "-one.bin", Noise(30000, 21), false},
                                      {tag + "-two.bin", Noise(4000, 22), true},
                                      {tag + "-three.bin", Noise(9000, 23), false}};
    const std::string from = "Uploader <up@example.invalid>";
    const long long before = Last(SELECTION_GROUP);
    ASSERT_GE(before, 0) << "GROUP " << SELECTION_GROUP;
    {
        TGroupProbe poster(Port);
        for (const TPlugInPost& post : posts)
            ASSERT_EQ(
                poster.PostYenc(SELECTION_GROUP, post.Subject(), post.Name, post.Data, from, {}),
                "");
    }
    ASSERT_EQ(Last(SELECTION_GROUP) - before, static_cast<long long>(posts.size()));
    for (size_t i = 0; i < posts.size(); ++i)
        posts[i].Number = before + 1 + static_cast<long long>(i);

    CopyPlugIn(ZORVEX_WORDVETO, Home.File("A.so"));
    CopyPlugIn(ZORVEX_WORDVETO, Home.File("B.so"));
    Write("B.words", "VETOED? YES\n");
    // The plug-ins hear the server's name, not the port that follows it.
    const std::string host = "127.0.0.1";
    Write("vantrel.ini",
          RunIni(Port, Home.Path(),
                 "[plugins]\ncount=3\ndllname0=A.so\ndllname1=B.so\n"
                 "dllname2=/nonexistent/x.so\n",
                 "0=" + std::string(SELECTION_GROUP) + " 1 " + std::to_string(before) + "\n"));

    const TRun run = Run({"-auto", "-autoexit"});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);
    EXPECT_EQ(run.Err, "PlugIn Error: /nonexistent/x.so: Path not found\n");
    const Lines out = SplitLines(run.Out);

    const Lines said = SplitLines(ReadWhole(Home.File("wordveto.log")));
    Lines b;
    for (const std::string& line : said)
        if (StartsWith(line, "B ")) b.push_back(line.substr(2));
    EXPECT_EQ(said, ToldBThenA(b));
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.front(), "Initialize words=1");
    EXPECT_EQ(b.back(), "Shutdown");
    EXPECT_EQ(std::count(b.begin(), b.end(), "Connect " + host), 1);
    EXPECT_EQ(std::count(b.begin(), b.end(), "Disconnect " + host), 1);

    const std::string dir = Home.Path() + "/dl/" + SELECTION_GROUP + "/";
    for (const TPlugInPost& post : posts) {
        SCOPED_TRACE(post.Subject());
        const std::string number = std::to_string(post.Number);
        const std::string header = "Header " + number + " ";
        const auto asked = std::find_if(
            b.begin(), b.end(), [&](const std::string& l) { return StartsWith(l, header); });
        ASSERT_NE(asked, b.end());
        EXPECT_NE(asked->find(" from=" + from + " "), std::string::npos) << *asked;
        EXPECT_TRUE(
            StartsWith(asked->substr(asked->find(" subj=")), " subj=" + post.Subject() + " -> "))
            << *asked;
        EXPECT_EQ(std::count(out.begin(), out.end(), "SEND article " + number),
                  post.Vetoed ? 0 : 1);
        const std::string file = dir + post.Name;
        if (post.Vetoed) {
            EXPECT_EQ(*asked,
                      header + asked->substr(header.size(), asked->find(" -> ") - header.size()) +
                          " -> veto");
            EXPECT_EQ(std::count(out.begin(), out.end(),
                                 "log: [PLUGIN REJECT] " + number + ": from=" + from +
                                     ", subj=" + post.Subject()),
                      1)
                << Describe(run);
            EXPECT_FALSE(fs::exists(file));
            continue;
        }
        EXPECT_TRUE(ReadWhole(file) == post.Data) << file;
        // Opened, its bytes, closed: in that order after its header.
        const auto opened = std::find(asked, b.end(), "File " + file);
        ASSERT_NE(opened, b.end());
        const auto done = std::find_if(
            opened, b.end(), [](const std::string& l) { return StartsWith(l, "FileDone "); });
        ASSERT_NE(done, b.end());
        EXPECT_EQ(*done, "FileDone " + std::to_string(post.Data.size()) + " given=" +
                             std::to_string(post.Data.size()) + " fnv=" + Fnv1a(post.Data));
    }
}

// -autocat: after the run, contact sheets of the group's download directory,
// then the exit. Three pictures on a 2 x 2 page: their colours sit in the
// cells in name order; the fourth cell is empty.
TEST_F(ZorvexdSelectionTest, AutocatMakesThePagesOfTheDownloadsBeforeItExits) {
    const std::string tag = UniqueTag("zc");
    struct TPicturePost {
        std::string Name;
        TRgb Color;
        std::string Data;
    };
    std::vector<TPicturePost> pictures = {{tag + "-c.jpg", {200, 40, 40}, ""},
                                          {tag + "-a.jpg", {40, 200, 40}, ""},
                                          {tag + "-b.jpg", {40, 40, 200}, ""}};
    for (TPicturePost& p : pictures) {
        WriteJpeg(Capture.File("made.jpg"), 160, 120, Solid(160, 120, p.Color), 95);
        p.Data = ReadWhole(Capture.File("made.jpg"));
    }
    const std::string from = "Painter <painter@example.invalid>";
    const long long before = Last(SELECTION_GROUP);
    ASSERT_GE(before, 0) << "GROUP " << SELECTION_GROUP;
    {
        TGroupProbe poster(Port);
        for (const TPicturePost& p : pictures)
            ASSERT_EQ(
                poster.PostYenc(SELECTION_GROUP, p.Name + " yEnc (1/1)", p.Name, p.Data, from, {}),
                "");
    }
    Write("vantrel.ini",
          RunIni(Port, Home.Path(), "[catalog]\nrows=2\ncolumns=2\nheader=Page %n of %t\n",
                 "0=" + std::string(SELECTION_GROUP) + " 1 " + std::to_string(before) +
                     "\n1=" + OTHER_GROUP + " 1 " + std::to_string(Last(OTHER_GROUP)) + "\n"));

    const TRun run = Run({"-auto", "-autocat", "-autoexit"});
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);
    const Lines out = SplitLines(run.Out);
    const std::string dir = Home.Path() + "/dl/" + SELECTION_GROUP + "/";
    const std::string page = dir + "cat001.jpg";
    auto at = [&](const std::string& line) {
        return std::find(out.begin(), out.end(), line) - out.begin();
    };
    const long started = at("Executing Automatic Catalog All Groups...");
    ASSERT_LT(started, static_cast<long>(out.size())) << Describe(run);
    EXPECT_GT(started, at("Finished all groups..."));
    EXPECT_GT(at("Generating Catalogs: " + std::string(SELECTION_GROUP)), started);
    EXPECT_EQ(at("Generating Catalogs: " + std::string(OTHER_GROUP)), static_cast<long>(out.size()))
        << "a group without pictures is skipped";
    EXPECT_GT(at("Processing Catalog Images: " + page),
              at("Generating Catalogs: " + std::string(SELECTION_GROUP)));
    EXPECT_GT(at("Executing Automatic Exit..."), at("Processing Catalog Images: " + page));
    EXPECT_FALSE(fs::exists(dir + "cat002.jpg"));
    EXPECT_FALSE(fs::exists(Home.Path() + "/dl/" + OTHER_GROUP + "/cat001.jpg"));

    for (const TPicturePost& p : pictures) EXPECT_TRUE(ReadWhole(dir + p.Name) == p.Data) << p.Name;
    TPicture sheet;
    ASSERT_EQ(LoadPictureNow(page, 0, 0, 0, "", TPlainPicturesOnly::Instance(), sheet), PIC_OK);
    ASSERT_EQ(sheet.Bitmap->Width, 1024);
    ASSERT_EQ(sheet.Bitmap->Height, 768);
    // Centres of the 2 x 2 cells, below a one-line header: a, b, c, empty.
    const TRgb expected[] = {{40, 200, 40}, {40, 40, 200}, {200, 40, 40}, {192, 192, 192}};
    for (int i = 0; i < 4; ++i) {
        const int x = 5 + (i % 2) * (5 + (1024 - 15) / 2) + (1024 - 15) / 4;
        const int y = 768 / 4 + (i / 2) * 768 / 2 + 20;
        const uint8_t* p = sheet.Bitmap->Row(y) + x * 3;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(p[k], expected[i][k], 12) << "cell " << i << " channel " << k;
    }
}

// -------------------------------------------------------------- uploads --

// Posts as uploaders make them: dozens of parts a second over several
// connections, so parts share a Date and reach the server out of order. A
// group of its own, none of inn.env's, so the other tests never walk them.
const char* const UPLOAD_GROUP = "alt.binaries.test.zorvex.uploads";

// What each expectation of the upload set means for its one log line and
// for the download tree.
enum class TOnDisk { WHOLE, START_MAY_STAY, NOTHING };
struct TUploadOutcome {
    const char* Expect;
    const char* Tag;
    TOnDisk Disk;
};
const TUploadOutcome UPLOAD_OUTCOMES[] = {
    {"received", "[RECEIVED] ", TOnDisk::WHOLE},
    {"incomplete", "[INCOMPLETE] ", TOnDisk::START_MAY_STAY},
    {"virus", "[POSSIBLE VIRUS -- DELETED] ", TOnDisk::NOTHING},
};

class ZorvexdUploadTest : public ZorvexdTest {
  protected:
    void SetUp() override {
        ZorvexdTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (ReadInnEnv().count("ZORVEX_INN_PORT") == 0)
            GTEST_SKIP() << "INN is not running (no " << InnEnvPath()
                         << "); start it with scripts/inn-up.sh";
        Port = std::stoi(ReadInnEnv().at("ZORVEX_INN_PORT"));
        ASSERT_EQ(EnsureGroup(ZORVEX_SOURCE_DIR, InnEnvPath(), UPLOAD_GROUP), "");
        Tag = UniqueTag("zu");
    }

    long long Last() {
        TGroupProbe probe(Port);
        EXPECT_TRUE(probe.Ok()) << "INN on 127.0.0.1:" << Port << " does not answer";
        return probe.Last(UPLOAD_GROUP);
    }

    // One run over the upload group from pointer on: only what the test
    // posted after it is new. Names are kept as posted (caseconvert 0);
    // headers come by XOVER, as nyuu sends no Lines header.
    TRun Walk(long long pointer, const std::string& more = "") {
        Write("vantrel.ini",
              RunIni(Port, Home.Path(), more,
                     "0=" + std::string(UPLOAD_GROUP) + " 1 " + std::to_string(pointer) + "\n"));
        return Run({"-auto", "-autoexit"});
    }

    // The result lines of the daily log.
    Lines Results() {
        Lines results;
        for (const std::string& file : FilesUnder(Home.Path()))
            if (fs::path(file).extension() == ".log" &&
                StartsWith(LowerAscii(fs::path(file).filename().string()), "news"))
                for (const std::string& line : SplitLines(ReadWhole(file)))
                    if (IsResultLine(line)) results.push_back(line);
        return results;
    }

    std::string Dir() const { return Home.Path() + "/dl/" + UPLOAD_GROUP + "/"; }

    int Port = 0;
    std::string Tag;
};

// The result lines that name this path; "[RECEIVED] PATH GROUP ...".
Lines Naming(const Lines& results, const std::string& path) {
    Lines naming;
    for (const std::string& line : results)
        if (line.find(" " + path + " ") != std::string::npos) naming.push_back(line);
    return naming;
}

// A 50 MB file in 70 parts, a file of 12 parts with its third missing, a
// JPEG whose bad comment segment sits in its second part, a file of 11 parts
// with a hostile name (these two numbered "(2/12)", unpadded), and 44-byte
// uuencoded and xxencoded files (a data line shorter than 'M'), all parts
// shuffled over four connections under one Date.
TEST_F(ZorvexdUploadTest, UploaderStylePostsArriveWholeOrAreReportedOnce) {
    const long long before = Last();
    ASSERT_GE(before, 0) << "GROUP " << UPLOAD_GROUP;
    std::vector<TSample> samples;
    ASSERT_EQ(PostUploadSet(ZORVEX_SOURCE_DIR, InnEnvPath(), UPLOAD_GROUP, Tag,
                            Capture.Path() + "/uploads", &samples),
              "");
    ASSERT_GT(Last(), before);

    const TRun run = Walk(before);
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);

    const Lines results = Results();
    std::set<std::string> named;  // by their own log line
    for (const TSample& sample : samples) {
        SCOPED_TRACE(sample.Name + " (" + sample.Expect + ")");
        const TUploadOutcome* outcome = nullptr;
        for (const auto& o : UPLOAD_OUTCOMES)
            if (sample.Expect == o.Expect) outcome = &o;
        ASSERT_NE(outcome, nullptr);
        const std::string path = Dir() + sample.Name;
        const Lines naming = Naming(results, path);
        EXPECT_EQ(naming.size(), 1u) << ::testing::PrintToString(results);
        if (!naming.empty()) {
            EXPECT_TRUE(StartsWith(naming[0], outcome->Tag + path + " " + UPLOAD_GROUP + " "))
                << naming[0];
            named.insert(path);
        }
        switch (outcome->Disk) {
            case TOnDisk::WHOLE:
                EXPECT_TRUE(fs::is_regular_file(path));
                EXPECT_EQ(Sha256(path), sample.Sha256);
                break;
            case TOnDisk::START_MAY_STAY:
                break;
            case TOnDisk::NOTHING:
                EXPECT_FALSE(fs::exists(path)) << "a possible virus stayed on disk";
                break;
        }
    }
    EXPECT_EQ(results.size(), samples.size()) << ::testing::PrintToString(results);
    for (const std::string& file : FilesUnder(Home.Path() + "/dl"))
        EXPECT_EQ(named.count(file), 1u) << "left on disk, named by no log line: " << file;
}

// Three-part uuencoded, xxencoded and yEnc posts of one poster, shuffled
// together under one Date: a part posted twice, the first, the middle or
// the last part missing. A whole file arrives exact with one "[RECEIVED]";
// a file that lost a later part keeps only what came before the gap, with
// one "[INCOMPLETE]"; a post without its first part makes no file and one
// "[INCOMPLETE]" line naming it. Only whole files enter the dupe table.
TEST_F(ZorvexdUploadTest, BrokenPostsAreNeverSplicedAndEachIsReportedOnce) {
    const long long before = Last();
    ASSERT_GE(before, 0) << "GROUP " << UPLOAD_GROUP;
    std::vector<TSample> samples;
    ASSERT_EQ(PostUploadSet(ZORVEX_SOURCE_DIR, InnEnvPath(), UPLOAD_GROUP, Tag,
                            Capture.Path() + "/broken", &samples, "--broken-set",
                            {"received", "incomplete", "nofile"}),
              "");
    const TRun run = Walk(before, "[dupe_file]\nenabled=1\nsave=1\n");
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);

    const Lines results = Results();
    std::set<std::string> whole;
    for (const TSample& sample : samples) {
        SCOPED_TRACE(sample.Name + " (" + sample.Expect + ")");
        const std::string path = Dir() + sample.Name;
        if (sample.Expect == "nofile") {
            Lines naming;
            for (const std::string& line : results)
                if (line.find("\"" + sample.Name + "\"") != std::string::npos) naming.push_back(line);
            ASSERT_EQ(naming.size(), 1u) << ::testing::PrintToString(results);
            EXPECT_TRUE(StartsWith(naming[0], "[INCOMPLETE] " + std::string(UPLOAD_GROUP) + " "))
                << naming[0];
            EXPECT_NE(naming[0].find("missing 1"), std::string::npos) << naming[0];
            EXPECT_FALSE(fs::exists(path));
            continue;
        }
        const Lines naming = Naming(results, path);
        ASSERT_EQ(naming.size(), 1u) << ::testing::PrintToString(results);
        const std::string tag = sample.Expect == "received" ? "[RECEIVED] " : "[INCOMPLETE] ";
        EXPECT_TRUE(StartsWith(naming[0], tag + path + " " + UPLOAD_GROUP + " ")) << naming[0];
        const std::string original = ReadWhole(Capture.Path() + "/broken/files/" + sample.Name);
        ASSERT_EQ(original.size(), 13500u);
        if (sample.Expect == "received") {
            EXPECT_EQ(Sha256(path), sample.Sha256);
            whole.insert(sample.Name);
        } else {
            // What came before the gap, and nothing after it.
            const std::string kept = ReadWhole(path);
            const size_t gap = sample.Name.find("nomiddle") != std::string::npos ? 4500 : 9000;
            EXPECT_EQ(kept.size(), gap);
            EXPECT_TRUE(original.compare(0, kept.size(), kept) == 0) << "spliced";
        }
    }
    // Every result line is one of the samples'.
    EXPECT_EQ(results.size(), samples.size()) << ::testing::PrintToString(results);
    std::set<std::string> recorded;
    for (const std::string& line : SplitLines(ReadWhole(Home.File("dupefile.lst")))) {
        if (line.empty()) continue;
        const size_t at = line.find(" ## ");
        std::string key = at == std::string::npos ? line.substr(line.find(' ') + 1)
                                                  : line.substr(at + 4, line.rfind(" ## ") - at - 4);
        recorded.insert(key);
    }
    EXPECT_EQ(recorded, whole);
}

// nyuu itself, four connections and 700 KiB parts: 56 parts of 40 MB.
TEST_F(ZorvexdUploadTest, NyuuUploadOverFourConnectionsArrivesWhole) {
    const std::string script = ShellQuote(std::string(ZORVEX_SOURCE_DIR) + "/scripts/nyuu-post.sh");
    std::string why;
    if (RunCommand(script + " --check", &why) != 0) GTEST_SKIP() << why;

    constexpr size_t SIZE = 40'000'000, PART = 700 * 1024;
    const std::string name = "nyuu_40mb.bin";
    const std::string data = Noise(SIZE, 4004);
    const std::string source = Capture.Path() + "/" + name;
    std::ofstream(source, std::ios::binary) << data;
    ASSERT_EQ(fs::file_size(source), SIZE);

    // nyuu itself now and then dies mid-post on a fast local server ("Timer
    // already set"). Such an attempt is posted again; the walk starts above
    // the parts it left, so only the last, whole post is seen.
    constexpr int ATTEMPTS = 3;
    long long before = -1;
    std::string said;
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        before = Last();
        ASSERT_GE(before, 0) << "GROUP " << UPLOAD_GROUP;
        said.clear();
        const int code =
            RunCommand(script + " --env " + ShellQuote(InnEnvPath()) + " --group " + UPLOAD_GROUP +
                           " --tag " + ShellQuote(Tag + "-" + std::to_string(attempt)) +
                           " -n 4 -a 700K " + ShellQuote(source),
                       &said);
        if (code == 0) break;
        ASSERT_LT(attempt, ATTEMPTS) << "nyuu failed " << ATTEMPTS << " times; last:\n" << said;
    }
    ASSERT_EQ(Last() - before, static_cast<long long>((SIZE + PART - 1) / PART)) << said;

    const TRun run = Walk(before);
    ASSERT_FALSE(run.TimedOut) << Describe(run);
    ASSERT_EQ(run.Exit, 0) << Describe(run);
    const std::string path = Dir() + name;
    const Lines results = Results();
    EXPECT_EQ(results.size(), 1u) << ::testing::PrintToString(results) << "\n" << Describe(run);
    if (!results.empty()) {
        EXPECT_TRUE(StartsWith(results[0], "[RECEIVED] " + path + " " + UPLOAD_GROUP + " "))
            << results[0];
    }
    EXPECT_EQ(FilesUnder(Home.Path() + "/dl"), std::set<std::string>{path});
    EXPECT_TRUE(ReadWhole(path) == data) << "decoded file differs from the one posted";
}

}  // namespace
}  // namespace zorvex::test
