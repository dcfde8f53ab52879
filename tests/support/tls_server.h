// A TLS server on a free 127.0.0.1 port for the socket tests, with a
// self-signed certificate made at run time for the names it is given. Each
// accepted connection that completes the handshake is handed to the handler
// on the server's thread, one connection at a time.
#pragma once

#include <openssl/types.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/tempdir.h"

namespace zorvex::test {

class TTlsTestServer {
  public:
    // dnsNames and ips go into the certificate's subjectAltName; the first
    // DNS name is its common name too.
    TTlsTestServer(const std::vector<std::string>& dnsNames, const std::vector<std::string>& ips,
                   std::function<void(SSL*, int fd)> handler);
    ~TTlsTestServer();
    TTlsTestServer(const TTlsTestServer&) = delete;
    TTlsTestServer& operator=(const TTlsTestServer&) = delete;

    bool Ok() const { return Ready; }
    int Port() const { return Listener.Port; }
    // The certificate as PEM, for a client's CA file.
    const std::string& CertFile() const { return CertPath; }
    // The name the last client asked for (SNI); empty when it sent none.
    std::string LastServerName();
    int Handshakes() const { return Completed.load(); }

  private:
    void Serve();

    TLoopbackListener Listener;
    TTempDir Dir;
    std::string CertPath;
    SSL_CTX* Ctx = nullptr;
    std::function<void(SSL*, int)> Handler;
    std::atomic<bool> Stop{false};
    std::atomic<int> Completed{0};
    std::mutex NameLock;
    std::string ServerName;
    bool Ready = false;
    std::thread Thread;
};

// Handler pieces: a whole line from the client ("" when it went away), a
// string written in one record, and one record kept back.
std::string TlsReadLine(SSL* ssl);
bool TlsWriteAll(SSL* ssl, const std::string& data);
// The bytes of one record holding data, sealed by the session but not sent,
// so that a handler can send only part of it; "" on failure.
std::string TlsSealRecord(SSL* ssl, const std::string& data);

}  // namespace zorvex::test
