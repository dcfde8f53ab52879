// Broken articles kept as files in tests/data/articles/: each is fed to the
// driver as one article, the way a server sends it, and must end the way a
// user expects: no crash, no file outside the download path, a log line for
// every file begun and the fault named in a status line. A fault found
// later in the field gets its article here.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decode/driver.h"
#include "library/fileio.h"
#include "support/driver_reports.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

// The 300 bytes every sample carries (or a part of them).
std::string SampleBytes(size_t count) {
    std::string data;
    for (size_t i = 0; i < count; ++i) data += static_cast<char>((i * 37 + 11) % 256);
    return data;
}

struct TBrokenCase {
    const char* Fixture;
    const char* Logged;  // the start of the one log line, or empty: none
    const char* Status;  // a status line that names the fault
    const char* File;    // the file left in the download path, or empty
    size_t Bytes;        // its contents: the sample's first bytes
    size_t GapAt = 0;    // less one line of 45 bytes from here (0: none)
};

const TBrokenCase kBroken[] = {
    {"yenc_wrong_crc.txt", "[RECEIVED] (1 errors) ", "yenc: file crc.bin (part 1) has CRC32",
     "crc.bin", 300},
    {"yenc_short_data.txt", "[RECEIVED] (1 errors) ",
     "yenc: part 1 of short.bin has 200 bytes, \"=yend\" says 300", "short.bin", 200},
    {"yenc_climbing_name.txt", "[RECEIVED] ", "Decoding file ", "passwd", 300},
    {"uu_no_end.txt", "[INCOMPLETE] ", "EOM reached -- Decode aborted", "cut.bin", 180},
    {"uu_bogus_line.txt", "[RECEIVED] (1 errors) ", "Decode bogus line(", "bogus.bin", 300, 90},
    {"uu_begin_without_name.txt",
     "[ERROR] a.b \"broken sample\": no file, no file name in its begin line",
     "Unable to parse filename!", "", 0},
    {"base64_stray_characters.txt", "[RECEIVED] (1 errors) ", "Decode skipped stray characters(",
     "stray.bin", 300},
    // No file, but the post is named in the log.
    {"yenc_part_without_first.txt",
     "[INCOMPLETE] a.b \"broken sample\": no file, yEnc part 2 came without the parts before it",
     "multipart yenc: part out of sequence", "", 0},
};

class BrokenArticles : public ::testing::TestWithParam<TBrokenCase> {
  protected:
    // Feeds the fixture as the body of one article of group a.b.
    void Feed(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        TDriverOptions options;
        options.DownloadPath = Root.Path() + "/down/";
        TArticleDriver driver(Report, TAcceptEverything::Instance());
        driver.SetOptions(options);
        TNewsGroup group{};
        group.Name = "a.b";
        THeader header{};
        header.Subject = "broken sample";
        header.Poster = "poster@example.invalid";
        header.Number = 1;
        driver.ArticleStart(&group, &header, "<1@example.invalid>");
        driver.HeaderEnd();
        std::string line;
        int count = 0;
        while (std::getline(in, line)) driver.BodyLine(line, ++count);
        driver.ArticleEnd();
        driver.EndWaitingFiles("the run ended");
    }

    std::vector<std::string> FilesLeft() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Root.Path()))
            if (entry.is_regular_file()) names.push_back(entry.path().string());
        return names;
    }

    // The download path is down/ inside it: a file that climbed out of it
    // would show up beside it.
    test::TTempDir Root;
    test::TRecordingReport Report;
};

TEST_P(BrokenArticles, EndAsAUserExpects) {
    const TBrokenCase& c = GetParam();
    Feed(std::string(ZORVEX_TEST_DATA) + "/articles/" + c.Fixture);
    if (HasFatalFailure()) return;

    const bool named = std::any_of(Report.Status.begin(), Report.Status.end(), [&](const auto& s) {
        return s.find(c.Status) != std::string::npos;
    });
    EXPECT_TRUE(named) << "no status line with: " << c.Status << "\n"
                       << ::testing::PrintToString(Report.Status);

    std::vector<std::string> tagged;
    for (const std::string& l : Report.Logged)
        if (!l.empty() && l[0] == '[') tagged.push_back(l);
    if (*c.Logged) {
        ASSERT_EQ(tagged.size(), 1u) << ::testing::PrintToString(Report.Logged);
        EXPECT_EQ(tagged[0].rfind(c.Logged, 0), 0u) << tagged[0];
    } else {
        EXPECT_TRUE(tagged.empty()) << ::testing::PrintToString(tagged);
    }

    std::vector<std::string> left = FilesLeft();
    if (*c.File) {
        ASSERT_EQ(left, std::vector<std::string>{Root.File(std::string("down/") + c.File)});
        std::string contents;
        ASSERT_TRUE(ReadWholeFile(left[0], &contents));
        std::string expected = SampleBytes(c.Bytes);
        if (c.GapAt != 0) expected.erase(c.GapAt, 45);
        EXPECT_EQ(contents, expected);
    } else {
        EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BrokenArticles, ::testing::ValuesIn(kBroken),
                         [](const auto& info) {
                             std::string name = info.param.Fixture;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace zorvex
