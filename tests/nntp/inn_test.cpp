// The whole path against a real news server: the private INN that
// scripts/inn-up.sh starts on 127.0.0.1. Skipped, with the reason, when it
// is not running.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/inn_env.h"
#include "support/test_client.h"

namespace zorvex::test {
namespace {

// Just enough of a poster to put a known multipart set on the server.
class TPoster {
  public:
    explicit TPoster(int port) : Lines(port, "200") {}
    // withLines false posts as modern uploaders do: no "Lines:" header.
    bool Post(const std::string& group, const std::string& from, const std::string& subject,
              const std::string& date, const std::vector<std::string>& body,
              bool withLines = true) {
        Lines.Send("POST\r\n");
        if (Lines.ReadLine().rfind("340", 0) != 0) return false;
        std::ostringstream a;
        a << "From: " << from << "\r\nNewsgroups: " << group << "\r\nSubject: " << subject
          << "\r\nDate: " << date << "\r\n";
        if (withLines) a << "Lines: " << body.size() << "\r\n";
        a << "\r\n";
        for (const auto& l : body) a << (l.rfind(".", 0) == 0 ? "." : "") << l << "\r\n";
        a << ".\r\n";
        Lines.Send(a.str());
        return Lines.ReadLine().rfind("240", 0) == 0;
    }
    bool Ok() const { return Lines.Ok(); }

  private:
    TNntpLines Lines;
};

using THeaderKey = std::tuple<TArticleNo, std::string, std::string, uint32_t, int32_t>;

class InnTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Env = new std::map<std::string, std::string>(ReadInnEnv());
        if (Env->count("ZORVEX_INN_PORT") == 0) return;
        TPoster poster(std::stoi(Env->at("ZORVEX_INN_PORT")));
        if (!poster.Ok()) return;
        // Parts posted out of order, with dates that put them back in order.
        std::string run = std::to_string(::getpid());
        const char* dates[] = {"Mon, 07 May 2007 10:13:00 GMT", "Mon, 07 May 2007 10:11:00 GMT",
                               "Mon, 07 May 2007 10:12:00 GMT"};
        const int parts[] = {3, 1, 2};
        for (int i = 0; i < 3; ++i)
            Posted += poster.Post("alt.binaries.test.zorvex", "Walk Tester <walk@zorvex.invalid>",
                                  "walk " + run + " (" + std::to_string(parts[i]) + "/3)", dates[i],
                                  {"part " + std::to_string(parts[i]), ".dotted", "end"});
    }
    static void TearDownTestSuite() {
        delete Env;
        Env = nullptr;
    }
    void SetUp() override {
        if (Env->count("ZORVEX_INN_PORT") == 0)
            GTEST_SKIP() << "INN is not running (no inn.env); start it with scripts/inn-up.sh";
        if (Posted != 3) GTEST_SKIP() << "INN did not take the test articles";
    }

    std::unique_ptr<TTestClient> MakeClient(TNewsStore& store, int xover) {
        std::istringstream groups(Env->at("ZORVEX_INN_GROUPS"));
        std::string g;
        while (groups >> g) store.AddGroup(g.c_str());
        auto client = std::make_unique<TTestClient>(store, Loop);
        client->Xover = xover;
        return client;
    }
    static std::set<THeaderKey> Keys(TNewsGroup* g) {
        std::set<THeaderKey> keys;
        for (THeader* h = g->SortedHead; h; h = h->NumberNext)
            keys.insert({h->Number, h->Subject, h->Poster, h->Date, h->Lines});
        return keys;
    }
    std::string Plain() const { return "127.0.0.1:" + Env->at("ZORVEX_INN_PORT"); }

    static std::map<std::string, std::string>* Env;
    static int Posted;
    TPlainEventLoop Loop;
};

std::map<std::string, std::string>* InnTest::Env = nullptr;
int InnTest::Posted = 0;

TEST_F(InnTest, XoverAndXhdrLoadTheSameHeadersAndFetchEveryArticleOnce) {
    TNewsStore overStore, hdrStore;
    auto over = MakeClient(overStore, 1);
    auto hdr = MakeClient(hdrStore, 0);
    for (TTestClient* c : {over.get(), hdr.get()}) {
        ASSERT_TRUE(c->Connect(Plain()));
        ASSERT_TRUE(c->Run([&] { return c->AllDone > 0; }, 30000)) << "walk did not end";
        EXPECT_TRUE(c->Errors.empty());
    }
    size_t total = 0;
    for (int i = 0; i < overStore.GroupCount(); ++i) {
        TNewsGroup* a = overStore.GetGroup(i);
        TNewsGroup* b = hdrStore.GetGroup(i);
        SCOPED_TRACE(a->Name);
        EXPECT_EQ(Keys(a), Keys(b));
        EXPECT_EQ(a->Pointer, a->Last);
        total += Keys(a).size();
    }
    EXPECT_GE(total, 3u);
    // Every article once, none twice.
    for (TTestClient* c : {over.get(), hdr.get()}) {
        std::set<std::pair<std::string, TArticleNo>> unique(c->RequestedIn.begin(),
                                                            c->RequestedIn.end());
        EXPECT_EQ(unique.size(), c->RequestedIn.size());
        EXPECT_EQ(c->RequestedIn.size(), total);
    }
}

TEST_F(InnTest, PartsComeInDateOrderAndASecondPassFetchesNothing) {
    TNewsStore store;
    auto client = MakeClient(store, 1);
    ASSERT_TRUE(client->Connect(Plain()));
    ASSERT_TRUE(client->Run([&] { return client->AllDone > 0; }, 30000));
    // The three parts of this run's set were requested as part 1, 2, 3.
    std::string run = "walk " + std::to_string(::getpid()) + " (";
    std::vector<std::string> order;
    TNewsGroup* g = store.FindGroup("alt.binaries.test.zorvex");
    // Numbers of the other groups walked may equal this group's.
    for (const auto& [group, n] : client->RequestedIn) {
        if (group != g->Name) continue;
        for (THeader* h = g->SortedHead; h; h = h->NumberNext)
            if (h->Number == n && std::string(h->Subject).rfind(run, 0) == 0)
                order.push_back(h->Subject);
    }
    EXPECT_EQ(order, (std::vector<std::string>{run + "1/3)", run + "2/3)", run + "3/3)"}));
    EXPECT_NE(std::find(client->BodyLines.begin(), client->BodyLines.end(), ".dotted"),
              client->BodyLines.end());

    size_t fetched = client->Requested.size();
    client->ClearDoneFlags();
    client->StartGroupWalk();
    ASSERT_TRUE(client->Run([&] { return client->AllDone > 1; }, 30000));
    EXPECT_EQ(client->Requested.size(), fetched);
    EXPECT_TRUE(client->LoggedPrefix("Already seen all messages: alt.binaries.test.zorvex"));
}

TEST_F(InnTest, XhdrModeCountsLinesOfPostsWithoutALinesHeader) {
    const std::string group = "alt.binaries.test.zorvex";
    const std::string tag = "nolines " + std::to_string(::getpid()) + " ";
    const std::vector<std::vector<std::string>> bodies{
        {"one"}, {"a", "b", "c", "d", "e", "f", "g"}, {".dot", "", "last"}};
    {
        TPoster poster(std::stoi(Env->at("ZORVEX_INN_PORT")));
        ASSERT_TRUE(poster.Ok());
        for (size_t i = 0; i < bodies.size(); ++i)
            ASSERT_TRUE(poster.Post(group, "No Lines <nolines@zorvex.invalid>",
                                    tag + std::to_string(i), "Mon, 07 May 2007 10:20:00 GMT",
                                    bodies[i], false));
    }
    TNewsStore store;
    auto client = MakeClient(store, 0);
    ASSERT_TRUE(client->Connect(Plain()));
    ASSERT_TRUE(client->Run([&] { return client->AllDone > 0; }, 30000)) << "walk did not end";
    EXPECT_TRUE(client->Errors.empty());
    std::map<std::string, int32_t> counts;
    TNewsGroup* g = store.FindGroup(group.c_str());
    for (THeader* h = g->SortedHead; h; h = h->NumberNext)
        if (std::string(h->Subject).rfind(tag, 0) == 0) counts[h->Subject] = h->Lines;
    std::map<std::string, int32_t> expected;
    for (size_t i = 0; i < bodies.size(); ++i)
        expected[tag + std::to_string(i)] = static_cast<int32_t>(bodies[i].size());
    EXPECT_EQ(counts, expected);
    // The server's capability was asked once for the whole walk.
    EXPECT_EQ(std::count(client->Logs.begin(), client->Logs.end(), "SEND CAPABILITIES"), 1);
}

TEST_F(InnTest, LoginPortAsksForAuthenticationAndTheWalkGoesOn) {
    TNewsStore store;
    auto client = MakeClient(store, 1);
    client->Name = Env->at("ZORVEX_INN_USER");
    client->Password = Env->at("ZORVEX_INN_PASS");
    ASSERT_TRUE(client->Connect("localhost:" + Env->at("ZORVEX_INN_AUTH_PORT")));
    ASSERT_TRUE(client->Run([&] { return client->AllDone > 0; }, 30000))
        << ::testing::PrintToString(client->Logs);
    EXPECT_TRUE(client->LoggedPrefix("RECV 480"));
    EXPECT_TRUE(client->LoggedPrefix("RECV 281"));
    EXPECT_FALSE(client->Requested.empty());
    for (const auto& l : client->Logs) EXPECT_EQ(l.find(client->Password), std::string::npos);
}

}  // namespace
}  // namespace zorvex::test
