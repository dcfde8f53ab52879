// The process-wide TLS client context and the pieces every secure socket
// shares: a socket BIO that never raises SIGPIPE, trust stores for an extra
// CA file, and OpenSSL's error queue as text.
#pragma once

#include <openssl/types.h>

#include <string>

namespace zorvex {

// The one client context, made on first use; nullptr when OpenSSL could not
// make it. It trusts the system CA store.
SSL_CTX* TlsClientContext();

// A trust store holding the system CA store plus every certificate in
// caFile, with one reference for the caller. Stores are cached per file and
// made again when the file changes. nullptr with *failure set when the file
// cannot be read or holds no certificate.
X509_STORE* TlsStoreWithCaFile(const std::string& caFile, std::string* failure);

// A BIO over a connected socket that sends with MSG_NOSIGNAL: a peer that
// went away makes the write fail instead of killing the process. The BIO
// does not own the descriptor. After BIO_set_nbio(bio, 1) a read with
// nothing waiting returns at once asking for a retry, so the caller can wait
// for the rest of a record with its own time limit; writes still block.
BIO* TlsSocketBio(int fd);

// The oldest error on this thread's OpenSSL queue as text (fallback when the
// queue is empty); the queue is emptied.
std::string TlsErrorText(const char* fallback);

// True when name is an IPv4 or IPv6 address literal rather than a DNS name.
bool IsIpLiteral(const std::string& name);

}  // namespace zorvex
