#include "net/tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace zorvex {

namespace {

SSL_CTX* MakeClientContext() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return nullptr;
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    // Many news servers drop the connection without a close_notify: that
    // is an ordinary close, not a failed read.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // A read that only handled a session ticket returns, so the reader
    // waits again without holding the socket's lock.
    SSL_CTX_clear_mode(ctx, SSL_MODE_AUTO_RETRY);
    return ctx;
}

struct TSocketBioState {
    int Fd = -1;
    bool ReadsReturnAtOnce = false;  // set with BIO_set_nbio
};

TSocketBioState* StateOf(BIO* bio) {
    return static_cast<TSocketBioState*>(BIO_get_data(bio));
}

int FdOf(BIO* bio) {
    return StateOf(bio)->Fd;
}

int BioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(FdOf(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::recv(FdOf(bio), data, static_cast<size_t>(size),
                   StateOf(bio)->ReadsReturnAtOnce ? MSG_DONTWAIT : 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
    // libssl asks whether a read of nothing was the end of the stream.
    if (n == 0 && size > 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    return static_cast<int>(n);
}

int BioPuts(BIO* bio, const char* text) {
    return BioWrite(bio, text, static_cast<int>(std::strlen(text)));
}

long BioCtrl(BIO* bio, int cmd, long num, void* ptr) {
    switch (cmd) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0;
        case BIO_C_SET_NBIO:
            StateOf(bio)->ReadsReturnAtOnce = num != 0;
            return 1;
        case BIO_C_GET_FD:
            if (ptr) *static_cast<int*>(ptr) = FdOf(bio);
            return FdOf(bio);
        default:
            return 0;
    }
}

int BioCreate(BIO* bio) {
    auto* state = new (std::nothrow) TSocketBioState;
    if (!state) return 0;
    BIO_set_data(bio, state);
    BIO_set_init(bio, 1);
    return 1;
}

int BioDestroy(BIO* bio) {
    delete StateOf(bio);
    BIO_set_data(bio, nullptr);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(
            BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "zorvex socket");
        if (!m) return m;
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_puts(m, BioPuts);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        BIO_meth_set_destroy(m, BioDestroy);
        return m;
    }();
    return method;
}

constexpr size_t kCachedStoresMax = 8;

struct TCachedStore {
    int64_t MTimeNs = 0;
    int64_t Size = -1;
    X509_STORE* Store = nullptr;
};

}  // namespace

SSL_CTX* TlsClientContext() {
    static std::once_flag once;
    static SSL_CTX* ctx = nullptr;
    std::call_once(once, [] { ctx = MakeClientContext(); });
    return ctx;
}

X509_STORE* TlsStoreWithCaFile(const std::string& caFile, std::string* failure) {
    struct stat st {};
    if (::stat(caFile.c_str(), &st) != 0) {
        *failure = "cannot read CA file '" + caFile + "': " + std::strerror(errno);
        return nullptr;
    }
    const int64_t mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    static std::mutex lock;
    // Never destroyed: sessions may still use a store while the process exits.
    static auto* cache = new std::map<std::string, TCachedStore>;
    std::lock_guard<std::mutex> guard(lock);
    // Each store holds a copy of the system CA store. A program uses a
    // handful of files; past that the cache starts afresh, and sessions
    // keep their own references.
    if (cache->size() >= kCachedStoresMax && cache->count(caFile) == 0) {
        for (auto& [path, cached] : *cache) X509_STORE_free(cached.Store);
        cache->clear();
    }
    TCachedStore& entry = (*cache)[caFile];
    if (entry.Store && entry.MTimeNs == mtime && entry.Size == st.st_size) {
        X509_STORE_up_ref(entry.Store);
        return entry.Store;
    }
    X509_STORE* store = X509_STORE_new();
    ERR_clear_error();
    if (!store || X509_STORE_set_default_paths(store) != 1 ||
        X509_STORE_load_file(store, caFile.c_str()) != 1) {
        *failure = "cannot load CA file '" + caFile + "': " + TlsErrorText("no certificate found");
        X509_STORE_free(store);
        X509_STORE_free(entry.Store);
        cache->erase(caFile);
        return nullptr;
    }
    X509_STORE_free(entry.Store);
    entry = {mtime, static_cast<int64_t>(st.st_size), store};
    X509_STORE_up_ref(store);
    return store;
}

BIO* TlsSocketBio(int fd) {
    BIO_METHOD* method = SocketMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (bio) StateOf(bio)->Fd = fd;
    return bio;
}

std::string TlsErrorText(const char* fallback) {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    const char* reason = ERR_reason_error_string(code);
    if (reason) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool IsIpLiteral(const std::string& name) {
    unsigned char buf[sizeof(in6_addr)];
    std::string bare = name.substr(0, name.find('%'));  // a certificate never holds an IPv6 zone
    return inet_pton(AF_INET, bare.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, bare.c_str(), buf) == 1;
}

}  // namespace zorvex
