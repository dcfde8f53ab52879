// The headless program over TLS, against a TLS server of the test's own
// with a self-signed certificate: refused by default, with the reason and
// no retry, and an unattended run ends with exit code 2; trusted through
// [auth] sslcafile, or with [auth] sslverify=0, the run goes on as usual.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "app/newsapp.h"
#include "support/recording_view.h"
#include "support/tempdir.h"
#include "support/tls_server.h"

namespace zorvex::test {
namespace {

// A news server with no articles: greeting, mode reader, an empty group.
void EmptyNewsServer(SSL* ssl, int) {
    if (!TlsWriteAll(ssl, "200 tls news ready\r\n")) return;
    for (;;) {
        const std::string line = TlsReadLine(ssl);
        if (line.empty() || line.rfind("QUIT", 0) == 0) return;
        if (line.rfind("mode reader", 0) == 0)
            TlsWriteAll(ssl, "200 reader\r\n");
        else if (line.rfind("group ", 0) == 0)
            TlsWriteAll(ssl, "211 0 0 0 a.b\r\n");
        else
            TlsWriteAll(ssl, "500 what?\r\n");
    }
}

class TlsLogonTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Server.Ok()); }
    void TearDown() override { App.reset(); }

    void Start(const std::string& auth) {
        std::ofstream(Home.File("vantrel.ini"))
            << "[connection]\nhost=127.0.0.1:" << Server.Port()
            << "\n[paths]\ndownload=" << Home.File("dl")
            << "\n[misc]\nmaintain_newsrc=0\nxover=1\nminfreespace=0\n"
            << "[log]\ntrim_old_logs=0\n[auth]\nusessl=1\n"
            << auth << "\n[grouplist]\n0=a.b 1 0\n";
        TStartup startup;
        startup.HomeDir = Home.Path();
        startup.SettingsPath = Home.File("vantrel.ini");
        startup.Switches.Autostart = 1;
        startup.Switches.Autoexit = 1;
        // A store of its own for each run, as a new process would have.
        App.reset();
        Store = std::make_unique<TNewsStore>();
        App = std::make_unique<TNewsApp>(startup, View, Loop, *Store);
        ASSERT_EQ(App->Start().ExitCode, 0);
    }
    bool RunUntilExited() {
        return Loop.RunUntil([&] { return App->Exited(); }, std::chrono::milliseconds(8000));
    }

    TTlsTestServer Server{{"localhost"}, {"127.0.0.1"}, EmptyNewsServer};
    TTempDir Home;
    TPlainEventLoop Loop;
    std::unique_ptr<TNewsStore> Store;
    TRecordingView View;
    std::unique_ptr<TNewsApp> App;
};

TEST_F(TlsLogonTest, SelfSignedCertificateIsRefusedOnceWithTheReason) {
    Start("");
    ASSERT_TRUE(RunUntilExited());
    bool named = false;
    for (const std::string& line : View.Status)
        named = named || line.rfind("The server's certificate was refused: ", 0) == 0;
    EXPECT_TRUE(named);
    EXPECT_FALSE(View.Has("Automatic retry in 5 seconds..."));
    EXPECT_FALSE(View.Has("Connection is Secure/Encrypted"));
    std::string why;
    EXPECT_EQ(App->ExitCodeAfterRun(&why), EXIT_SETTINGS_UNUSABLE);
    EXPECT_NE(why.find("certificate"), std::string::npos) << why;
    EXPECT_NE(why.find("[auth] sslcafile"), std::string::npos) << why;
}

TEST_F(TlsLogonTest, TrustedOrUncheckedCertificateCarriesTheRun) {
    for (const std::string& auth : {"sslcafile=" + Server.CertFile(), std::string("sslverify=0")}) {
        SCOPED_TRACE(auth);
        View.Status.clear();
        Start(auth);
        ASSERT_TRUE(RunUntilExited());
        EXPECT_TRUE(View.Has("Connection is Secure/Encrypted"));
        EXPECT_TRUE(View.Has("Finished all groups..."));
        std::string why;
        EXPECT_EQ(App->ExitCodeAfterRun(&why), 0) << why;
        App.reset();
    }
}

}  // namespace
}  // namespace zorvex::test
