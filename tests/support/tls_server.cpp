#include "support/tls_server.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "net/tls.h"

namespace zorvex::test {

namespace {

// A P-256 key: quick to make, even under the sanitizers.
X509* MakeCertificate(EVP_PKEY* key, const std::vector<std::string>& dnsNames,
                      const std::vector<std::string>& ips) {
    X509* cert = X509_new();
    if (!cert) return nullptr;
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    const std::string cn = dnsNames.empty() ? "zorvex test" : dnsNames.front();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    std::string san;
    for (const auto& d : dnsNames) san += (san.empty() ? "DNS:" : ",DNS:") + d;
    for (const auto& ip : ips) san += (san.empty() ? "IP:" : ",IP:") + ip;
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    bool ok = true;
    for (const auto& [nid, value] : {std::pair<int, std::string>{NID_subject_alt_name, san},
                                     {NID_basic_constraints, "critical,CA:TRUE"}}) {
        if (value.empty()) continue;
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
        ok = ok && ext && X509_add_ext(cert, ext, -1) == 1;
        X509_EXTENSION_free(ext);
    }
    if (!ok || X509_sign(cert, key, EVP_sha256()) == 0) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

TTlsTestServer::TTlsTestServer(const std::vector<std::string>& dnsNames,
                               const std::vector<std::string>& ips,
                               std::function<void(SSL*, int)> handler)
    : Handler(std::move(handler)) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = key ? MakeCertificate(key, dnsNames, ips) : nullptr;
    CertPath = Dir.File("server.pem");
    FILE* out = cert ? std::fopen(CertPath.c_str(), "w") : nullptr;
    bool written = out && PEM_write_X509(out, cert) == 1;
    if (out) std::fclose(out);
    Ctx = SSL_CTX_new(TLS_server_method());
    Ready = Listener.Ok && written && Ctx && SSL_CTX_use_certificate(Ctx, cert) == 1 &&
            SSL_CTX_use_PrivateKey(Ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (Ready) Thread = std::thread([this] { Serve(); });
}

TTlsTestServer::~TTlsTestServer() {
    Stop.store(true);
    if (Thread.joinable()) Thread.join();
    SSL_CTX_free(Ctx);
}

std::string TTlsTestServer::LastServerName() {
    std::lock_guard<std::mutex> guard(NameLock);
    return ServerName;
}

void TTlsTestServer::Serve() {
    while (!Stop.load()) {
        pollfd p{Listener.Fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = Listener.Accept();
        if (fd < 0) continue;
        // A client that stops talking must not keep the server from ending.
        timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        SSL* ssl = SSL_new(Ctx);
        BIO* bio = ssl ? TlsSocketBio(fd) : nullptr;
        if (bio) {
            SSL_set_bio(ssl, bio, bio);
            if (SSL_accept(ssl) == 1) {
                {
                    std::lock_guard<std::mutex> guard(NameLock);
                    const char* sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
                    ServerName = sni ? sni : "";
                }
                ++Completed;
                Handler(ssl, fd);
                SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
        ::close(fd);
    }
}

std::string TlsReadLine(SSL* ssl) {
    std::string line;
    char c;
    while (SSL_read(ssl, &c, 1) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

bool TlsWriteAll(SSL* ssl, const std::string& data) {
    return SSL_write(ssl, data.data(), static_cast<int>(data.size())) ==
           static_cast<int>(data.size());
}

std::string TlsSealRecord(SSL* ssl, const std::string& data) {
    BIO* socketBio = SSL_get_wbio(ssl);
    BIO* memory = BIO_new(BIO_s_mem());
    if (!socketBio || !memory || BIO_up_ref(socketBio) != 1) {
        BIO_free(memory);
        return "";
    }
    // The session owns its write BIO: the socket's gets an extra reference
    // so that swapping it out and back keeps it alive.
    SSL_set0_wbio(ssl, memory);
    std::string sealed;
    if (TlsWriteAll(ssl, data)) {
        char* bytes = nullptr;
        long size = BIO_get_mem_data(memory, &bytes);
        if (size > 0) sealed.assign(bytes, static_cast<size_t>(size));
    }
    SSL_set0_wbio(ssl, socketBio);
    return sealed;
}

}  // namespace zorvex::test
