#include "net/ntlm.h"

#include <gtest/gtest.h>
#include <ntlm.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/ntlm_bytes.h"

namespace zorvex {
namespace {

using namespace test;

// The largest challenge libntlm's struct holds: its header and buffer.
constexpr size_t kChallengeMax = 48 + NTLM_MSG_BUFSIZE;

std::string Oem(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

bool IsNtlmMessage(const Bytes& m, uint32_t type) {
    return m.size() >= 12 && std::equal(m.begin(), m.begin() + 8, "NTLMSSP") &&
           GetLe(m, 8, 4) == type;
}

struct NameCase {
    const char* Name;
    const char* User;
    const char* Domain;
};

const NameCase kNames[] = {
    {"alice@CORP", "alice", "CORP"},
    {"alice", "alice", ""},
    {"a@b@c", "a", "b@c"},  // only the first '@' splits
    {"@CORP", "", "CORP"},
    {"alice@", "alice", ""},
    {"", "", ""},
    {nullptr, "", ""},
};

TEST(NtlmMessagesTest, NegotiateCarriesTheSplitName) {
    for (const auto& c : kNames) {
        SCOPED_TRACE(c.Name ? c.Name : "(null)");
        TNtlmMessages ntlm;
        std::string text;
        ASSERT_TRUE(ntlm.Build(c.Name, "pw", nullptr, &text));
        Bytes m = FromBase64(text);
        ASSERT_TRUE(IsNtlmMessage(m, 1));
        // libntlm's negotiate message: user at 16, domain at 24, both OEM.
        EXPECT_EQ(Oem(Field(m, 16)), c.User);
        EXPECT_EQ(Oem(Field(m, 24)), c.Domain);
    }
}

TEST(NtlmMessagesTest, AuthenticateCarriesTheSplitNameAndTheAnswer) {
    for (const auto& c : kNames) {
        SCOPED_TRACE(c.Name ? c.Name : "(null)");
        TNtlmMessages ntlm;
        std::string text;
        ASSERT_TRUE(ntlm.Build(c.Name, "Secr3t", ToBase64(NtlmChallenge()).c_str(), &text));
        Bytes m = FromBase64(text);
        ASSERT_TRUE(IsNtlmMessage(m, 3));
        EXPECT_EQ(Utf16(Field(m, 28)), c.Domain);
        EXPECT_EQ(Utf16(Field(m, 36)), c.User);
        // The answer is to this password and this nonce.
        unsigned char lm[24], nt[24];
        ntlm_smb_encrypt("Secr3t", kNtlmNonce, lm);
        ntlm_smb_nt_encrypt("Secr3t", kNtlmNonce, nt);
        EXPECT_EQ(Field(m, 12), Bytes(std::begin(lm), std::end(lm)));
        EXPECT_EQ(Field(m, 20), Bytes(std::begin(nt), std::end(nt)));
    }
}

TEST(NtlmMessagesTest, NullPasswordAnswersAsEmpty) {
    TNtlmMessages ntlm;
    std::string challenge = ToBase64(NtlmChallenge()), withNull, withEmpty, withOther;
    ASSERT_TRUE(ntlm.Build("u", nullptr, challenge.c_str(), &withNull));
    ASSERT_TRUE(ntlm.Build("u", "", challenge.c_str(), &withEmpty));
    ASSERT_TRUE(ntlm.Build("u", "x", challenge.c_str(), &withOther));
    EXPECT_EQ(withNull, withEmpty);
    EXPECT_NE(withEmpty, withOther);
}

TEST(NtlmMessagesTest, ChallengeSizesAtTheLimitsAreTaken) {
    // 32 bytes end with the nonce, as older servers send it.
    for (size_t size : {size_t{32}, size_t{48}, kChallengeMax}) {
        SCOPED_TRACE(size);
        TNtlmMessages ntlm;
        std::string text;
        EXPECT_TRUE(ntlm.Build("u@d", "pw", ToBase64(NtlmChallenge(size)).c_str(), &text));
        EXPECT_TRUE(IsNtlmMessage(FromBase64(text), 3));
    }
}

Bytes WithByte(Bytes b, size_t at, unsigned char value) {
    b[at] = value;
    return b;
}

TEST(NtlmMessagesTest, HostileChallengesAreRefused) {
    Bytes garbage(48);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<unsigned char>(i * 37 + 11);
    std::string good = ToBase64(NtlmChallenge());
    const struct {
        const char* What;
        std::string Text;
    } cases[] = {
        {"empty", ""},
        {"not Base64", "this is not base64!"},
        {"letters outside the alphabet", "TlRM*VNTUAACAAAA"},
        {"blank inside", good.substr(0, 8) + " " + good.substr(9)},
        // At zero bytes of the message, where a lax decoder reads '=' as 'A'.
        {"padding inside", good.substr(0, 56) + "=" + good.substr(57)},
        {"padding after the end", good + "===="},
        {"leading blank", " " + good},
        {"trailing line end", good + "\r\n"},
        {"length not a multiple of four", good.substr(0, good.size() - 1)},
        {"url-safe alphabet", "TlRMTVNTUAACAAAA-_-_"},
        {"too short", ToBase64(NtlmChallenge(31))},
        {"signature only", ToBase64(Bytes{'N', 'T', 'L', 'M', 'S', 'S', 'P', 0})},
        {"too long", ToBase64(NtlmChallenge(kChallengeMax + 1))},
        {"far too long", std::string(100000, 'A')},
        {"garbage bytes", ToBase64(garbage)},
        {"wrong signature", ToBase64(WithByte(NtlmChallenge(), 0, 'X'))},
        {"negotiate instead", ToBase64(WithByte(NtlmChallenge(), 8, 1))},
        {"authenticate instead", ToBase64(WithByte(NtlmChallenge(), 8, 3))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TNtlmMessages ntlm;
        std::string text = "untouched";
        EXPECT_FALSE(ntlm.Build("u@d", "pw", c.Text.c_str(), &text));
        EXPECT_EQ(text, "untouched");
    }
}

TEST(NtlmMessagesTest, NoDomainMeansNoneEvenWhenTheServerNamesOne) {
    Bytes named = NtlmChallenge();
    for (char c : std::string("SRV")) named.insert(named.end(), {static_cast<unsigned char>(c), 0});
    PutLe(named, 12, 6, 2);  // target name: 6 bytes at 48
    PutLe(named, 14, 6, 2);
    Bytes outside = NtlmChallenge();  // and one pointing far past the message
    PutLe(outside, 12, 0xffff, 2);
    PutLe(outside, 16, 0x7ffffff0, 4);
    for (const Bytes& challenge : {named, outside}) {
        TNtlmMessages ntlm;
        std::string text;
        ASSERT_TRUE(ntlm.Build("u", "pw", ToBase64(challenge).c_str(), &text));
        Bytes m = FromBase64(text);
        EXPECT_EQ(Utf16(Field(m, 28)), "");
        EXPECT_EQ(Utf16(Field(m, 36)), "u");
    }
}

TEST(NtlmMessagesTest, NamesTooLongForAMessageAreRefused) {
    const struct {
        std::string Name;
        bool Negotiate, Authenticate;
    } cases[] = {
        // The authenticate message holds each of them in UTF-16, up to 160
        // characters; beyond, libntlm sends bytes from past its buffer.
        {std::string(160, 'u') + "@" + std::string(160, 'd'), true, true},
        {std::string(161, 'u') + "@d", true, false},
        {"u@" + std::string(161, 'd'), true, false},
        {std::string(161, 'u'), true, false},
        // The negotiate message holds both once: 1024 in all.
        {"u@" + std::string(1023, 'd'), true, false},
        {"u@" + std::string(1024, 'd'), false, false},
        {std::string(5000, 'u'), false, false},
    };
    std::string challenge = ToBase64(NtlmChallenge());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name.size());
        TNtlmMessages ntlm;
        std::string text;
        EXPECT_EQ(ntlm.Build(c.Name.c_str(), "pw", nullptr, &text), c.Negotiate);
        EXPECT_EQ(ntlm.Build(c.Name.c_str(), "pw", challenge.c_str(), &text), c.Authenticate);
        if (!c.Authenticate) continue;
        // Taken whole, not cut.
        size_t at = c.Name.find('@');
        Bytes m = FromBase64(text);
        EXPECT_EQ(Utf16(Field(m, 36)), c.Name.substr(0, at));
        EXPECT_EQ(Utf16(Field(m, 28)), at == std::string::npos ? "" : c.Name.substr(at + 1));
    }
}

}  // namespace
}  // namespace zorvex
