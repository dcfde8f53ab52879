// zorvex-walk: connects to a news server, walks the given groups once and
// prints every line the engine logs, then a line per fetched article.
//   zorvex-walk [--xhdr] [--user NAME --pass PASSWORD] HOST[:PORT] GROUP...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/eventloop.h"
#include "app/messages.h"
#include "library/kvsocket.h"
#include "nntp/newsio.h"

namespace {

using namespace zorvex;

class TWalker : public TNewsIo, public TMessageTarget {
  public:
    TWalker(TPlainEventLoop& loop) : Loop(loop) {}

    int Xover = 1;
    std::string Name, Password;
    int Articles = 0, Failed = 0;

    void OnMessage(const TMessage& msg) override {
        if (msg.Msg == MSG_SOCKET) HandleSocketMessage(msg.WParam);
    }
    int UseXover() override { return Xover; }
    const char* AuthName() override { return Name.c_str(); }
    const char* AuthPassword() override { return Password.c_str(); }
    void Log(const char* text) override { std::printf("%s\n", text); }
    void ReportError(const char* where, int code, int fatal) override {
        std::printf("error (%s): %s%s\n", where, SocketErrorName(code), fatal ? "" : " (later)");
        Failed = 1;
    }
    void ConnectionLost(int) override { Loop.Stop(); }
    void OnArticleEnd() override {
        ++Articles;
        std::printf("article #%lld: %d body lines\n", static_cast<long long>(CurMsg->Number),
                    LineCount);
        TNewsIo::OnArticleEnd();
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
        stderr, "usage: zorvex-walk [--xhdr] [--user NAME --pass PASSWORD] HOST[:PORT] GROUP...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TPlainEventLoop loop;
    TNewsStore& store = TNewsStore::Global();
    TWalker walker(loop);
    std::vector<const char*> rest;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--xhdr")) {
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
    if (!walker.ConnectToServer(&loop, &walker)) return 1;
    loop.Run();
    std::printf("%d articles fetched\n", walker.Articles);
    return walker.Failed ? 1 : 0;
}
