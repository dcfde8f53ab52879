// What the tests against the local INN share: where scripts/inn-up.sh wrote
// its settings, and a line-at-a-time NNTP connection to 127.0.0.1 for
// posting and asking before the engine runs.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/encoders.h"

namespace zorvex::test {

inline std::string InnEnvPath() {
    const char* path = std::getenv("ZORVEX_INN_ENV");
    return path ? path : "/tmp/zorvex-inn/inn.env";
}

// KEY=value lines, a value in double quotes taken without them; empty when
// the file is missing (the server is not running).
inline std::map<std::string, std::string> ReadInnEnv(const std::string& path = InnEnvPath()) {
    std::ifstream in(path);
    std::map<std::string, std::string> env;
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#') continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        env[line.substr(0, eq)] = value;
    }
    return env;
}

class TNntpLines {
  public:
    // Ok() when the greeting starts with greetingPrefix.
    TNntpLines(int port, const char* greetingPrefix) {
        Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Connected = ::connect(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    ReadLine().rfind(greetingPrefix, 0) == 0;
    }
    ~TNntpLines() { ::close(Fd); }
    TNntpLines(const TNntpLines&) = delete;
    TNntpLines& operator=(const TNntpLines&) = delete;

    bool Ok() const { return Connected; }
    void Send(const std::string& s) { ::send(Fd, s.data(), s.size(), MSG_NOSIGNAL); }
    std::string ReadLine() {
        std::string line;
        char c;
        while (::recv(Fd, &c, 1, 0) == 1 && c != '\n') line += c;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

  private:
    int Fd = -1;
    bool Connected = false;
};

// Asks the server where a group ends, so a test sees only what it posts, and
// posts a small yEnc file of its own.
class TGroupProbe {
  public:
    explicit TGroupProbe(int port) : Nntp(port, "20") {}
    ~TGroupProbe() { Nntp.Send("QUIT\r\n"); }
    bool Ok() const { return Nntp.Ok(); }
    // The last article number, or -1 when the reply is not "211 count first last".
    long long Last(const std::string& group) {
        Nntp.Send("GROUP " + group + "\r\n");
        std::istringstream reply(Nntp.ReadLine());
        int code = 0;
        long long count = 0, first = 0, last = -1;
        if (!(reply >> code >> count >> first >> last) || code != 211) return -1;
        return last;
    }
    // A single-part yEnc post; empty when the server took it, else why not.
    // extraHeaders are whole header lines without their line ends.
    std::string PostYenc(const std::string& group, const std::string& subject,
                         const std::string& name, const std::string& data,
                         const std::string& from = "Zorvex Test <zorvexd-test@example.invalid>",
                         const std::vector<std::string>& extraHeaders = {}) {
        Nntp.Send("POST\r\n");
        std::string reply = Nntp.ReadLine();
        if (reply.rfind("340", 0) != 0) return "POST: " + reply;
        const std::vector<std::string> body = YencDataLines(data);
        std::string article =
            "From: " + from + "\r\nNewsgroups: " + group + "\r\nSubject: " + subject + "\r\n";
        for (const auto& header : extraHeaders) article += header + "\r\n";
        article += "Lines: " + std::to_string(body.size() + 2) +
                   "\r\n\r\n=ybegin line=128 size=" + std::to_string(data.size()) +
                   " name=" + name + "\r\n";
        for (const auto& line : body) article += (line[0] == '.' ? "." : "") + line + "\r\n";
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", BitwiseCrc32(data));
        article += "=yend size=" + std::to_string(data.size()) + " crc32=" + crc + "\r\n.\r\n";
        Nntp.Send(article);
        reply = Nntp.ReadLine();
        return reply.rfind("240", 0) == 0 ? "" : "article: " + reply;
    }

  private:
    TNntpLines Nntp;
};

}  // namespace zorvex::test
