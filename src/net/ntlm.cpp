#include "net/ntlm.h"

#include <ntlm.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace zorvex {

namespace {

// What libntlm reads of a challenge: signature, type, target name, flags and
// the nonce. Older servers send no more than that.
constexpr size_t kChallengeMin = offsetof(tSmbNtlmAuthChallenge, challengeData) + 8;
constexpr size_t kChallengeMax = offsetof(tSmbNtlmAuthChallenge, buffer) + NTLM_MSG_BUFSIZE;
// Longer strings libntlm cuts (negotiate message) or pads with whatever lies
// past its UTF-16 scratch space (authenticate message); such names are
// refused here.
constexpr size_t kNegotiateNamesMax = NTLM_MSG_BUFSIZE;
constexpr size_t kUtf16StringMax = 160;

struct TLogonName {
    std::string User, Domain;
};

TLogonName SplitName(const char* name) {
    std::string_view text = name ? name : "";
    size_t at = text.find('@');
    if (at == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, at)), std::string(text.substr(at + 1))};
}

std::string EncodeBase64(const void* data, size_t size) {
    std::string out(4 * ((size + 2) / 3), '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            static_cast<const unsigned char*>(data), static_cast<int>(size));
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

bool IsBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// EVP_DecodeBlock skips blanks, takes '=' anywhere and keeps the padding as
// zero bytes; a server's text is checked to be plain padded Base64 first.
bool DecodeBase64(std::string_view text, size_t maxSize, std::vector<unsigned char>* out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    if (text.size() > 4 * ((maxSize + 2) / 3)) return false;
    size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    for (char c : text.substr(0, text.size() - padding))
        if (!IsBase64Letter(c)) return false;
    out->assign(text.size() / 4 * 3, 0);
    int n = EVP_DecodeBlock(out->data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0 || static_cast<size_t>(n) != out->size()) return false;
    out->resize(out->size() - padding);
    return out->size() <= maxSize;
}

uint32_t LittleEndian32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadChallenge(const char* text, tSmbNtlmAuthChallenge* challenge) {
    std::vector<unsigned char> bytes;
    if (!DecodeBase64(text, kChallengeMax, &bytes)) return false;
    if (bytes.size() < kChallengeMin) return false;
    if (std::memcmp(bytes.data(), "NTLMSSP", 8) != 0 || LittleEndian32(&bytes[8]) != 2)
        return false;
    std::memset(challenge, 0, sizeof *challenge);
    std::memcpy(challenge, bytes.data(), bytes.size());
    constexpr size_t header = offsetof(tSmbNtlmAuthChallenge, buffer);
    challenge->bufIndex = bytes.size() > header ? static_cast<uint32>(bytes.size() - header) : 0;
    return true;
}

}  // namespace

bool TNtlmMessages::Build(const char* name, const char* password, const char* challenge,
                          std::string* message) {
    TLogonName logon = SplitName(name);
    if (!challenge) {
        if (logon.User.size() + logon.Domain.size() > kNegotiateNamesMax) return false;
        tSmbNtlmAuthRequest request;
        buildSmbNtlmAuthRequest_noatsplit(&request, logon.User.c_str(), logon.Domain.c_str());
        *message = EncodeBase64(&request, SmbLength(&request));
        return true;
    }
    if (logon.User.size() > kUtf16StringMax || logon.Domain.size() > kUtf16StringMax) return false;
    tSmbNtlmAuthChallenge received;
    if (!ReadChallenge(challenge, &received)) return false;
    // libntlm splits "user@domain" at the first '@'. Given no '@' it sends
    // the server's own target name as the domain instead of none.
    std::string joined = logon.User + '@' + logon.Domain;
    tSmbNtlmAuthResponse response;
    buildSmbNtlmAuthResponse(&received, &response, joined.c_str(), password ? password : "");
    *message = EncodeBase64(&response, SmbLength(&response));
    return true;
}

}  // namespace zorvex
