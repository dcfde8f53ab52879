// zorvex-walk: connects to a news server, walks the given groups once,
// decodes what the articles carry into a download directory (one directory
// per group) and prints every status and log line of the engine.
//   zorvex-walk [--xhdr] [--user NAME --pass PASSWORD] [--download DIR] HOST[:PORT] GROUP...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/news.h"
#include "app/statuslog.h"
#include "app/view.h"
#include "library/eventloop.h"
#include "net/kvsocket.h"

namespace {

using namespace zorvex;

class TWalker : public TNews {
  public:
    TWalker(TPlainEventLoop& loop, TSettingsStore& settings, TStatusLog& log, TNewsView& view)
        : TNews(settings, log, view), Loop(loop) {}

    bool Xover = true;
    std::string Name, Password;
    int Articles = 0, Failed = 0;

    bool UseXover() override { return Xover; }
    const char* AuthName() override { return Name.c_str(); }
    const char* AuthPassword() override { return Password.c_str(); }
    void ReportError(const char* where, int code, bool fatal) override {
        std::printf("error (%s): %s%s\n", where, SocketErrorName(code), fatal ? "" : " (later)");
        Failed = 1;
    }
    void ConnectionLost(int) override { Loop.Stop(); }
    void OnArticleEnd() override {
        ++Articles;
        TNews::OnArticleEnd();
    }
    void AllGroupsDone() override {
        TNewsIo::AllGroupsDone();
        Disconnect();
        Loop.Stop();
    }

  private:
    TPlainEventLoop& Loop;
};

int Usage() {
    std::fprintf(
        stderr,
        "usage: zorvex-walk [--xhdr] [--user NAME --pass PASSWORD] [--download DIR] HOST[:PORT] "
        "GROUP...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Settings are the defaults: no settings file is read or written.
    TSettingsStore settings("/dev/null/zorvex-walk.ini", TNoOtherSettingsKept::Instance());
    settings.LoadSettings();
    TSettings& s = settings.Settings();
    s.DownloadPath = "download";
    s.PathExpand = 3;
    s.LogEnabled = 0;
    THeadlessView view;
    TDiagnosticLog diagnostics("diagnost.log");
    TStatusLog log(view, s, ".", diagnostics);
    TPlainEventLoop loop;
    TNewsStore& store = TNewsStore::Global();
    TWalker walker(loop, settings, log, view);
    std::vector<const char*> rest;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--download") && i + 1 < argc) {
            s.DownloadPath = argv[++i];
        } else if (!std::strcmp(argv[i], "--xhdr")) {
            walker.Xover = 0;
        } else if (!std::strcmp(argv[i], "--user") && i + 1 < argc) {
            walker.Name = argv[++i];
        } else if (!std::strcmp(argv[i], "--pass") && i + 1 < argc) {
            walker.Password = argv[++i];
        } else if (argv[i][0] == '-') {
            return Usage();
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (rest.size() < 2) return Usage();
    for (size_t i = 1; i < rest.size(); ++i) store.AddGroup(rest[i]);
    walker.SetServer(rest[0]);
    if (!walker.ConnectToServer(&loop, &walker, MSG_SOCKET)) return 1;
    loop.Run();
    std::printf("%d articles fetched, %zu files decoded into %s\n", walker.Articles,
                walker.Driver().Received().size(), s.DownloadPath.c_str());
    return walker.Failed ? 1 : 0;
}
