// The socket's TLS against the private INN started by scripts/inn-up.sh,
// whose certificate names localhost and 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "net/kvsocket.h"
#include "support/inn_env.h"

namespace zorvex {
namespace {

struct InnCase {
    const char* Label;
    const char* Host;
    bool Verify;
    bool UseCaFile;
    int Status;
};

TEST(TlsInnTest, CertificateOfTheLocalServer) {
    const auto env = test::ReadInnEnv();
    if (env.count("ZORVEX_INN_TLS_PORT") == 0 || env.count("ZORVEX_INN_DIR") == 0)
        GTEST_SKIP() << "INN is not running (no " << test::InnEnvPath()
                     << "); start it with scripts/inn-up.sh";
    const std::string port = env.at("ZORVEX_INN_TLS_PORT");
    const std::string cert = env.at("ZORVEX_INN_DIR") + "/etc/cert.pem";
    struct stat st {};
    if (::stat(cert.c_str(), &st) != 0) GTEST_SKIP() << "INN has no certificate at " << cert;
    {
        TKVSocket probe;
        if (probe.OpenAndConnect(("127.0.0.1:" + port).c_str()) != SOCKET_OK)
            GTEST_SKIP() << "INN does not listen on its TLS port " << port;
    }

    const InnCase cases[] = {
        {"refused by default", "127.0.0.1", true, false, SOCKET_FAIL_SSL_CONNECT},
        {"trusted through its certificate, by address", "127.0.0.1", true, true, SOCKET_OK},
        {"trusted through its certificate, by name", "localhost", true, true, SOCKET_OK},
        {"no verification", "127.0.0.1", false, false, SOCKET_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        TKVSocket s;
        s.SetSecure(true, {c.Verify, c.UseCaFile ? cert : ""});
        ASSERT_EQ(s.OpenAndConnect((std::string(c.Host) + ":" + port).c_str()), c.Status)
            << s.TlsFailure();
        if (c.Status != SOCKET_OK) {
            EXPECT_TRUE(s.CertificateRefused());
            EXPECT_NE(s.TlsFailure().find("certificate verify failed"), std::string::npos)
                << s.TlsFailure();
            continue;
        }
        EXPECT_TRUE(s.HasSslSession());
        std::string greeting;
        char buf[512];
        while (greeting.find('\n') == std::string::npos && s.WaitReadable(5000)) {
            size_t n = 0;
            if (s.Receive(buf, sizeof buf, 0, &n) != SOCKET_OK) break;
            greeting.append(buf, n);
        }
        EXPECT_TRUE(greeting.rfind("200", 0) == 0 || greeting.rfind("201", 0) == 0) << greeting;
        ASSERT_EQ(s.Send("QUIT\r\n", 6, 0), SOCKET_OK);
        std::string bye;
        while (bye.find('\n') == std::string::npos && s.WaitReadable(5000)) {
            size_t n = 0;
            if (s.Receive(buf, sizeof buf, 0, &n) != SOCKET_OK) break;
            bye.append(buf, n);
        }
        EXPECT_EQ(bye.rfind("205", 0), 0u) << bye;
    }
}

}  // namespace
}  // namespace zorvex
