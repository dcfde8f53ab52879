// Builds the Base64 NTLM messages of the "AUTHINFO GENERIC" logon. Until a
// program installs a builder, the client's default builds nothing and ends
// such a logon with a message.
#pragma once

#include <string>

namespace zorvex {

class TNtlmBuilder {
  public:
    virtual ~TNtlmBuilder() = default;
    // Without a challenge: the negotiate message for name. With one: the
    // authenticate message. False when no message could be built.
    virtual bool Build(const char* name, const char* password, const char* challenge,
                       std::string* message) = 0;
};

class TNtlmUnavailable final : public TNtlmBuilder {
  public:
    bool Build(const char*, const char*, const char*, std::string*) override { return false; }
    static TNtlmUnavailable& Instance() {
        static TNtlmUnavailable builder;
        return builder;
    }
};

// The messages built with libntlm. A name "user@domain" logs on as user in
// domain; without '@' no domain is sent. Keeps no state between calls, so
// one instance serves every connection.
class TNtlmMessages final : public TNtlmBuilder {
  public:
    bool Build(const char* name, const char* password, const char* challenge,
               std::string* message) override;
};

}  // namespace zorvex
