// Posts for the scripted server as a test lays them out: each with its
// poster, subject, extra header lines and body, served one session per
// connection with the articles each session is asked for.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/encoders.h"
#include "support/news_fixture.h"
#include "support/scripted_server.h"

namespace zorvex::test {

using TSession = TScriptedServer::TSession;

struct TPost {
    std::string From, Subject;
    std::string Headers;  // extra header lines, each ending in '\n'
    std::string Body;     // body lines, each ending in '\n'
};

inline int BodyLines(const TPost& post) {
    return static_cast<int>(std::count(post.Body.begin(), post.Body.end(), '\n'));
}

inline std::string YencBody(const std::string& name, const std::string& data) {
    std::string out =
        "=ybegin line=128 size=" + std::to_string(data.size()) + " name=" + name + "\n";
    for (const std::string& l : YencDataLines(data)) out += l + "\n";
    char crc[16];
    snprintf(crc, sizeof crc, "%08x", BitwiseCrc32(data));
    return out + "=yend size=" + std::to_string(data.size()) + " crc32=" + crc + "\n";
}

inline std::string TalkBody(int lines) {
    std::string out;
    for (int i = 0; i < lines; ++i) out += "just talk, line " + std::to_string(i) + "\n";
    return out;
}

inline std::string Reply(int n, const TPost& post) {
    return "220 " + std::to_string(n) + " <" + std::to_string(n) +
           "@test> article\nSubject: " + post.Subject + "\nFrom: " + post.From + "\n" +
           post.Headers + "\n" + post.Body + ".\n";
}

// Mode reader, the group and, on the first visit, its overview with each
// post's real line count.
inline std::vector<TStep> GroupStepsFor(const std::vector<TPost>& posts, bool overview) {
    const std::string n = std::to_string(posts.size());
    std::vector<TStep> steps = {kModeReader, TStep{"211 " + n + " 1 " + n + " a.b\n"}};
    if (!overview) return steps;
    std::string text = "224 overview follows\n";
    for (size_t i = 0; i < posts.size(); ++i)
        text += std::to_string(i + 1) + "\t" + posts[i].Subject + "\t" + posts[i].From + "\td\t<" +
                std::to_string(i + 1) + "@test>\t\t100\t" + std::to_string(BodyLines(posts[i])) +
                "\n";
    steps.push_back(TStep{text + ".\n"});
    return steps;
}

// One session per connection: the first loads the overview; each asks for
// the articles listed for it, in order.
inline std::vector<TSession> Sessions(const std::vector<TPost>& posts,
                                      const std::vector<std::vector<int>>& asked) {
    std::vector<TSession> sessions;
    for (size_t s = 0; s < asked.size(); ++s) {
        std::vector<TStep> steps = GroupStepsFor(posts, s == 0);
        for (int n : asked[s]) steps.push_back(TStep{Reply(n, posts[n - 1])});
        sessions.push_back({kGreeting, steps});
    }
    return sessions;
}

}  // namespace zorvex::test
