// The article-to-file driver against the real decoder and a temporary
// download tree: files of every encoding from articles as the server sends
// them, multipart yEnc and uuencode across articles, the five results and
// their log lines, names and places from hostile articles, and disk faults.
#include "decode/driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/driverreport.h"
#include "app/news.h"
#include "app/settings.h"
#include "app/statuslog.h"
#include "decode/crypt.h"
#include "decode/placement.h"
#include "library/fileio.h"
#include "support/driver_reports.h"
#include "support/encoders.h"
#include "support/files.h"
#include "support/recording_view.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::Base64Line;
using test::BitwiseCrc32;
using test::Exists;
using test::Noise;
using test::TTempDir;
using test::TUuStyle;
using test::UuLine;
using test::YencDataLines;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

// Records what the driver tells the checks; refuses and enciphers by name.
struct TRecordingChecks : TArticleChecks {
    Lines Ready, HeaderLines, Text, Code, Grabbed, Opened, Received, Refused;
    std::string RefuseName;
    std::string EncryptSuffix = ".jpg";
    int NoData = 0;
    void ArticleReady(const THeader*, std::string_view id) override { Ready.emplace_back(id); }
    // A header line holding this text rejects the article.
    std::string RejectLineWith;
    bool ArticleHeaderLine(const THeader*, std::string_view line) override {
        HeaderLines.emplace_back(line);
        return !RejectLineWith.empty() && line.find(RejectLineWith) != std::string_view::npos;
    }
    void TextLine(std::string_view line) override { Text.emplace_back(line); }
    void CodeLine(std::string_view line) override { Code.emplace_back(line); }
    void GrabUrls(std::string_view line) override { Grabbed.emplace_back(line); }
    bool FileAccepted(const THeader*, const std::string& name) override {
        if (name != RefuseName) return true;
        Refused.push_back(name);
        return false;
    }
    void RejectNoData(const THeader*) override { ++NoData; }
    bool EncryptionMaskMatches(const std::string& name) override {
        return name.size() >= EncryptSuffix.size() &&
               name.compare(name.size() - EncryptSuffix.size(), EncryptSuffix.size(),
                            EncryptSuffix) == 0;
    }
    void FileOpened(const std::string& name) override { Opened.push_back(name); }
    void FileReceived(const THeader*, const std::string& name) override {
        Received.push_back(name);
    }
};

Lines UuLines(std::string_view data, TUuStyle style = TUuStyle::BACKQUOTE) {
    Lines lines;
    for (size_t i = 0; i < data.size(); i += 45) lines.push_back(UuLine(data.substr(i, 45), style));
    lines.push_back(UuLine("", style));
    return lines;
}

std::string Hex(uint32_t v) {
    char text[16];
    snprintf(text, sizeof text, "%08x", v);
    return text;
}

// One yEnc article: part of data from offset begin (part 0: a single-part
// post without "part=").
Lines YencArticle(const std::string& name, std::string_view data, int part, size_t begin,
                  size_t end, bool wholeCrc = false) {
    Lines body;
    std::string_view piece = data.substr(begin, end - begin);
    if (part == 0) {
        body.push_back("=ybegin line=128 size=" + std::to_string(data.size()) + " name=" + name);
    } else {
        body.push_back("=ybegin part=" + std::to_string(part) +
                       " line=128 size=" + std::to_string(data.size()) + " name=" + name);
        body.push_back("=ypart begin=" + std::to_string(begin + 1) + " end=" + std::to_string(end));
    }
    for (auto& l : YencDataLines(piece)) body.push_back(l);
    std::string tail = "=yend size=" + std::to_string(piece.size());
    if (part != 0) tail += " part=" + std::to_string(part) + " pcrc32=" + Hex(BitwiseCrc32(piece));
    if (part == 0 || wholeCrc) tail += " crc32=" + Hex(BitwiseCrc32(data));
    body.push_back(tail);
    return body;
}

Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

bool Contains(const Lines& lines, std::string_view text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

int CountOf(const Lines& lines, std::string_view text) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(text) != std::string::npos;
    }));
}

std::string ReadFile(const std::string& path) {
    std::string contents;
    return ReadWholeFile(path, &contents) ? contents : "<missing>";
}

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Home.Path().empty());
        // As the program runs by default, in the test's download tree.
        Options.DownloadPath = Home.Path() + "/dl";  // no trailing slash: the driver adds it
        Options.ViewerEnable = true;
        Options.NoDataThresh = 512;
        Options.RenameDupes = true;
        Options.LogSubject = Options.LogName = true;
        Rebuild();
        Group = News.AddGroup("alt.binaries.test");
        ASSERT_NE(Group, nullptr);
    }
    void TearDown() override { ClearFileFaults(); }

    // The options the owner hands over before each article, and where the
    // driver reports.
    virtual TDriverOptions CurrentOptions() { return Options; }
    virtual TDriverReport& ReportTo() { return Report; }

    void Rebuild() {
        Driver.reset();
        Driver = std::make_unique<TArticleDriver>(ReportTo(), Checks);
        Driver->SetOptions(CurrentOptions());
    }

    std::string Dl() const { return Home.Path() + "/dl/"; }

    THeader* Header(TArticleNo number, const char* poster = "poster@example.com",
                    const char* subject = "subject") {
        THeader* h = News.FindOrAddHeader(Group, number);
        h->Subject = News.Intern(subject);
        h->Poster = News.Intern(poster);
        h->Lines = 100;
        return h;
    }
    // Chains headers as the store does for the parts of one post: a
    // subject without a part counter gets "(i/n)".
    void Chain(const std::vector<THeader*>& headers) {
        THeader* prev = nullptr;
        int part = 0;
        for (THeader* h : headers) {
            ++part;
            if (!TNewsStore::PartOf(h).Found) {
                const std::string subject = std::string(h->Subject) + " (" +
                                            std::to_string(part) + "/" +
                                            std::to_string(headers.size()) + ")";
                h->Subject = News.Intern(subject.c_str());
            }
            h->PosterPrev = prev;
            if (prev) prev->PosterNext = h;
            prev = h;
        }
    }

    // An article starts as its owner starts it: with the options of now.
    void Start(THeader* h, const std::string& messageId) {
        Driver->SetOptions(CurrentOptions());
        Driver->ArticleStart(Group, h, messageId);
    }
    // One article as the client hands it over; returns the follow flag.
    bool Article(THeader* h, const Lines& body, const Lines& head = {}) {
        Start(h, "<" + std::to_string(h->Number) + "@test>");
        for (const auto& l : head) Driver->HeaderLine(l);
        Driver->HeaderEnd();
        int n = 0;
        for (const auto& l : body) Driver->BodyLine(l, ++n);
        return Driver->ArticleEnd();
    }

    TTempDir Home;
    TDriverOptions Options;
    test::TRecordingReport Report;
    TRecordingChecks Checks;
    std::unique_ptr<TArticleDriver> Driver;
    TNewsStore News;
    TNewsGroup* Group = nullptr;
};

// The driver as the program runs it: the options read from a settings
// store at every article start, the report written to a status log and a
// view.
class DriverInAppTest : public DriverTest {
  protected:
    void SetUp() override {
        Settings.LoadSettings();
        TSettings& s = Settings.Settings();
        s.DownloadPath = Home.Path() + "/dl";
        s.PathExpand = 0;
        s.CaseConvert = 0;
        s.RenameDupes = 1;
        s.DeleteIncomplete = 0;
        Log = std::make_unique<TStatusLog>(View, Settings.Settings(), Home.Path(), Diagnostics);
        AppReport = std::make_unique<TDriverLogReport>(*Log, View);
        DriverTest::SetUp();
    }
    TDriverOptions CurrentOptions() override { return DriverOptionsFrom(Settings); }
    TDriverReport& ReportTo() override { return *AppReport; }

    TSettingsStore Settings{Home.Path() + "/vantrel.ini", TNoOtherSettingsKept::Instance()};
    test::TRecordingView View;
    TDiagnosticLog Diagnostics{Home.Path() + "/diagnost.log"};
    std::unique_ptr<TStatusLog> Log;
    std::unique_ptr<TDriverLogReport> AppReport;
};

// A begin line is read once: its kind gives the method, and only a yEnc
// line has a part and a size.
TEST(ReadBeginLine, TakesTheNameAndAYencLinesPartAndSize) {
    struct Case {
        TLineKind Kind;
        const char* Line;
        TDecodeMode Mode;
        bool HasName;
        const char* Name;
        int64_t Part, Size;
    } const cases[] = {
        {LINE_BEGIN, "begin 644 u.bin", MODE_UU, true, "u.bin", -1, -1},
        {LINE_BEGIN, "begin 644 part=2 size=9.bin", MODE_UU, true, "part=2 size=9.bin", -1, -1},
        {LINE_BEGIN, "begin 644 ", MODE_UU, false, "", -1, -1},
        {LINE_YBEGIN, "=ybegin part=3 total=8 line=128 size=123456 name=my file.bin", MODE_YENC,
         true, "my file.bin", 3, 123456},
        {LINE_YBEGIN, "=ybegin line=128 size=5 name=s.bin", MODE_YENC, true, "s.bin", -1, 5},
        {LINE_YBEGIN, "=ybegin part=2 size=9", MODE_YENC, false, "", 2, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        const TBeginLine begin = ReadBeginLine(c.Kind, c.Line);
        EXPECT_EQ(begin.Mode, c.Mode);
        EXPECT_EQ(begin.HasName, c.HasName);
        if (c.HasName) {
            EXPECT_EQ(begin.Name, c.Name);
        }
        EXPECT_EQ(begin.Part, c.Part);
        EXPECT_EQ(begin.Size, c.Size);
    }
}

TEST_F(DriverTest, EachEncodingMakesItsFileAndLogsIt) {
    const std::string data = Noise(5000, 7);
    const std::string b64 = Noise(3001, 8);
    Lines mime = {"This is a multi-part message in MIME format.",
                  "",
                  "--b",
                  "Content-Type: text/plain",
                  "",
                  "text part",
                  "",
                  "--b",
                  "Content-Type: application/octet-stream;",
                  "\tname=\"m.dat\"",
                  "Content-Transfer-Encoding: base64",
                  "Content-Disposition: attachment; filename=\"m.dat\"",
                  ""};
    for (size_t i = 0; i < b64.size(); i += 57) mime.push_back(Base64Line(b64.substr(i, 57)));
    mime.insert(mime.end(), {"", "--b--"});
    struct Case {
        const char* Name;
        Lines Body;
        std::string Expected;
        const char* Method;
    } cases[] = {
        {"u.bin", Concat({{"text", "begin 644 u.bin"}, UuLines(data), {"end"}}), data, "UUdecode"},
        {"x.bin", Concat({{"begin 644 x.bin"}, UuLines(data, TUuStyle::XX), {"end"}}), data,
         "XXdecode"},
        {"y.bin", YencArticle("y.bin", data, 0, 0, data.size()), data, "yEnc"},
        {"m.dat", mime, b64, "base64"},
    };
    TArticleNo number = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        THeader* h = Header(++number);
        EXPECT_FALSE(Article(h, c.Body));
        EXPECT_EQ(ReadFile(Dl() + c.Name), c.Expected);
        ASSERT_FALSE(Report.Logged.empty());
        EXPECT_EQ(Report.Logged.back(), "[RECEIVED] " + Dl() + c.Name + " alt.binaries.test <" +
                                            std::to_string(number) + "@test> " +
                                            std::to_string(number) + " " + c.Method);
        EXPECT_TRUE(Contains(Report.Status, "Decoding file " + Dl() + c.Name));
        EXPECT_EQ(Driver->DecodeState(), DS_IDLE);
        ASSERT_FALSE(Driver->Received().empty());
        EXPECT_EQ(Driver->Received().back().FileName, c.Name);
        EXPECT_EQ(Driver->Received().back().Size, static_cast<int64_t>(c.Expected.size()));
        EXPECT_EQ(Driver->Current().MessageId, NO_MESSAGE_ID);
    }
    EXPECT_EQ(Checks.Received, (Lines{"u.bin", "x.bin", "y.bin", "m.dat"}));
    EXPECT_EQ(Checks.Opened, Checks.Received);
    EXPECT_EQ(Report.Indicator, "");
    EXPECT_TRUE(Contains(Checks.Text, "text part"));
}

TEST_F(DriverTest, MultipartYencAppendsPartsAcrossArticles) {
    const std::string data = Noise(10000, 3);
    THeader* h[3] = {Header(1), Header(2), Header(3)};
    Chain({h[0], h[1], h[2]});
    const size_t cut[] = {0, 4000, 8000, 10000};
    for (int p = 0; p < 3; ++p) {
        bool follow =
            Article(h[p], YencArticle("multi.bin", data, p + 1, cut[p], cut[p + 1], p == 2));
        EXPECT_EQ(follow, p < 2) << "part " << p + 1;
        EXPECT_EQ(Driver->MorePartsToCome(), p < 2);
        EXPECT_FALSE(Driver->PartRefused());
        if (p < 2) {
            EXPECT_TRUE(Report.Logged.empty());
        }
    }
    EXPECT_EQ(ReadFile(Dl() + "multi.bin"), data);
    EXPECT_EQ(CountOf(Report.Status, "multipart yenc: more parts to come"), 2);
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: continue (part=2) multi.bin"));
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: file is complete"));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED] " + Dl() + "multi.bin ", 0), 0u);
}

// Whatever keeps a multipart file's next part from coming, the file ends
// incomplete with one log line, and later parts do not bring it back.
TEST_F(DriverTest, MultipartYencFileWhoseNextPartDoesNotComeEndsIncomplete) {
    const std::string data = Noise(8000, 4), other = Noise(900, 32);
    const size_t cut[] = {0, 2000, 4000, 6000, 8000};
    struct Case {
        const char* What;
        std::function<void(TArticleDriver&, THeader*)> Next;
        const char* Status;
    } cases[] = {
        {"an out-of-sequence part",
         [&](TArticleDriver&, THeader* h) {
             Article(h, YencArticle("seq.bin", data, 4, cut[3], cut[4], true));
         },
         "(a part is missing)"},
        {"another yEnc file",
         [&](TArticleDriver&, THeader* h) {
             Article(h, YencArticle("other.bin", other, 0, 0, other.size()));
         },
         "(another file begins)"},
        {"a part of another file",
         [&](TArticleDriver&, THeader* h) {
             Article(h, YencArticle("other.bin", other, 3, 0, 500));
         },
         "(another file begins)"},
        {"a uuencoded file",
         [&](TArticleDriver&, THeader* h) {
             Article(h, Concat({{"begin 644 other.bin"}, UuLines(other), {"end"}}));
         },
         "(another file begins)"},
        {"a MIME part",
         [&](TArticleDriver&, THeader* h) {
             Article(h, {"Content-Type: application/octet-stream; name=\"other.bin\"",
                         "Content-Transfer-Encoding: base64", "", Base64Line(other.substr(0, 57)),
                         "--b--"});
         },
         "(another file begins)"},
        {"the end of the group",
         [&](TArticleDriver& d, THeader*) { d.EndWaitingFiles("the group ended"); },
         "(the group ended)"},
    };
    TArticleNo number = 100;
    for (int deleteIncomplete : {0, 1}) {
        Options.DeleteIncomplete = deleteIncomplete;
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.What) + (deleteIncomplete ? ", deleted" : ""));
            Rebuild();
            Report.Logged.clear();
            Report.Status.clear();
            std::filesystem::remove_all(Dl());
            THeader* h[4] = {Header(++number), Header(++number), Header(++number),
                             Header(++number)};
            Chain({h[0], h[1], h[2]});
            EXPECT_TRUE(Article(h[0], YencArticle("seq.bin", data, 1, cut[0], cut[1])));
            EXPECT_TRUE(Article(h[1], YencArticle("seq.bin", data, 2, cut[1], cut[2])));
            EXPECT_TRUE(Report.Logged.empty());
            c.Next(*Driver, h[2]);
            EXPECT_FALSE(Driver->MorePartsToCome());
            ASSERT_EQ(CountOf(Report.Logged, "seq.bin"), 1);
            EXPECT_EQ(
                Report.Logged[0].rfind("[INCOMPLETE] " + Dl() + "seq.bin alt.binaries.test <" +
                                           std::to_string(h[1]->Number) + "@test> ",
                                       0),
                0u)
                << Report.Logged[0];
            EXPECT_TRUE(Contains(
                Report.Status,
                "multipart yenc: seq.bin ends incomplete after part 2 " + std::string(c.Status)));
            if (deleteIncomplete)
                EXPECT_FALSE(Exists(Dl() + "seq.bin"));
            else
                EXPECT_EQ(ReadFile(Dl() + "seq.bin"), data.substr(0, cut[2]));
            // The part that was late changes nothing any more.
            Article(h[3], YencArticle("seq.bin", data, 3, cut[2], cut[3]));
            EXPECT_TRUE(Driver->PartRefused()) << "the rest of its post is of no use";
            EXPECT_EQ(CountOf(Report.Logged, "seq.bin"), 1);
            if (!deleteIncomplete) {
                EXPECT_EQ(ReadFile(Dl() + "seq.bin"), data.substr(0, cut[2]));
            }
        }
    }
}

TEST_F(DriverTest, YencPartWithAnotherNameIsNotAppended) {
    const std::string data = Noise(4000, 5);
    Article(Header(1), YencArticle("first.bin", data, 1, 0, 2000));
    Article(Header(2), YencArticle("other.bin", data, 2, 2000, 4000));
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: part is not current yenc file"));
    EXPECT_EQ(ReadFile(Dl() + "first.bin"), data.substr(0, 2000));
    EXPECT_FALSE(Exists(Dl() + "other.bin"));
}

TEST_F(DriverTest, WholeFileCrcCoversEveryPart) {
    const std::string data = Noise(6000, 31);
    THeader* h[3] = {Header(1), Header(2), Header(3)};
    Chain({h[0], h[1], h[2]});
    Article(h[0], YencArticle("multi.bin", data, 1, 0, 2000, true));
    Article(h[1], YencArticle("multi.bin", data, 2, 2000, 4000, true));
    Article(h[2], YencArticle("multi.bin", data, 3, 4000, 6000, true));
    EXPECT_EQ(ReadFile(Dl() + "multi.bin"), data);
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED] " + Dl() + "multi.bin", 0), 0u);
    EXPECT_FALSE(Contains(Report.Status, "has CRC32"));
}

// The bad comment marker counts in every part of a multipart file, also
// when it is split across two parts.
TEST_F(DriverTest, JpegCheckCoversEveryPartOfAMultipartFile) {
    const std::string head = "\xFF\xD8\xFF\xE0\x00\x10JFIF"s + Noise(1990, 41);
    struct Case {
        const char* What;
        std::string Data;
        size_t Cut;  // where part 2 begins
    } cases[] = {
        {"marker inside part 2", head + Noise(1000, 42) + "\xFF\xFE\x00\x00"s + Noise(3000, 43),
         2000},
        {"marker split across parts", head + "\xFF\xFE"s + "\x00\x01"s + Noise(3000, 44),
         head.size() + 2},
    };
    TArticleNo number = 200;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Report.Logged.clear();
        THeader* h[3] = {Header(++number), Header(++number), Header(++number)};
        Chain({h[0], h[1], h[2]});
        const size_t third = c.Data.size() - 1000;
        EXPECT_TRUE(Article(h[0], YencArticle("pic.jpg", c.Data, 1, 0, c.Cut)));
        EXPECT_FALSE(Article(h[1], YencArticle("pic.jpg", c.Data, 2, c.Cut, third)));
        Article(h[2], YencArticle("pic.jpg", c.Data, 3, third, c.Data.size(), true));
        EXPECT_FALSE(Exists(Dl() + "pic.jpg"));
        ASSERT_EQ(Report.Logged.size(), 1u);
        EXPECT_EQ(Report.Logged[0].rfind("[POSSIBLE VIRUS -- DELETED] " + Dl() + "pic.jpg", 0), 0u);
    }
    // A clean picture in parts passes whole.
    const std::string clean = head + Noise(4000, 45);
    Report.Logged.clear();
    THeader* h[2] = {Header(++number), Header(++number)};
    Chain({h[0], h[1]});
    Article(h[0], YencArticle("ok.jpg", clean, 1, 0, 3000));
    Article(h[1], YencArticle("ok.jpg", clean, 2, 3000, clean.size(), true));
    EXPECT_EQ(ReadFile(Dl() + "ok.jpg"), clean);
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED]", 0), 0u);
}

TEST_F(DriverTest, PartOfAFileThatIsGoneIsNotStartedAfresh) {
    const std::string data = Noise(4000, 26);
    Article(Header(1), YencArticle("gone.bin", data, 1, 0, 2000));
    ASSERT_EQ(unlink((Dl() + "gone.bin").c_str()), 0);  // the user deleted it meanwhile
    Article(Header(2), YencArticle("gone.bin", data, 2, 2000, 4000, true));
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: unable to continue (part 2)"));
    EXPECT_FALSE(Exists(Dl() + "gone.bin"));
}

TEST_F(DriverTest, SecondPartFollowsTheRenamedFirstPart) {
    const std::string data = Noise(4000, 6);
    ASSERT_TRUE(EnsureDirectory(Dl(), true));
    std::ofstream(Dl() + "pic.jpg") << "older";
    Article(Header(1), YencArticle("pic.jpg", data, 1, 0, 2000));
    Article(Header(2), YencArticle("pic.jpg", data, 2, 2000, 4000, true));
    EXPECT_EQ(ReadFile(Dl() + "pic.jpg"), "older");
    EXPECT_EQ(ReadFile(Dl() + "pic(1).jpg"), data);
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_NE(Report.Logged[0].find("pic(1).jpg"), std::string::npos);
}

TEST_F(DriverTest, OnlySinglePartYencFilesMatchingTheMasksAreEnciphered) {
    TDriverOptions& s = Options;
    s.EncryptionEnable = true;
    s.EncryptionKey = "secret";
    const std::string data = Noise(3000, 9);
    Article(Header(1), YencArticle("single.jpg", data, 0, 0, data.size()));
    Article(Header(2), YencArticle("single.bin", data, 0, 0, data.size()));
    Article(Header(3), YencArticle("multi.jpg", data, 1, 0, data.size(), true));

    const std::string enciphered = ReadFile(Dl() + "single.jpg");
    ASSERT_EQ(enciphered.size(), data.size() + CRYPT_HEADER_SIZE);
    EXPECT_EQ(enciphered.compare(0, 6, "KVENC\n"), 0);
    CryptState state;
    ASSERT_EQ(CryptReadHeader(state, "secret", reinterpret_cast<const uint8_t*>(enciphered.data()),
                              enciphered.size()),
              static_cast<int>(CRYPT_HEADER_SIZE));
    std::string plain = enciphered.substr(CRYPT_HEADER_SIZE);
    CryptDecrypt(state, reinterpret_cast<uint8_t*>(plain.data()), plain.size());
    EXPECT_EQ(plain, data);
    EXPECT_TRUE(CryptChecksumOk(state));
    EXPECT_TRUE(Contains(Report.Status, "Decoding and encrypting file " + Dl() + "single.jpg"));

    EXPECT_EQ(ReadFile(Dl() + "single.bin"), data);  // not in the masks
    EXPECT_EQ(ReadFile(Dl() + "multi.jpg"), data);   // a multipart post never
    EXPECT_TRUE(Contains(Report.Status, "Decoding file " + Dl() + "multi.jpg"));
}

TEST_F(DriverTest, MimePartNamesComeFromHeadersSubjectOrArticleNumber) {
    const std::string data = Noise(600, 10);
    Lines b64;
    for (size_t i = 0; i < data.size(); i += 57) b64.push_back(Base64Line(data.substr(i, 57)));
    struct Case {
        const char* Subject;
        Lines Head;
        std::string Expected;
    } cases[] = {
        {"no name here",
         {"Content-Type: image/jpeg", "Content-Transfer-Encoding: base64"},
         "u21.jpg"},
        {"no name here",
         {"Content-Type: image/gif", "Content-Transfer-Encoding: base64"},
         "u22.gif"},
        {"no name here",
         {"Content-Type: application/x-y", "Content-Transfer-Encoding: BASE64"},
         "u23"},
        {"holiday - beach.png (1/1)",
         {"Content-Type: image/jpeg", "Content-Transfer-Encoding: base64"},
         "beach.png"},
        {"x",
         {"Content-Type: image/jpeg;", " name=\"my pic\"", "Content-Transfer-Encoding: base64"},
         "my pic.jpg"},
    };
    TArticleNo number = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected);
        // MIME lines of the article's own header start the part.
        Article(Header(++number, "p@x", c.Subject), b64, c.Head);
        EXPECT_EQ(ReadFile(Dl() + c.Expected), data);
        EXPECT_TRUE(Contains(Report.Status, "EOM reached -- Mime finished?"));
    }
}

TEST_F(DriverTest, MimeLogLineAndNonBase64PartsAreLeftAlone) {
    Options.LogMime = true;
    Article(Header(30), {"Content-Type: text/plain; name=\"a.txt\"",
                         "Content-Transfer-Encoding: quoted-printable", "", "hello"});
    EXPECT_TRUE(Contains(Report.Logged, "[MIME] 30 type=text/plain encode=unknown fname=a.txt"));
    EXPECT_FALSE(Exists(Dl() + "a.txt"));
    EXPECT_EQ(Driver->MimeState(), MIME_NONE);
}

TEST_F(DriverTest, TwoBeginLinesInOneArticleFinishTheFirstAsIncomplete) {
    const std::string data = Noise(200, 11);
    Lines first = UuLines(data);
    first.pop_back();  // no closing line, no "end"
    Article(Header(40),
            Concat({{"begin 644 one.bin"}, first, {"begin 644 two.bin"}, UuLines(data), {"end"}}));
    EXPECT_TRUE(Contains(Report.Status, "previous file incomplete"));
    ASSERT_EQ(Report.Logged.size(), 2u);
    EXPECT_EQ(Report.Logged[0].rfind("[INCOMPLETE] " + Dl() + "one.bin", 0), 0u);
    EXPECT_EQ(Report.Logged[1].rfind("[RECEIVED] " + Dl() + "two.bin", 0), 0u);
    EXPECT_EQ(ReadFile(Dl() + "one.bin"), data);  // nothing written is lost
}

TEST_F(DriverTest, UuencodedFileResumesInThePostersNextArticle) {
    const std::string data = Noise(45 * 20, 12);
    Lines lines = UuLines(data);
    THeader* a = Header(50, "bob@x");
    THeader* b = Header(51, "bob@x");
    Chain({a, b});
    EXPECT_TRUE(
        Article(a, Concat({{"begin 644 cut.bin"}, Lines(lines.begin(), lines.begin() + 8)})));
    EXPECT_TRUE(Contains(Report.Status, "EOM reached -- Attempting Continue"));
    EXPECT_EQ(Driver->DecodeState(), DS_AWAITING_CONTINUATION);
    EXPECT_FALSE(Article(b, Concat({{"part 2 of cut.bin", "", "-- sig"},
                                    Lines(lines.begin() + 8, lines.end()),
                                    {"end"}})));
    EXPECT_EQ(ReadFile(Dl() + "cut.bin"), data);
    EXPECT_TRUE(Contains(Checks.Text, "part 2 of cut.bin"));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED]", 0), 0u);
}

TEST_F(DriverTest, ProseThatStartsWithBeginIsText) {
    const std::string data = Noise(45 * 3, 27);
    Lines lines = UuLines(data);
    // Inside an open file too: it must not end the file as incomplete.
    Article(Header(55), {"begin is just a word here.", "begin 644 p.bin", lines[0],
                         "begin with care", lines[1], lines[2], lines[3], "end"});
    EXPECT_EQ(ReadFile(Dl() + "p.bin"), data);
    EXPECT_FALSE(Contains(Report.Status, "previous file incomplete"));
    EXPECT_EQ(Checks.Text, (Lines{"begin is just a word here."}));
    EXPECT_TRUE(Contains(Report.Status, "Decode bogus line(begin with care)"));
}

TEST_F(DriverTest, CutFileWithoutAFollowingArticleIsIncompleteAndMayBeDeleted) {
    const std::string data = Noise(45 * 4, 13);
    Lines lines = UuLines(data);
    for (int deleteIncomplete : {0, 1}) {
        SCOPED_TRACE(deleteIncomplete);
        Options.DeleteIncomplete = deleteIncomplete;
        std::string name = "cut" + std::to_string(deleteIncomplete) + ".bin";
        EXPECT_FALSE(
            Article(Header(60 + deleteIncomplete), {"begin 644 " + name, lines[0], lines[1]}));
        EXPECT_TRUE(Contains(Report.Status, "EOM reached -- Decode aborted"));
        EXPECT_EQ(Report.Logged.back().rfind("[INCOMPLETE] " + Dl() + name, 0), 0u);
        EXPECT_EQ(Exists(Dl() + name), deleteIncomplete == 0);
    }
}

// A uuencoded file waiting for the poster's next article when the walk
// ends: every decoded byte reaches the disk, an enciphered file gets its
// final checksum, and the file is logged incomplete.
TEST_F(DriverTest, UuFileWaitingWhenTheWalkEndsIsFlushedAndLogged) {
    TDriverOptions& s = Options;
    s.EncryptionEnable = true;
    s.EncryptionKey = "secret";
    const std::string data = Noise(45 * 300, 17);  // more than the stream buffer holds back
    const Lines lines = UuLines(data);
    for (const char* name : {"wait.bin", "wait.jpg"}) {
        SCOPED_TRACE(name);
        Report.Logged.clear();
        THeader* h[2] = {Header(300), Header(301)};
        Chain({h[0], h[1]});
        Lines body = {"begin 644 "s + name};
        body.insert(body.end(), lines.begin(), lines.begin() + 300);  // no "end"
        EXPECT_TRUE(Article(h[0], body));
        EXPECT_EQ(Driver->DecodeState(), DS_AWAITING_CONTINUATION);
        Driver->EndWaitingFiles("the program exits");
        EXPECT_EQ(Driver->DecodeState(), DS_IDLE);
        ASSERT_EQ(Report.Logged.size(), 1u);
        EXPECT_EQ(Report.Logged[0].rfind("[INCOMPLETE] " + Dl() + name, 0), 0u);
        EXPECT_TRUE(Contains(Report.Status, "(the program exits)"));
        std::string contents = ReadFile(Dl() + name);
        if (std::string(name) == "wait.jpg") {
            CryptState state;
            ASSERT_EQ(
                CryptReadHeader(state, "secret", reinterpret_cast<const uint8_t*>(contents.data()),
                                contents.size()),
                static_cast<int>(CRYPT_HEADER_SIZE));
            contents = contents.substr(CRYPT_HEADER_SIZE);
            CryptDecrypt(state, reinterpret_cast<uint8_t*>(contents.data()), contents.size());
            EXPECT_TRUE(CryptChecksumOk(state));
        }
        EXPECT_EQ(contents, data);
        Driver->EndWaitingFiles("again");  // nothing waits any more
        EXPECT_EQ(Report.Logged.size(), 1u);
    }
}

TEST_F(DriverTest, JpegWithTheBadCommentMarkerIsDeleted) {
    const std::string evil = "\xFF\xD8\xFF\xFE\x00\x01"s + Noise(500, 14);
    Article(Header(70), YencArticle("evil.jpg", evil, 0, 0, evil.size()));
    EXPECT_FALSE(Exists(Dl() + "evil.jpg"));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[POSSIBLE VIRUS -- DELETED] " + Dl() + "evil.jpg", 0), 0u);
    EXPECT_TRUE(Contains(Report.Status, "Possible Jpeg Virus("));
    EXPECT_TRUE(Contains(Report.Status, "Deleting evil.jpg"));
}

TEST_F(DriverTest, DeletedMultipartYencFileIsNotBroughtBackByLaterParts) {
    const std::string evil = "\xFF\xD8\xFF\xFE\x00\x00"s + Noise(3000, 15);
    THeader* h[2] = {Header(80), Header(81)};
    Chain({h[0], h[1]});
    EXPECT_FALSE(Article(h[0], YencArticle("evil.jpg", evil, 1, 0, 1500)));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[POSSIBLE VIRUS -- DELETED]", 0), 0u);
    EXPECT_FALSE(Driver->MorePartsToCome());
    Article(h[1], YencArticle("evil.jpg", evil, 2, 1500, evil.size(), true));
    EXPECT_FALSE(Exists(Dl() + "evil.jpg"));
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: part 2 of a deleted file ignored"));
    EXPECT_EQ(Report.Logged.size(), 1u);
}

TEST_F(DriverTest, YencDamageCountsAsErrorsOfTheFile) {
    const std::string data = Noise(3000, 16);
    struct Case {
        const char* Name;
        std::string Trailer;
        const char* Status;
    } cases[] = {
        {"crc.bin", "=yend size=3000 crc32=" + Hex(BitwiseCrc32(data) ^ 1), "has CRC32"},
        {"size.bin", "=yend size=2999 crc32=" + Hex(BitwiseCrc32(data)),
         "bytes, \"=yend\" says 2999"},
    };
    TArticleNo number = 90;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Lines body = YencArticle(c.Name, data, 0, 0, data.size());
        body.back() = c.Trailer;
        Article(Header(++number), body);
        EXPECT_EQ(Report.Logged.back().rfind("[RECEIVED] (1 errors) " + Dl() + c.Name, 0), 0u);
        EXPECT_TRUE(Contains(Report.Status, c.Status));
        EXPECT_EQ(ReadFile(Dl() + c.Name), data);
    }
    // A damaged part is an error of the whole multipart file.
    Lines part1 = YencArticle("mp.bin", data, 1, 0, 1000);
    part1.back() = "=yend size=1000 part=1 pcrc32=00000000";
    Article(Header(95), part1);
    Article(Header(96), YencArticle("mp.bin", data, 2, 1000, 3000, true));
    EXPECT_EQ(Report.Logged.back().rfind("[RECEIVED] (1 errors) " + Dl() + "mp.bin", 0), 0u);
    EXPECT_TRUE(Contains(Report.Status, "yenc: part 1 of mp.bin has CRC32"));
}

TEST_F(DriverTest, BogusLinesAreCountedAndShown) {
    const std::string data = Noise(90, 17);
    Lines body = Concat({{"begin 644 b.bin"}, UuLines(data), {"end"}});
    body.insert(body.begin() + 2, "M!!!this line is far too short");
    Article(Header(100), body);
    EXPECT_TRUE(Contains(Report.Status, "Decode bogus line(M!!!this line is far too short)"));
    EXPECT_EQ(Report.Logged.back().rfind("[RECEIVED] (1 errors) ", 0), 0u);
}

TEST_F(DriverTest, HostileNamesStayInsideTheDownloadTree) {
    struct Case {
        std::string BeginLine;
        const char* Saved;  // nullptr: refused
    } cases[] = {
        {"begin 644 ..\\..\\windows\\x.dll", "x.dll"},
        {"begin 644 ../../../etc/passwd", "passwd"},
        {"begin 644 /abs/path/y.bin", "y.bin"},
        {"begin 644 dir/..", nullptr},
        {"begin 644 dir/", nullptr},
        {"begin 644 bell\x07.bin", "bell_.bin"},
    };
    const std::string data = Noise(45, 18);
    TArticleNo number = 110;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.BeginLine);
        Article(Header(++number), Concat({{c.BeginLine}, UuLines(data), {"end"}}));
        if (c.Saved) {
            EXPECT_EQ(ReadFile(Dl() + c.Saved), data);
            EXPECT_EQ(Report.Logged.back().find('\x07'), std::string::npos);
        } else {
            EXPECT_TRUE(Contains(Report.Status, "Unusable file name"));
            // The post that made no file is named in the log.
            EXPECT_EQ(Report.Logged.back().rfind("[ERROR] alt.binaries.test \"subject\": no file, "
                                                 "unusable file name",
                                                 0),
                      0u)
                << Report.Logged.back();
        }
    }
    EXPECT_FALSE(Exists(Home.Path() + "/x.dll"));
    EXPECT_FALSE(Exists("/tmp/passwd"));
    EXPECT_EQ(Report.Logged.size(), 6u);
}

TEST_F(DriverTest, NamesAreConvertedAndPlacedByTheGroupScheme) {
    TDriverOptions& s = Options;
    s.PathExpand = 1;
    s.CaseConvert = 1;
    Options.PathPrefixes = {"alt", "alt.binaries"};
    Group = News.AddGroup("alt.binaries.pictures.misc");
    const std::string data = Noise(45, 19);
    Article(Header(120), Concat({{"begin 644 Photo.JPG"}, UuLines(data), {"end"}}));
    EXPECT_EQ(ReadFile(Dl() + "pictures/misc/photo.jpg"), data);
}

TEST_F(DriverTest, RefusedFileIsNotWrittenAndItsLinesAreText) {
    Checks.RefuseName = "no.bin";
    const std::string data = Noise(45, 20);
    Article(Header(130), Concat({{"begin 644 no.bin"}, UuLines(data), {"end"}}));
    EXPECT_EQ(Checks.Refused, Lines{"no.bin"});
    EXPECT_FALSE(Exists(Dl() + "no.bin"));
    EXPECT_TRUE(Report.Logged.empty());
    EXPECT_TRUE(Contains(Checks.Text, "end"));
}

// A header line that rejects the article leaves no file behind: a file
// that starts in it is not written, a file waiting for it ends incomplete,
// and a later yEnc part in it ends its waiting file and refuses the rest of
// the post. The next article is taken as usual.
TEST_F(DriverTest, RejectedArticleLeavesNoFileBehind) {
    Checks.RejectLineWith = "Organization: Evil";
    const Lines evil = {"Organization: Evil Corp"};
    const std::string data = Noise(45 * 20, 41);
    const Lines uu = UuLines(data);

    Article(Header(150), Concat({{"begin 644 single.bin"}, uu, {"end"}}), evil);
    EXPECT_FALSE(Exists(Dl() + "single.bin"));
    EXPECT_TRUE(Contains(Report.Status, "A file of rejected article #150 is not written"));
    EXPECT_TRUE(Report.Logged.empty());

    THeader* a = Header(151, "bob@x");
    THeader* b = Header(152, "bob@x");
    Chain({a, b});
    Article(a, Concat({{"begin 644 waits.bin"}, Lines(uu.begin(), uu.begin() + 8)}));
    ASSERT_EQ(Driver->DecodeState(), DS_AWAITING_CONTINUATION);
    Article(b, Concat({Lines(uu.begin() + 8, uu.end()), {"end"}}), evil);
    EXPECT_EQ(Driver->DecodeState(), DS_IDLE);
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[INCOMPLETE] " + Dl() + "waits.bin", 0), 0u);

    const std::string whole = Noise(6000, 42);
    THeader* p1 = Header(153, "carol@x");
    THeader* p2 = Header(154, "carol@x");
    Chain({p1, p2});
    Article(p1, YencArticle("parts.bin", whole, 1, 0, 3000));
    ASSERT_TRUE(Driver->MorePartsToCome());
    Article(p2, YencArticle("parts.bin", whole, 2, 3000, 6000), evil);
    EXPECT_TRUE(Driver->PartRefused());
    EXPECT_FALSE(Driver->MorePartsToCome());
    ASSERT_EQ(Report.Logged.size(), 2u);
    EXPECT_EQ(Report.Logged[1].rfind("[INCOMPLETE] " + Dl() + "parts.bin", 0), 0u);

    Article(Header(155), Concat({{"begin 644 fine.bin"}, uu, {"end"}}));
    EXPECT_EQ(ReadFile(Dl() + "fine.bin"), data);
}

TEST_F(DriverTest, DirectoryAndDiskFailuresFinishTheFileAndTheRunGoesOn) {
    // The download path lies under a regular file: nothing can be created.
    ASSERT_TRUE(EnsureDirectory(Home.Path() + "/", true));
    std::ofstream(Home.Path() + "/plain") << "x";
    Options.DownloadPath = Home.Path() + "/plain/dl";
    const std::string data = Noise(45 * 600, 21);
    Article(Header(140), Concat({{"begin 644 a.bin"}, UuLines(data), {"end"}}));
    EXPECT_TRUE(
        Contains(Report.Status, "Unable to access download path " + Home.Path() + "/plain/dl/!"));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0],
              "[ERROR] alt.binaries.test \"subject\": no file, unable to access download path " +
                  Home.Path() + "/plain/dl/");

    // The disk fills up after the first buffer: that stays, the file is an
    // error, whether the failing write comes mid-file or as the last flush.
    Options.DownloadPath = Home.Path() + "/dl";
    for (size_t lines : {600, 1500}) {
        SCOPED_TRACE(lines);
        const std::string big = Noise(45 * lines, 25);
        const std::string name = "full" + std::to_string(lines) + ".bin";
        Report.Logged.clear();
        InjectFileFault(TFileFault::DISK_FULL, 1);
        Article(Header(static_cast<TArticleNo>(141 + lines)),
                Concat({{"begin 644 " + name}, UuLines(big), {"end"}}));
        EXPECT_TRUE(Contains(Report.Status, "Decode aborted("));
        ASSERT_EQ(Report.Logged.size(), 1u);
        EXPECT_EQ(Report.Logged[0].rfind("[ERROR] " + Dl() + name, 0), 0u);
        const std::string kept = ReadFile(Dl() + name);
        EXPECT_GT(kept.size(), DECODE_STREAM_BUFFER - 45);
        EXPECT_EQ(kept, big.substr(0, kept.size()));
    }
    EXPECT_TRUE(Checks.Received.empty());

    // The next file is written normally.
    Article(Header(142), Concat({{"begin 644 next.bin"}, UuLines(data), {"end"}}));
    EXPECT_EQ(ReadFile(Dl() + "next.bin"), data);
}

TEST_F(DriverTest, ArticleWithoutAttachmentIsReportedOnceAfterTheThreshold) {
    Options.NoDataThresh = 512;
    THeader* h = Header(150);
    Start(h, "<x>");
    Driver->HeaderEnd();
    for (int n = 1; n <= 600; ++n) {
        Driver->BodyLine("just text", n);
        EXPECT_EQ(Checks.NoData, n >= 513 ? 1 : 0) << "line " << n;
    }
    Driver->ArticleEnd();
    // A threshold below 64 acts as 64.
    Options.NoDataThresh = 10;
    Start(Header(151), "<y>");
    Driver->HeaderEnd();
    for (int n = 1; n <= 65; ++n) Driver->BodyLine("text", n);
    EXPECT_EQ(Checks.NoData, 2);
}

TEST_F(DriverInAppTest, DailyLogCarriesSubjectAndFromLines) {
    TSettings& s = Settings.Settings();
    s.LogEnabled = 1;
    s.LogSubject = 1;
    s.LogName = 1;
    const std::string data = Noise(45, 22);
    Article(Header(160, "Ann <ann@x>", "my file (1/1)"),
            Concat({{"begin 644 f.bin"}, UuLines(data), {"end"}}));
    Log->CloseDailyLog();
    std::string logged = ReadFile(Log->DailyLogPath());
    EXPECT_NE(logged.find("[RECEIVED] " + Dl() + "f.bin alt.binaries.test <160@test> 160 "),
              std::string::npos);
    EXPECT_NE(logged.find("\n  Subject: my file (1/1)\n  From: Ann <ann@x>\n"), std::string::npos);
    EXPECT_EQ(View.Logged.size(), 1u);  // the detail lines stay in the file
}

// The lines under a finished file's log line in the daily log, by the
// options and by what its header knows.
TEST_F(DriverTest, FinishedFileDetailsFollowTheLogOptions) {
    struct Case {
        bool Subject, Name;
        const char* Poster;  // nullptr: unknown
        Lines Details;
    } const cases[] = {
        {true, true, "Ann <ann@x>", {"  Subject: my file (1/1)", "  From: Ann <ann@x>"}},
        {true, false, "Ann <ann@x>", {"  Subject: my file (1/1)"}},
        {false, true, "Ann <ann@x>", {"  From: Ann <ann@x>"}},
        {false, false, "Ann <ann@x>", {}},
        {true, true, nullptr, {"  Subject: my file (1/1)"}},
    };
    const std::string data = Noise(45, 28);
    TArticleNo number = 400;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.Subject << c.Name << (c.Poster ? "" : " no poster"));
        Options.LogSubject = c.Subject;
        Options.LogName = c.Name;
        Report.Details.clear();
        THeader* h = Header(++number, "x", "my file (1/1)");
        h->Poster = c.Poster ? News.Intern(c.Poster) : nullptr;
        const std::string name = "d" + std::to_string(number) + ".bin";
        Article(h, Concat({{"begin 644 " + name}, UuLines(data), {"end"}}));
        EXPECT_EQ(Report.Logged.back().rfind("[RECEIVED] " + Dl() + name, 0), 0u);
        EXPECT_EQ(Report.Details, c.Details);
    }
}

TEST_F(DriverTest, UserAbortClosesLogsAndDeletesTheFile) {
    const std::string data = Noise(45 * 3, 23);
    Start(Header(170), "<z>");
    Driver->HeaderEnd();
    Lines lines = Concat({{"begin 644 stop.bin"}, UuLines(data)});
    for (size_t i = 0; i < 3; ++i) Driver->BodyLine(lines[i], static_cast<int>(i + 1));
    EXPECT_EQ(Report.Indicator, DECODING_INDICATOR);
    EXPECT_TRUE(Driver->AbortCurrentFile());
    EXPECT_EQ(Report.Logged.back().rfind("[USER ABORT] " + Dl() + "stop.bin", 0), 0u);
    EXPECT_FALSE(Exists(Dl() + "stop.bin"));
    EXPECT_EQ(Report.Indicator, "");
    EXPECT_FALSE(Driver->AbortCurrentFile());
}

// ---- articles cut off by the connection ----

constexpr int WHOLE = -1;          // the article arrives to its end
constexpr int CUT_IN_HEADER = -2;  // cut after its first header line

// One fetch of an article of the case: whole, or cut after CutAt body lines.
struct TFetch {
    int Article;  // 1-based within the case
    Lines Body;
    int CutAt = WHOLE;
    bool Again = true;        // what ArticleCut() answers
    std::string After = "-";  // the file after this fetch; "-": not looked at
};

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ArticleCutTest : public DriverTest {
  protected:
    // Fetches as the client would, with ArticleCut() in place of the end.
    void Fetch(THeader* h, const TFetch& f) {
        if (f.CutAt == WHOLE) {
            Article(h, f.Body);
            return;
        }
        Start(h, "<" + std::to_string(h->Number) + "@test>");
        if (f.CutAt == CUT_IN_HEADER) {
            Driver->HeaderLine("Subject: " + SubjectOf(h));
        } else {
            Driver->HeaderEnd();
            ASSERT_LE(static_cast<size_t>(f.CutAt), f.Body.size());
            for (int n = 0; n < f.CutAt; ++n) Driver->BodyLine(f.Body[n], n + 1);
        }
        EXPECT_EQ(Driver->ArticleCut(), f.Again);
        EXPECT_EQ(Report.Ended, Report.Started);
        EXPECT_EQ(Report.Indicator, "");
    }
    static std::string SubjectOf(const THeader* h) { return h->Subject ? h->Subject : ""; }
};

TEST_F(ArticleCutTest, FetchingTheCutArticleAgainMakesTheFileWhole) {
    // Parts larger than the decoder's buffer, so a cut comes after bytes of
    // the part have already reached the disk.
    const std::string data = Noise(120000, 31);
    const std::string d1 = data.substr(0, 40000), d2 = data.substr(0, 80000);
    const Lines single = YencArticle("one.bin", data, 0, 0, data.size());
    const Lines p1 = YencArticle("multi.bin", data, 1, 0, 40000, true);
    const Lines p2 = YencArticle("multi.bin", data, 2, 40000, 80000, true);
    const Lines p3 = YencArticle("multi.bin", data, 3, 80000, 120000, true);
    const Lines singleTail = Concat({single, {"", "-- ", "signature"}});
    const Lines p2Tail = Concat({p2, {"trailing text"}});
    const std::string uu = Noise(45 * 120, 32);
    const Lines uuBody = Concat({{"begin 644 u.bin"}, UuLines(uu), {"end"}});
    const Lines uuTail = Concat({uuBody, {"-- sig"}});
    const std::string b64 = Noise(57 * 100, 33);
    Lines mime = {"Content-Type: application/octet-stream; name=\"m.dat\"",
                  "Content-Transfer-Encoding: base64", ""};
    for (size_t i = 0; i < b64.size(); i += 57) mime.push_back(Base64Line(b64.substr(i, 57)));
    const std::string resumed = Noise(45 * 20, 34);
    const Lines r = UuLines(resumed);
    const Lines rFirst = Concat({{"begin 644 r.bin"}, Lines(r.begin(), r.begin() + 8)});
    const Lines rSecond = Concat({{"part 2 of r.bin"}, Lines(r.begin() + 8, r.end()), {"end"}});
    const std::string missing = "<missing>";

    struct Case {
        const char* Name;
        std::string File;
        std::vector<TFetch> Fetches;
        std::string Final;
        Lines Logs;  // the tag of each log line, in order
        int DeleteIncomplete = 0;
    } cases[] = {
        {"single-part yEnc cut mid-body",
         "one.bin",
         {{1, single, 400, true, missing}, {1, single}},
         data,
         {"[RECEIVED]"}},
        {"single-part yEnc cut right after =ybegin",
         "one.bin",
         {{1, single, 1, true, missing}, {1, single}},
         data,
         {"[RECEIVED]"}},
        {"part 2 of 3 cut mid-body",
         "multi.bin",
         {{1, p1}, {2, p2, 250, true, d1}, {2, p2, WHOLE, true, d2}, {3, p3}},
         data,
         {"[RECEIVED]"}},
        {"part 2 cut twice",
         "multi.bin",
         {{1, p1}, {2, p2, 100, true, d1}, {2, p2, 250, true, d1}, {2, p2}, {3, p3}},
         data,
         {"[RECEIVED]"}},
        {"part 2 cut before its data",
         "multi.bin",
         {{1, p1}, {2, p2, 2, true, d1}, {2, p2}, {3, p3}},
         data,
         {"[RECEIVED]"}},
        {"last part cut",
         "multi.bin",
         {{1, p1}, {2, p2}, {3, p3, 250, true, d2}, {3, p3}},
         data,
         {"[RECEIVED]"}},
        {"part 1 cut",
         "multi.bin",
         {{1, p1, 250, true, missing}, {1, p1, WHOLE, true, d1}, {2, p2}, {3, p3}},
         data,
         {"[RECEIVED]"}},
        {"single-part cut after =yend",
         "one.bin",
         {{1, singleTail, static_cast<int>(single.size()) + 1, false, data}},
         data,
         {"[RECEIVED]"}},
        {"part 2 cut after its =yend",
         "multi.bin",
         {{1, p1}, {2, p2Tail, static_cast<int>(p2.size()) + 1, false, d2}, {3, p3}},
         data,
         {"[RECEIVED]"}},
        {"uuencoded file cut mid-body",
         "u.bin",
         {{1, uuBody, 60, true, missing}, {1, uuBody}},
         uu,
         {"[RECEIVED]"}},
        {"uuencoded file cut after end",
         "u.bin",
         {{1, uuTail, static_cast<int>(uuBody.size()), false, uu}},
         uu,
         {"[RECEIVED]"}},
        {"base64 part cut",
         "m.dat",
         {{1, mime, 40, true, missing}, {1, mime}},
         b64,
         {"[RECEIVED]"}},
        {"cut in the header", "one.bin", {{1, single, CUT_IN_HEADER, true, missing}}, missing, {}},
        {"continued uu file cut",
         "r.bin",
         {{1, rFirst}, {2, rSecond, 5, true, resumed.substr(0, 45 * 12)}},
         resumed.substr(0, 45 * 12),
         {"[INCOMPLETE]"}},
        {"continued uu file cut, incomplete files deleted",
         "r.bin",
         {{1, rFirst}, {2, rSecond, 5, true, missing}},
         missing,
         {"[INCOMPLETE]"},
         1},
        {"uu file awaiting its continuation cut before it",
         "r.bin",
         {{1, rFirst}, {2, rSecond, 1, true}, {2, rSecond}},
         resumed,
         {"[RECEIVED]"}},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ++index;
        const std::string dir = Home.Path() + "/cut" + std::to_string(index) + "/";
        Options.DownloadPath = dir;
        Options.DeleteIncomplete = c.DeleteIncomplete;
        Rebuild();
        Report = test::TRecordingReport{};
        // One poster's articles, so an open uu file waits for the next.
        std::vector<THeader*> headers;
        for (const auto& f : c.Fetches) {
            while (static_cast<int>(headers.size()) < f.Article)
                headers.push_back(Header(static_cast<TArticleNo>(index * 100 + headers.size())));
        }
        Chain(headers);
        for (size_t i = 0; i < c.Fetches.size(); ++i) {
            SCOPED_TRACE("fetch " + std::to_string(i + 1));
            const TFetch& f = c.Fetches[i];
            Fetch(headers[f.Article - 1], f);
            if (f.After != "-") {
                EXPECT_EQ(ReadFile(dir + c.File), f.After);
            }
        }
        EXPECT_EQ(ReadFile(dir + c.File), c.Final);
        // Under its own name: no "(1)" copy beside it, no fragment left.
        EXPECT_EQ(Listing(dir), c.Final == missing ? Lines{} : Lines{c.File});
        ASSERT_EQ(Report.Logged.size(), c.Logs.size());
        for (size_t i = 0; i < c.Logs.size(); ++i)
            EXPECT_EQ(Report.Logged[i].rfind(c.Logs[i] + " " + dir + c.File + " ", 0), 0u)
                << Report.Logged[i];
        EXPECT_FALSE(Contains(Report.Status, "has CRC32"));
        EXPECT_EQ(Driver->DecodeState(), DS_IDLE);
    }
}

TEST_F(ArticleCutTest, PartThatCannotBeTakenBackOutEndsTheFile) {
    const std::string data = Noise(60000, 35);
    THeader* h1 = Header(1);
    THeader* h2 = Header(2);
    Fetch(h1, {1, YencArticle("gone.bin", data, 1, 0, 30000, true)});
    // The user deletes the file while its second part arrives.
    const Lines p2 = YencArticle("gone.bin", data, 2, 30000, 60000, true);
    Start(h2, "<2@test>");
    Driver->HeaderEnd();
    for (int n = 0; n < 100; ++n) Driver->BodyLine(p2[n], n + 1);
    ASSERT_EQ(unlink((Dl() + "gone.bin").c_str()), 0);
    EXPECT_TRUE(Driver->ArticleCut());
    EXPECT_FALSE(Exists(Dl() + "gone.bin"));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[ERROR] (1 errors) " + Dl() + "gone.bin ", 0), 0u)
        << Report.Logged[0];
    EXPECT_FALSE(Driver->MorePartsToCome());
    // Fetching the part again brings no fragment back.
    Fetch(h2, {2, p2});
    EXPECT_FALSE(Exists(Dl() + "gone.bin"));
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: part 2 of an ended file ignored"));
    EXPECT_EQ(Report.Logged.size(), 1u);
}

class DecodeFileTest : public DriverInAppTest {};

TEST_F(DecodeFileTest, TextFileIsDecodedAsAnArticleOfTheFirstGroup) {
    TNews news(Settings, *Log, View, TNoPlugInsNoPreview::Instance(), News);
    const std::string data = Noise(45 * 10 + 7, 24);
    std::ofstream out(Home.Path() + "/post.txt", std::ios::binary);
    out << "a saved post\r\n\r\nbegin 644 saved.bin\r\n";
    for (const auto& l : UuLines(data)) out << l << "\r\n";
    out << "end\r\n";
    out.close();
    EXPECT_TRUE(news.DecodeFile(Home.Path() + "/post.txt"));
    EXPECT_EQ(ReadFile(Dl() + "saved.bin"), data);
    EXPECT_EQ(View.Logged.back(),
              "[RECEIVED] " + Dl() + "saved.bin alt.binaries.test n/a 0 UUdecode");

    EXPECT_FALSE(news.DecodeFile(Home.Path() + "/missing.txt"));
    EXPECT_EQ(View.Boxes, Lines{"Decode File: Unable to open file"});
}

// The settings are read again for every file decoded: a change after the
// main object was built counts.
TEST_F(DecodeFileTest, SettingsChangedAfterTheStartCount) {
    TNews news(Settings, *Log, View, TNoPlugInsNoPreview::Instance(), News);
    Settings.Settings().DownloadPath = Home.Path() + "/elsewhere";
    Settings.Settings().CaseConvert = 2;
    const std::string data = Noise(45 * 3, 29);
    std::ofstream out(Home.Path() + "/later.txt", std::ios::binary);
    out << "begin 644 later.bin\n";
    for (const auto& l : UuLines(data)) out << l << "\n";
    out << "end\n";
    out.close();
    EXPECT_TRUE(news.DecodeFile(Home.Path() + "/later.txt"));
    EXPECT_EQ(ReadFile(Home.Path() + "/elsewhere/LATER.BIN"), data);
    EXPECT_FALSE(Exists(Dl() + "later.bin"));
}

}  // namespace
}  // namespace zorvex

namespace zorvex {
namespace {

// Posts that break on the way: a uu/xx file goes on only in the next part
// of its own post, a post without its first part gets one line of its own,
// and the duplicate table hears only of whole files, by their posted name.
class BrokenPostTest : public DriverTest {
  protected:
    // The parts of one post by one poster, chained as the store chains
    // them; numbers gives the article numbers, parts their counters.
    std::vector<THeader*> Post(const std::string& subject, std::initializer_list<int> parts,
                               int total, TArticleNo first, const char* poster = "up@x") {
        std::vector<THeader*> headers;
        TArticleNo number = first;
        for (int part : parts) {
            const std::string s = subject + " (" + std::to_string(part) + "/" +
                                  std::to_string(total) + ")";
            headers.push_back(Header(number++, poster, News.Intern(s.c_str())));
        }
        Chain(headers);
        return headers;
    }
    // A uu/xx file cut into three articles' worth of lines.
    static std::vector<Lines> ThreeParts(const std::string& name, const std::string& data,
                                         TUuStyle style) {
        Lines lines = UuLines(data, style);
        const size_t third = lines.size() / 3;
        std::vector<Lines> parts(3);
        parts[0] = Concat({{"begin 644 " + name}, Lines(lines.begin(), lines.begin() + third)});
        parts[1] = Lines(lines.begin() + third, lines.begin() + 2 * third);
        parts[2] = Concat({Lines(lines.begin() + 2 * third, lines.end()), {"end"}});
        return parts;
    }
};

TEST_F(BrokenPostTest, UuAndXxFilesGoOnOnlyInTheirPostsNextPart) {
    const std::string data = Noise(45 * 30, 61);
    struct Case {
        const char* Name;
        TUuStyle Style;
        std::vector<int> Fetched;  // parts of the post fetched, in order (0: another post)
        std::vector<int> OnServer;
        bool Whole;
    } const cases[] = {
        {"uu whole", TUuStyle::BACKQUOTE, {1, 2, 3}, {1, 2, 3}, true},
        {"xx whole", TUuStyle::XX, {1, 2, 3}, {1, 2, 3}, true},
        {"uu middle part missing", TUuStyle::BACKQUOTE, {1, 3}, {1, 3}, false},
        {"xx middle part missing", TUuStyle::XX, {1, 3}, {1, 3}, false},
        {"uu last part missing", TUuStyle::BACKQUOTE, {1, 2}, {1, 2}, false},
        {"uu next part handled elsewhere, another article comes", TUuStyle::BACKQUOTE,
         {1, 0, 3}, {1, 2, 3}, false},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ++index;
        Report = test::TRecordingReport{};
        Checks.Received.clear();
        const std::string name = "f" + std::to_string(index) + ".bin";
        const auto parts = ThreeParts(name, data, c.Style);
        std::vector<THeader*> post;
        for (int part : c.OnServer) {
            const std::string s = name + " (" + std::to_string(part) + "/3)";
            post.push_back(Header(1000 * index + part, "up@x", s.c_str()));
        }
        Chain(post);
        THeader* other = Header(1000 * index + 99, "other@x", "talk");
        bool follow = false;
        for (int part : c.Fetched) {
            if (part == 0) {
                follow = Article(other, {"just talk"});
                continue;
            }
            THeader* h = *std::find_if(post.begin(), post.end(), [&](THeader* p) {
                return TNewsStore::PartOf(p).Part == static_cast<uint32_t>(part);
            });
            h->Flags |= HEADER_HANDLED;
            follow = Article(h, parts[static_cast<size_t>(part - 1)]);
        }
        EXPECT_FALSE(follow);
        EXPECT_EQ(Driver->DecodeState(), DS_IDLE);
        const std::string tag = c.Whole ? "[RECEIVED] " : "[INCOMPLETE] ";
        ASSERT_EQ(Report.Logged.size(), 1u) << ::testing::PrintToString(Report.Logged);
        EXPECT_EQ(Report.Logged[0].rfind(tag + Dl() + name, 0), 0u) << Report.Logged[0];
        // Never spliced: an incomplete file holds the parts before the gap.
        const size_t partBytes = (UuLines(data, c.Style).size() / 3) * 45;
        size_t before = 0;
        while (before < c.Fetched.size() && c.Fetched[before] == static_cast<int>(before) + 1)
            ++before;
        EXPECT_EQ(ReadFile(Dl() + name), c.Whole ? data : data.substr(0, partBytes * before));
        EXPECT_EQ(Checks.Received, c.Whole ? Lines{name} : Lines{});
    }
}

TEST_F(BrokenPostTest, NextPartCopiesAndAShortLastPartContinueTheFile) {
    // 61 bytes: the last part's only data line is a short one.
    const std::string data = Noise(45 + 16, 62);
    const Lines lines = UuLines(data);
    std::vector<THeader*> post = Post("short.bin", {1, 2, 2}, 2, 10);
    EXPECT_TRUE(Article(post[0], {"begin 644 short.bin", lines[0]}));
    // The walk follows to the next part, past nothing: the copy comes later.
    EXPECT_EQ(TNewsStore::NextPartOfPost(post[0]), post[1]);
    post[1]->Flags |= HEADER_HANDLED;
    EXPECT_FALSE(Article(post[1], {"part two", lines[1], lines[2], "end"}));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED] " + Dl() + "short.bin", 0), 0u);
    EXPECT_EQ(ReadFile(Dl() + "short.bin"), data);
    // The second copy of part 2 is one the walk skips.
    EXPECT_TRUE(TNewsStore::RepeatsHandledPart(post[2]));
    EXPECT_FALSE(TNewsStore::RepeatsHandledPart(post[1]));
}

// After a reconnect the walk may bring the other copy of the awaited part.
TEST_F(BrokenPostTest, AnotherCopyOfTheAwaitedPartContinuesTheFile) {
    const std::string data = Noise(45 * 4, 67);
    const Lines lines = UuLines(data);
    std::vector<THeader*> post = Post("copy.bin", {1, 2, 2}, 2, 30);
    EXPECT_TRUE(Article(post[0], {"begin 644 copy.bin", lines[0], lines[1]}));
    EXPECT_FALSE(Article(post[2], {lines[2], lines[3], lines[4], "end"}));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED] " + Dl() + "copy.bin", 0), 0u);
    EXPECT_EQ(ReadFile(Dl() + "copy.bin"), data);
}

TEST_F(BrokenPostTest, PostWithoutItsFirstPartGetsOneLineAndNoFile) {
    const std::string data = Noise(45 * 30, 63);
    struct Case {
        const char* Name;
        bool Yenc;
        TUuStyle Style;
    } const cases[] = {
        {"yEnc", true, TUuStyle::BACKQUOTE},
        {"uu", false, TUuStyle::BACKQUOTE},
        {"xx", false, TUuStyle::XX},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ++index;
        Report = test::TRecordingReport{};
        const std::string name = "h" + std::to_string(index) + ".bin";
        std::vector<THeader*> post = Post(name, {2, 3}, 3, 2000 * index + 2);
        std::vector<Lines> bodies;
        if (c.Yenc) {
            bodies = {YencArticle(name, data, 2, 450, 900), YencArticle(name, data, 3, 900, 1350)};
        } else {
            const auto parts = ThreeParts(name, data, c.Style);
            bodies = {parts[1], parts[2]};
        }
        EXPECT_FALSE(Article(post[0], bodies[0]));
        // The rest of the post is not worth asking for.
        EXPECT_TRUE(Driver->PartRefused());
        EXPECT_EQ(Checks.NoData, 0);
        // Should the walk bring the next part all the same, it adds no line.
        Article(post[1], bodies[1]);
        ASSERT_EQ(Report.Logged.size(), 1u) << ::testing::PrintToString(Report.Logged);
        const std::string& line = Report.Logged[0];
        EXPECT_EQ(line.rfind("[INCOMPLETE] alt.binaries.test \"" + name + " (2/3)\": no file", 0),
                  0u)
            << line;
        EXPECT_NE(line.find("parts 2-3 of 3, missing 1"), std::string::npos) << line;
        EXPECT_FALSE(Exists(Dl() + name));
    }
}

TEST_F(BrokenPostTest, TextPartsOfAPostAreNotAnIncompleteFile) {
    std::vector<THeader*> post = Post("my story", {2}, 3, 3000);
    Article(post[0], {"Chapter two.", "It was a dark and stormy night;", "end of chapter"});
    EXPECT_TRUE(Report.Logged.empty());
    EXPECT_FALSE(Driver->PartRefused());
}

TEST_F(BrokenPostTest, YencPartCopiesAreIgnoredAndTheDupeTableHearsOfWholeFilesOnly) {
    const std::string data = Noise(9000, 64);
    // A file of that name is there: the post lands under a free name.
    std::filesystem::create_directories(Dl());
    test::WriteFile(Dl() + "x.jpg", "older");
    std::vector<THeader*> post = Post("x.jpg yEnc", {1, 2, 2, 3}, 3, 4000);
    EXPECT_TRUE(Article(post[0], YencArticle("x.jpg", data, 1, 0, 3000)));
    EXPECT_TRUE(Checks.Received.empty());
    EXPECT_TRUE(Article(post[1], YencArticle("x.jpg", data, 2, 3000, 6000)));
    EXPECT_TRUE(Article(post[2], YencArticle("x.jpg", data, 2, 3000, 6000)));
    EXPECT_TRUE(Contains(Report.Status, "multipart yenc: part 2 of x.jpg again: ignored"));
    EXPECT_FALSE(Driver->PartRefused());
    EXPECT_TRUE(Checks.Received.empty());
    EXPECT_FALSE(Article(post[3], YencArticle("x.jpg", data, 3, 6000, 9000)));
    EXPECT_EQ(ReadFile(Dl() + "x(1).jpg"), data);
    EXPECT_EQ(Checks.Received, Lines{"x.jpg"});
    EXPECT_EQ(Checks.Opened, (Lines{"x.jpg", "x.jpg", "x.jpg"}));
    ASSERT_EQ(Report.Logged.size(), 1u);
    EXPECT_EQ(Report.Logged[0].rfind("[RECEIVED] " + Dl() + "x(1).jpg", 0), 0u);
}

TEST_F(BrokenPostTest, YencPartWithoutItsTrailerEndsTheFile) {
    const std::string data = Noise(9000, 65);
    std::vector<THeader*> post = Post("t.bin yEnc", {1, 2, 3}, 3, 5000);
    EXPECT_TRUE(Article(post[0], YencArticle("t.bin", data, 1, 0, 3000)));
    Lines cut = YencArticle("t.bin", data, 2, 3000, 6000);
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(Article(post[1], cut));
    EXPECT_TRUE(Driver->PartRefused());
    Article(post[2], YencArticle("t.bin", data, 3, 6000, 9000));
    ASSERT_EQ(Report.Logged.size(), 1u) << ::testing::PrintToString(Report.Logged);
    EXPECT_EQ(Report.Logged[0].rfind("[INCOMPLETE] " + Dl() + "t.bin", 0), 0u);
    EXPECT_TRUE(Checks.Received.empty());
}

TEST_F(BrokenPostTest, Base64PartCutAtTheArticlesEndIsIncompleteWhenMorePartsAreCounted) {
    const std::string data = Noise(57 * 20, 66);  // whole lines, no padding
    Lines body = {"Content-Type: application/octet-stream; name=\"m.bin\"",
                  "Content-Transfer-Encoding: base64", ""};
    for (size_t i = 0; i < data.size(); i += 57) body.push_back(Base64Line(data.substr(i, 57)));
    TArticleNo number = 6000;
    for (const auto& [subject, tag] : {std::pair{"m.bin (1/2)", "[INCOMPLETE] "},
                                       std::pair{"m.bin (1/1)", "[RECEIVED] "}}) {
        SCOPED_TRACE(subject);
        Report = test::TRecordingReport{};
        Article(Header(number++, "up@x", subject), body);
        ASSERT_EQ(Report.Logged.size(), 1u);
        EXPECT_EQ(Report.Logged[0].rfind(tag, 0), 0u) << Report.Logged[0];
    }
}

}  // namespace
}  // namespace zorvex
