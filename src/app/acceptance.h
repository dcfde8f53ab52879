// acceptance: what decides whether an article is taken. Every loaded header
// passes one fixed chain of tests before its article is asked for (keywords,
// lockouts, cross-posts, posting host, duplicates, masks, plug-ins); while
// the article arrives its header lines, the names of the files in its body
// and the amount of body without data are tested too. Each rejection has a
// bracketed tag and one line naming the article. The line-count tests and
// the user's marks stay with the client, which runs them after this chain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "decode/driver.h"
#include "nntp/records.h"

namespace zorvex {

class TCrossPostTally;
class TDupeTables;
class TFileMasks;
class TLockoutLists;
class TPlugIns;
class TUrlGrabber;
struct TSettings;

// Fields of a reject line are cut to this many characters, the line itself
// to REJECT_LINE_MAX.
constexpr size_t REJECT_FIELD_MAX = 79;
constexpr size_t REJECT_LINE_MAX = 250;
// A locked-out group named by an Xref text is kept up to this length.
constexpr size_t XREF_GROUP_MAX = 1019;
// The prefixes of the header lines the article checks read.
constexpr std::string_view XREF_LINE_PREFIX = "Xref:";
constexpr std::string_view POSTING_HOST_PREFIX = "NNTP-Posting-Host: ";
constexpr std::string_view ORGANIZATION_PREFIX = "Organization: ";
// More blanks than this between a name's first and last dot make it
// suspicious.
constexpr int SUSPICIOUS_BLANKS_MAX = 32;

// What the checks read of the settings; the owner fills it again whenever
// the settings may have changed.
struct TAcceptanceOptions {
    int MaxXref = 0;  // 0 or less: any number of groups
    bool RejectSuspicious = false;
    bool FileMaskRequiresSubject = false;
    bool DupeSubjects = false;
    bool DupeFiles = false;
    bool DupeFileInSubject = false;
    int CaseConvert = 0;
    // Whether these tags go to the log, or to the status line only.
    bool LogTooSmall = false, LogTooBig = false, LogDupeFile = false, LogDupeSubject = false;
    // Whether a tag that hits the article being received cuts it short.
    bool CutNoData = false, CutDupeFile = false, CutNoMask = false, CutLockoutFile = false;
    bool CutLockoutHost = false, CutLockoutXref = false, CutLockoutAny = false;
    bool CutLockoutOrg = false;
};
TAcceptanceOptions AcceptanceOptionsFrom(const TSettings& settings);

// The lists the checks consult; an absent one never rejects.
struct TSelection {
    TLockoutLists* Lockouts = nullptr;
    TFileMasks* Masks = nullptr;  // absent: every name passes, every name is enciphered
    TDupeTables* Dupes = nullptr;
    TCrossPostTally* Tally = nullptr;  // counts the groups of fetched articles' Xref lines
    TPlugIns* PlugIns = nullptr;
    TUrlGrabber* Urls = nullptr;
};

// What the checks ask of the client that runs them.
class TAcceptanceHost {
  public:
    virtual ~TAcceptanceHost() = default;
    // The group whose lists apply besides All-Groups; null: none.
    virtual TNewsGroup* GroupChecked() = 0;
    // A reject line: to the log (and the log list) when toLog, else to the
    // status line only.
    virtual void RejectLine(const THeader* header, std::string_view line, bool toLog) = 0;
    // A tag whose cut setting is on hit header: the host cuts the article
    // short when header is the one being received and enough of it is left.
    virtual void CutArticleShort(const THeader* header) = 0;
};

class TAcceptanceChecks final : public TArticleChecks {
  public:
    explicit TAcceptanceChecks(TAcceptanceHost& host);

    void SetSelection(const TSelection& selection);
    const TSelection& Selection() const { return Lists; }
    void SetOptions(const TAcceptanceOptions& options) { Options = options; }

    // The header phase up to the plug-ins; true when header is rejected
    // (it is then marked handled and requested). A handled header is not
    // tested again.
    bool HeaderRejected(THeader* header);
    // The rejects the client asks for, each with its tag; all but a
    // duplicate subject under [dupe] enabled 0 mark the header.
    void RejectDupeSubject(THeader* header);
    void RejectTooSmall(THeader* header);
    void RejectTooLong(THeader* header);
    void RejectMarked(THeader* header);

    // The client asks for an article, and reaches its end.
    void ArticleRequested(THeader& header);
    void ArticleCompleted(const THeader& header);
    // The posting host named by the header lines of the article being
    // received; empty when none came.
    const std::string& ArticlePostingHost() const { return PostingHost; }

    // One reject line: "TAG n: from=..., subj=..." with extra before from
    // when given.
    static std::string RejectText(std::string_view tag, TArticleNo number, std::string_view from,
                                  std::string_view subject, std::string_view extra);
    static bool SuspiciousName(std::string_view name);
    // The groups an Xref text names (a word followed by ':'); the first one
    // that matches is a locked-out group. Returns how many.
    int ScanXref(std::string_view text, bool countInTally, std::string* lockedGroup);

    // ---- while the article arrives (the driver's questions) ----
    void ArticleReady(const THeader* header, std::string_view messageId) override;
    bool ArticleHeaderLine(const THeader* header, std::string_view line) override;
    void TextLine(std::string_view line) override;
    void CodeLine(std::string_view line) override;
    void GrabUrls(std::string_view line) override;
    bool FileAccepted(const THeader* header, const std::string& name) override;
    void RejectNoData(const THeader* header) override;
    bool EncryptionMaskMatches(const std::string& name) override;
    void FileOpened(const std::string& name) override;
    void FileReceived(const THeader* header, const std::string& name) override;

  private:
    void Report(const THeader* header, std::string_view tag, bool toLog,
                std::string_view extra = {});
    // Reports and marks header; true, for the chain to return.
    bool Reject(THeader* header, std::string_view tag, bool toLog, std::string_view extra = {});
    // A report on the article being received, then the cut when its setting is on.
    void ReportArticle(const THeader* header, std::string_view tag, std::string_view extra,
                       bool cut, bool toLog = true);
    bool Matches(int kind, std::string_view text);
    bool HasEntries(int kind);

    TAcceptanceHost& Host;
    TSelection Lists;
    TAcceptanceOptions Options;
    // The article asked for (the client's record), and the one the driver
    // is receiving.
    THeader* Requested = nullptr;
    const THeader* Article = nullptr;
    std::string PostingHost;
};

}  // namespace zorvex
