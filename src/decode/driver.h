// driver: turns the lines of the article being fetched into finished files.
// Classifies every body line, starts uuencode/xxencode, yEnc and MIME base64
// files, places and names them, feeds the decoder and finishes each file
// with one of five results, written to the log. Carries a multipart yEnc
// file across articles and a uuencoded file across a break between two
// articles of the same poster. It reads nothing but a TDriverOptions value,
// which its owner hands over again whenever the settings may have changed,
// and says what it does only through a TDriverReport. What decides whether
// a file may be written at all (masks, dupes, lockouts, plug-ins) is asked
// of TArticleChecks.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/ncdc.h"
#include "nntp/newsstore.h"

namespace zorvex {

constexpr size_t MESSAGE_ID_MAX = 255;
constexpr size_t MIME_NAME_MAX = 1023;
constexpr size_t BOGUS_LINE_SHOWN = 64;
constexpr int NODATA_THRESH_MIN = 64;
constexpr const char* NO_MESSAGE_ID = "n/a";
constexpr const char* DECODING_INDICATOR = "DECD";

// The states keep their short names in the namespace: the owner and the
// tests compare with them.
enum class TDecodeState {
    DS_IDLE,
    DS_DECODING,
    DS_AWAITING_CONTINUATION,  // a uu/xx file waits for the poster's next article
};
using enum TDecodeState;

enum class TMimeState {
    MIME_NONE,
    MIME_IN_HEADERS,
    MIME_BODY_NEXT,  // the next non-empty line starts the part
};
using enum TMimeState;

// Unscoped: callers keep results beside plain numbers in their tables.
enum TFileResult : int {
    RESULT_RECEIVED = 0,
    RESULT_ERROR = 1,
    RESULT_INCOMPLETE = 2,
    RESULT_USER_ABORT = 3,
    RESULT_POSSIBLE_VIRUS = 4,
};
const char* ResultTag(TFileResult result);

// The file being decoded; a copy of it goes to the received list when it
// is finished.
struct TCurrentFile {
    std::string MessageId = NO_MESSAGE_ID;
    std::string GroupName;
    std::string Directory;  // ends with '/'
    std::string FileName;
    int64_t Size = 0;
    TFileResult Result = RESULT_RECEIVED;
    int Errors = 0;
    bool Deleted = false;  // removed by the driver (possible virus, incomplete)
    const THeader* Header = nullptr;
    TArticleNo Article = 0;
};

// What the driver reads of the settings. The owner fills it from its
// settings; nothing here has a default of its own.
struct TDriverOptions {
    bool ViewerEnable = false;       // the decoder fills the preview
    bool EnableHttpGrabber = false;  // header and body lines go to the URL grabber too
    int NoDataThresh = 0;            // body lines with no file before the reject (64 at least)
    std::string DownloadPath;        // empty: no file is written
    int PathExpand = 0;              // the directory scheme: see GroupDirectory
    std::vector<std::string> PathPrefixes;  // what that scheme cuts off group names
    int CaseConvert = 0;                    // see ConvertCase
    bool RenameDupes = false;               // a new file gets a free name instead of overwriting
    bool DeleteIncomplete = false;
    bool EncryptionEnable = false;  // with a key: files matching the masks are enciphered
    std::string EncryptionKey;
    bool LogMime = false;     // a "[MIME]" log line for every MIME part
    bool LogSubject = false;  // a finished file's subject, and its poster, under
    bool LogName = false;     // its log line in the daily log file
};

// Where the driver says what it does: the status list, the log, and the
// article and decoding indicators of the window.
class TDriverReport {
  public:
    virtual ~TDriverReport() = default;
    virtual void StatusLine(std::string_view line) = 0;
    // A file is finished: line is its log line, filed under the file's
    // article; details (its subject and poster) belong under it in the
    // daily log file only, and only when that file is kept.
    virtual void FileFinished(const TCurrentFile& file, std::string_view line,
                              std::span<const std::string> details) = 0;
    // The log line "[MIME] ..." of a MIME part.
    virtual void MimeLine(std::string_view line) = 0;
    // The log line of a post that made no file: "[INCOMPLETE]" when its
    // parts came without the first, "[ERROR]" when its file could not be
    // opened. One per post, filed under the article that showed it.
    virtual void UnsavedPost(const THeader* header, std::string_view line) = 0;
    // An article starts (its number and line count from the header) or ends.
    virtual void ArticleStarted(long long number, int lines) = 0;
    virtual void ArticleEnded() = 0;
    // DECODING_INDICATOR while a file is being decoded, empty when not.
    virtual void ShowIndicator(std::string_view text) = 0;
};

// A "begin 644 name" or "=ybegin part= size= name=" line, read once.
struct TBeginLine {
    TDecodeMode Mode = MODE_UU;  // MODE_UU or MODE_YENC
    bool HasName = false;
    std::string Name;   // as the line gives it, tidied
    int64_t Part = -1;  // yEnc part=, -1 when absent (uu: always)
    int64_t Size = -1;  // yEnc size=, -1 when absent
};
// kind is LINE_BEGIN or LINE_YBEGIN, as ClassifyLine found it.
TBeginLine ReadBeginLine(TLineKind kind, std::string_view line);

// Everything outside decoding that sees an article's lines or has a say
// over its file: the acceptance checks and their reject lines, the
// plug-ins, the URL grabber and the duplicate tables.
class TArticleChecks {
  public:
    virtual ~TArticleChecks() = default;
    // The article's identifier, when the server starts sending it.
    virtual void ArticleReady(const THeader* header, std::string_view messageId) = 0;
    // Each header line of the article: plug-ins, URL grabber, lockouts.
    // True when the article is rejected: none of its files is written.
    virtual bool ArticleHeaderLine(const THeader* header, std::string_view line) = 0;
    // A body line that is not decoded, and one that is.
    virtual void TextLine(std::string_view line) = 0;
    virtual void CodeLine(std::string_view line) = 0;
    // A body line for the URL grabber ([misc] enablehttpgrabber).
    virtual void GrabUrls(std::string_view line) = 0;
    // Whether a file of this (cleaned) name may be decoded; a refusal has
    // already reported its reason.
    virtual bool FileAccepted(const THeader* header, const std::string& name) = 0;
    // Body lines without an attachment went past the threshold.
    virtual void RejectNoData(const THeader* header) = 0;
    // Whether a new file of this name is enciphered (the encryption masks).
    virtual bool EncryptionMaskMatches(const std::string& name) = 0;
    // The duplicate tables hear of every file opened and every one received
    // whole, by the name it was posted with (not a free name found for it).
    virtual void FileOpened(const std::string& name) = 0;
    virtual void FileReceived(const THeader* header, const std::string& name) = 0;
};

// The driver on its own (tests, fuzzing, benchmarks): every file is
// accepted, every name matches the encryption masks, nothing is rejected
// for lack of data and nobody else sees the lines.
class TAcceptEverything final : public TArticleChecks {
  public:
    void ArticleReady(const THeader*, std::string_view) override {}
    bool ArticleHeaderLine(const THeader*, std::string_view) override { return false; }
    void TextLine(std::string_view) override {}
    void CodeLine(std::string_view) override {}
    void GrabUrls(std::string_view) override {}
    bool FileAccepted(const THeader*, const std::string&) override { return true; }
    void RejectNoData(const THeader*) override {}
    bool EncryptionMaskMatches(const std::string&) override { return true; }
    void FileOpened(const std::string&) override {}
    void FileReceived(const THeader*, const std::string&) override {}
    static TAcceptEverything& Instance() {
        static TAcceptEverything all;
        return all;
    }
};

class TArticleDriver {
  public:
    TArticleDriver(TDriverReport& report, TArticleChecks& checks,
                   TDecodeObservers& observers = TNoPlugInsNoPreview::Instance());
    ~TArticleDriver();
    TArticleDriver(const TArticleDriver&) = delete;
    TArticleDriver& operator=(const TArticleDriver&) = delete;

    // The settings may have changed: the owner hands them over before each
    // article and before a file of lines.
    void SetOptions(const TDriverOptions& options) { Options = options; }

    // The server starts sending an article of group.
    void ArticleStart(const TNewsGroup* group, const THeader* header, std::string_view messageId);
    void HeaderLine(std::string_view line);
    // The empty line after the article's header.
    void HeaderEnd();
    // One body line; received counts the body lines of the article so far.
    void BodyLine(std::string_view line, int received);
    // The article's end: finishes or parks the open file. Returns the
    // follow-poster flag: whether the poster's next article should come next.
    bool ArticleEnd();
    // The user deleted the file being received: it is closed with the user
    // abort tag and deleted. False when no file was being decoded.
    bool AbortCurrentFile();
    // The connection cut the article off before its end. A file it began is
    // removed and a multipart part it appended is taken back out, so that
    // fetching the article again makes them whole; a file carried over from
    // an earlier article ends incomplete. Returns whether the article must
    // be fetched again: false when what it carried was finished before the
    // cut.
    bool ArticleCut();
    // The walk will not bring the article a file waits for: the group or
    // the run ended, or the program exits. A uu/xx file waiting for its next
    // article and a multipart yEnc file waiting for its next part end
    // incomplete, with their log lines. why is said in the status line.
    void EndWaitingFiles(const char* why);

    // After an article: the rest of its post is of no use. A part of it
    // could not be added to its file (out of sequence, without its first
    // part, its file ended or gone), or the post's file was refused and
    // nothing of the article waits for more.
    bool PartRefused() const {
        return ThisArticle.RefusedPart ||
               (ThisArticle.FileRefused && State == DS_IDLE && !Multipart.MoreParts);
    }
    TDecodeState DecodeState() const { return State; }
    TMimeState MimeState() const { return Mime; }
    bool MorePartsToCome() const { return Multipart.MoreParts; }
    const TCurrentFile& Current() const { return File; }
    // Every file finished, newest last.
    const std::deque<TCurrentFile>& Received() const { return ReceivedFiles; }
    TDecoder& Decoder() { return Dec; }

  private:
    // The multipart yEnc file being carried across articles.
    struct TMultipartYenc {
        int64_t LastPart = -1;
        int64_t TotalSize = -1;
        std::string FirstCleanName;
        std::string FirstFinalName;
        const THeader* FirstHeader = nullptr;  // the article of its first part
        bool MoreParts = false;
        bool Complete = false;  // its last part came: a further copy is a repeat
        bool Ended = false;     // deleted or ended: later parts are ignored
        bool Deleted = false;   // and its file is gone
        int64_t FileBytes = 0;  // decoded by the parts so far
        int Errors = 0;
        // The whole-file CRC of the parts so far: the decoder's own belongs
        // to the last file it decoded, which may be another post's.
        uint32_t Crc = 0;
        // The JPEG check's state at the end of the parts so far: a bad
        // marker in a later part counts as much as one in the first.
        JpegVirusState Virus;
    };
    // What the current article did, for a cut: it began the open file, it
    // appended a part to it (the file's size before), it finished a file;
    // and whether it brought a yEnc part that was refused.
    struct TArticleEffects {
        bool Begun = false;
        bool Appended = false;
        int64_t SizeBeforePart = 0;
        bool Finished = false;
        bool RefusedPart = false;
        bool FileRefused = false;  // a file it began was refused or could not be opened
        bool Rejected = false;     // its header lines rejected it
        int EncodedRun = 0;        // uu/xx lines in a row with no file open
    };

    void MimeHeaderLine(TLineKind kind, std::string_view line, size_t valuePos);
    void ScanMimeName(std::string_view text);
    // A file that starts in a rejected article is not written; a file that
    // waits for it ends incomplete. True (with a status line) when refused.
    bool RefusedInThisArticle(const char* what);
    // What a begin line does first: ends the file before it, finds the
    // directory and takes the name; false when there is none.
    bool BeginLine(const TBeginLine& begin, std::string* directory, std::string* name);
    void StartUu(const TBeginLine& begin);
    void StartYenc(const TBeginLine& begin);
    void StartMime();
    // Cleans, converts and checks a name; false (with a status line) when
    // nothing usable is left.
    bool PrepareName(std::string_view raw, std::string* name);
    bool PrepareDirectory(std::string* directory);
    bool OpenChecked(const std::string& directory, std::string* name, bool mime);
    void Announce(const std::string& directory, const std::string& name, bool encrypt,
                  bool continuation);
    void Decode(std::string_view line);
    void CheckYencTrailer();
    // Returns the result given, or error when the last bytes could not be
    // written. last: a multipart yEnc file is over even when it is short.
    TFileResult Finish(TFileResult result, bool last = false);
    // The post of the current article made no file: one log line per post.
    void PostIncomplete(const char* why);
    // A file of the current article could not be opened; why says so.
    void FileNotOpened(const std::string& why);
    void UnsavedPostLine(TFileResult result, const char* why);
    // A part after the first of a uu/xx post came with no file open.
    void CheckHeadlessPart(std::string_view line);
    // A base64 part at the end of its article looks cut, and the subject
    // counts more parts.
    bool MimePartGoesOn() const;
    // A possible virus, and an incomplete file under [misc]
    // deleteincomplete, are deleted; returns whether the file was.
    bool DeleteIfDue(TFileResult result);
    // The log lines of a finished file, its entry in the received list.
    void LogFinished(TFileResult result, const char* method);
    void FinishPrevious();
    // A multipart yEnc file whose next part will not come ends incomplete.
    void EndWaitingYenc(const char* why);
    void ShowLine(const char* what, std::string_view line);
    void StatusF(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A text of the string table as a status line.
    void StatusString(int id);
    void UpdateIndicator();

    TDriverReport& Report;
    TArticleChecks& Checks;
    TDecoder Dec;
    TDriverOptions Options;

    const TNewsGroup* Group = nullptr;
    const THeader* Header = nullptr;
    std::string MessageId = NO_MESSAGE_ID;
    TCurrentFile File;
    std::deque<TCurrentFile> ReceivedFiles;

    TDecodeState State = DS_IDLE;
    TMimeState Mime = MIME_NONE;
    TLineKind PreviousKind = LINE_OTHER;
    std::string MimeName;
    std::string MimeType;
    int DecodeAttempts = 0;
    bool Flagged = false;  // no-data already reported, or rejected
    bool IndicatorShown = false;

    TMultipartYenc Multipart;
    TArticleEffects ThisArticle;
    // The name the open file was posted with, before any free name.
    std::string PostedName;
    // The article a waiting uu/xx file continues in.
    const THeader* Continuation = nullptr;
    // Multipart posts whose file was finished or that got an incomplete
    // line, newest last: a later copy of one of their parts is no broken
    // post. Bounded; the walk takes a post's parts together.
    std::deque<const THeader*> FinishedPosts;
    bool PostFinished(const THeader* header) const;
    void NotePostFinished(const THeader* header);
    // Lengths of a base64 part's first and last lines, and whether the last
    // one was padded.
    size_t Base64First = 0, Base64Last = 0;
    bool Base64Padded = false;
};

}  // namespace zorvex
