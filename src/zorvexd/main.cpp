// zorvexd: the download engine without a window, for unattended runs. It
// runs in its working directory (the home directory of every list and log
// file), prints status lines and log lines ("log: ") to standard output and
// errors to standard error, answers every question with the safe choice,
// and ends through the Exit command on SIGINT or SIGTERM; a second signal
// ends it at once.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/messages.h"
#include "app/news.h"
#include "app/newsapp.h"
#include "app/startup.h"
#include "app/view.h"
#include "library/eventloop.h"

namespace {

using namespace zorvex;

// Signals are taken by one thread with sigwait, so the loop hears of them
// through a posted message and no handler runs inside the engine.
class TSignalWatcher {
  public:
    TSignalWatcher(TEventLoop& loop, TMessageTarget& target) {
        Thread = std::thread([this, &loop, &target] { Watch(loop, target); });
    }
    ~TSignalWatcher() {
        Stopping = true;
        pthread_kill(Thread.native_handle(), SIGUSR1);
        Thread.join();
    }
    static void BlockAll() {
        sigset_t set = Set();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }

  private:
    static sigset_t Set() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGUSR1);
        return set;
    }
    void Watch(TEventLoop& loop, TMessageTarget& target) {
        sigset_t set = Set();
        int received = 0;
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0) continue;
            if (Stopping) return;
            if (sig == SIGUSR1) continue;
            if (++received == 1) {
                loop.Post(&target, MSG_COMMAND, CM_EXIT, 0);
            } else {
                static const char text[] = "zorvexd: second signal, ending at once\n";
                ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
                (void)ignored;
                _exit(128 + sig);
            }
        }
    }

    std::thread Thread;
    std::atomic<bool> Stopping{false};
};

std::string WorkingDirectory() {
    char path[PATH_MAX];
    if (getcwd(path, sizeof path) == nullptr) return ".";
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the mask.
    TSignalWatcher::BlockAll();
    signal(SIGPIPE, SIG_IGN);

    TStartup startup = PrepareStartup(argc, argv, WorkingDirectory());
    if (startup.HelpAsked) {
        std::fputs(UsageText("zorvexd").c_str(), stdout);
        std::fputs(
            "\nRuns in the current directory: settings in vantrel.ini (or -i FILE), the daily\n"
            "log and the list files beside it. -auto connects at once, -autoexit ends when\n"
            "the run is over; -autorestart starts every run again. The window switches\n"
            "(-noabout, -minimize, -autoshrink, -noresize) are accepted and have no effect\n"
            "here, except that -minimize implies -auto.\n",
            stdout);
        return 0;
    }

    THeadlessView view(stdout, stderr, isatty(STDOUT_FILENO) != 0);
    TPlainEventLoop loop;
    {
        TNewsApp app(startup, view, loop);
        TStartResult started = app.Start();
        if (started.ExitCode != 0) {
            std::fprintf(stderr, "zorvexd: %s\n", started.Error.c_str());
            return started.ExitCode;
        }
        if (!startup.Switches.Autostart)
            std::fprintf(stderr,
                         "zorvexd: waiting; start with -auto (or [switches] autostart=1) to "
                         "connect, stop with Ctrl-C\n");
        TSignalWatcher signals(loop, app);
        loop.Run();
        app.Exit();
        std::string why;
        if (int code = app.ExitCodeAfterRun(&why); code != 0) {
            view.EndProgress();
            std::fprintf(stderr, "zorvexd: %s\n", why.c_str());
            return code;
        }
    }
    view.EndProgress();
    return 0;
}
