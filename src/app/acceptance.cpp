#include "app/acceptance.h"

#include <algorithm>

#include "app/settings.h"
#include "app/statuslog.h"
#include "decode/placement.h"
#include "dupe/dupetable.h"
#include "extras/urlgrabber.h"
#include "library/ascii.h"
#include "library/format.h"
#include "library/strings.h"
#include "nntp/crosspost.h"
#include "plugin/plugins.h"
#include "select/filemask.h"
#include "select/lockout.h"

namespace zorvex {

namespace {

constexpr const char* NULL_TEXT = "null";

std::string_view TextOf(const char* text) {
    return text ? std::string_view(text) : std::string_view(NULL_TEXT);
}

void MarkHandled(THeader* header) {
    header->Flags |= HEADER_HANDLED | HEADER_REQUESTED;
}

constexpr std::string_view kSuspiciousExtensions[] = {".exe", ".vbs", ".shs",
                                                      ".scr", ".chm", ".bat"};

}  // namespace

TAcceptanceOptions AcceptanceOptionsFrom(const TSettings& s) {
    TAcceptanceOptions o;
    o.MaxXref = s.MaxXref;
    o.RejectSuspicious = s.RejectSuspicious != 0;
    o.FileMaskRequiresSubject = s.FileMaskRequireSubject != 0;
    o.DupeSubjects = s.DupeEnabled != 0;
    o.DupeFiles = s.DupeFileEnabled != 0;
    o.DupeFileInSubject = s.DupeFileInSubject != 0;
    o.CaseConvert = s.CaseConvert;
    o.LogTooSmall = s.LogTooSmall != 0;
    o.LogTooBig = s.LogTooBig != 0;
    o.LogDupeFile = s.LogDupeFile != 0;
    o.LogDupeSubject = s.LogDupeSubject != 0;
    o.CutNoData = s.DisconnectNoData != 0;
    o.CutDupeFile = s.DisconnectDupeFile != 0;
    o.CutNoMask = s.DisconnectNoMask != 0;
    o.CutLockoutFile = s.DisconnectLockoutFile != 0;
    o.CutLockoutHost = s.DisconnectLockoutHost != 0;
    o.CutLockoutXref = s.DisconnectLockoutXref != 0;
    o.CutLockoutAny = s.DisconnectLockoutAny != 0;
    o.CutLockoutOrg = s.DisconnectLockoutOrg != 0;
    return o;
}

TAcceptanceChecks::TAcceptanceChecks(TAcceptanceHost& host) : Host(host) {
    SetSelection(TSelection{});
}

void TAcceptanceChecks::SetSelection(const TSelection& selection) {
    Lists = selection;
    if (!Lists.PlugIns) Lists.PlugIns = &TNoPlugInsLoaded::Instance();
    if (!Lists.Urls) Lists.Urls = &TUrlsNotCollected::Instance();
}

bool TAcceptanceChecks::Matches(int kind, std::string_view text) {
    return Lists.Lockouts && Lists.Lockouts->Matches(Host.GroupChecked(), kind, text);
}

bool TAcceptanceChecks::HasEntries(int kind) {
    return Lists.Lockouts && Lists.Lockouts->HasEntries(Host.GroupChecked(), kind);
}

// ---- reporting ----

std::string TAcceptanceChecks::RejectText(std::string_view tag, TArticleNo number,
                                          std::string_view from, std::string_view subject,
                                          std::string_view extra) {
    std::string f(CutText(from, REJECT_FIELD_MAX));
    std::string s(CutText(subject, REJECT_FIELD_MAX));
    std::string e(CutText(extra, REJECT_FIELD_MAX));
    std::string t(tag);
    long long n = static_cast<long long>(number);
    std::string line = e.empty()
                           ? Format("%s %lld: from=%s, subj=%s", t.c_str(), n, f.c_str(), s.c_str())
                           : Format("%s %lld: %s, from=%s, subj=%s", t.c_str(), n, e.c_str(),
                                    f.c_str(), s.c_str());
    return std::string(CutText(line, REJECT_LINE_MAX));
}

void TAcceptanceChecks::Report(const THeader* header, std::string_view tag, bool toLog,
                               std::string_view extra) {
    TArticleNo number = header ? header->Number : 0;
    std::string_view from = header ? TextOf(header->Poster) : NULL_TEXT;
    std::string_view subject = header ? TextOf(header->Subject) : NULL_TEXT;
    Host.RejectLine(header, RejectText(tag, number, from, subject, extra), toLog);
}

bool TAcceptanceChecks::Reject(THeader* header, std::string_view tag, bool toLog,
                               std::string_view extra) {
    Report(header, tag, toLog, extra);
    MarkHandled(header);
    return true;
}

void TAcceptanceChecks::ReportArticle(const THeader* header, std::string_view tag,
                                      std::string_view extra, bool cut, bool toLog) {
    Report(header, tag, toLog, extra);
    if (cut) Host.CutArticleShort(header);
}

void TAcceptanceChecks::RejectDupeSubject(THeader* header) {
    // Without [dupe] enabled the lookup only keeps the entry young.
    if (!Options.DupeSubjects) return;
    Reject(header, "[DUPE SUBJ]", Options.LogDupeSubject);
}

void TAcceptanceChecks::RejectTooSmall(THeader* header) {
    Reject(header, "[TOOSMALL]", Options.LogTooSmall);
}

void TAcceptanceChecks::RejectTooLong(THeader* header) {
    Reject(header, "[TOOLONG]", Options.LogTooBig);
}

void TAcceptanceChecks::RejectMarked(THeader* header) {
    Reject(header, "[REJECTED]", true);
}

// ---- the header phase ----

int TAcceptanceChecks::ScanXref(std::string_view text, bool countInTally,
                                std::string* lockedGroup) {
    int groups = 0;
    bool found = false;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSpaceAscii(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !IsSpaceAscii(text[i])) ++i;
        std::string_view word = text.substr(start, i - start);
        size_t colon = word.find(':');
        // The server's name leads an Xref value and has no colon.
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string_view name = word.substr(0, colon);
        ++groups;
        if (countInTally && Lists.Tally) Lists.Tally->Count(name);
        if (!found && Matches(LOCKOUT_XREF, name)) {
            found = true;
            if (lockedGroup) lockedGroup->assign(name.substr(0, XREF_GROUP_MAX));
        }
    }
    return groups;
}

bool TAcceptanceChecks::HeaderRejected(THeader* header) {
    if (header->Flags & HEADER_HANDLED) return true;
    std::string_view from = TextOf(header->Poster);
    std::string_view subject = TextOf(header->Subject);

    if (HasEntries(LOCKOUT_KEYWORDS) && !Matches(LOCKOUT_KEYWORDS, from) &&
        !Matches(LOCKOUT_KEYWORDS, subject))
        return Reject(header, "[No KeyWords]", true);
    if (Matches(LOCKOUT_POSTER, from)) return Reject(header, "[LOCKOUT FROM]", true);
    if (Matches(LOCKOUT_SUBJECT, subject)) return Reject(header, "[LOCKOUT SUBJECT]", true);
    if (Matches(LOCKOUT_ANY, from) || Matches(LOCKOUT_ANY, subject))
        return Reject(header, "[LOCKOUT ANY]", true);
    std::string_view xref = TextOf(header->CrossPosts);
    if (Matches(LOCKOUT_ANY, xref)) return Reject(header, "[LOCKOUT ANY]", true, xref);
    if (xref != NULL_TEXT) {
        std::string locked;
        int groups = ScanXref(xref, false, &locked);
        if (!locked.empty()) return Reject(header, "[LOCKOUT XREF]", true, locked);
        if (Options.MaxXref > 0 && groups > Options.MaxXref)
            return Reject(header, "[TOO MANY XREF]", true);
    }
    std::string_view host = TextOf(header->PostingHost);
    if (Matches(LOCKOUT_HOST, host)) return Reject(header, "[LOCKOUT HOST]", true, host);
    if (Lists.Dupes) {
        // Runs whatever [dupe] enabled says: a hit keeps its entry young.
        if (Lists.Dupes->LookupSubject(*header, true)) RejectDupeSubject(header);
        if (header->Flags & HEADER_HANDLED) return true;
        if (Options.DupeFileInSubject && Options.DupeFiles) {
            std::string name = ConvertCase(FileNameFromSubject(subject), Options.CaseConvert);
            if (!name.empty() && Lists.Dupes->LookupFile(name, *header, false))
                return Reject(header, "[DUPE FILE]", Options.LogDupeFile, name);
        }
    }
    if (Options.FileMaskRequiresSubject && Lists.Masks && !Lists.Masks->SubjectAcceptable(subject))
        return Reject(header, "[NO MASK in SUBJ]", true);
    if (Lists.PlugIns->HeaderVetoed(*header)) return Reject(header, "[PLUGIN REJECT]", true);
    return false;
}

void TAcceptanceChecks::ArticleRequested(THeader& header) {
    Requested = &header;
    if (Lists.Dupes) Lists.Dupes->AnnounceSubject(header);
}

void TAcceptanceChecks::ArticleCompleted(const THeader& header) {
    if (Lists.Dupes) Lists.Dupes->AddSubject(header);
}

// ---- while the article arrives ----

void TAcceptanceChecks::ArticleReady(const THeader* header, std::string_view messageId) {
    Article = header;
    PostingHost.clear();
    Lists.PlugIns->MessageReady(messageId);
}

bool TAcceptanceChecks::ArticleHeaderLine(const THeader* header, std::string_view line) {
    Lists.PlugIns->HeaderLine(line);
    bool rejected = false;
    bool anyHit = Matches(LOCKOUT_ANY, line);
    if (anyHit) {
        ReportArticle(header, "[LOCKOUT ANY]", line, Options.CutLockoutAny);
        rejected = true;
    }
    if (line.starts_with(XREF_LINE_PREFIX)) {
        std::string locked;
        int groups = ScanXref(line.substr(XREF_LINE_PREFIX.size()), true, &locked);
        if (!locked.empty()) {
            if (!anyHit) {
                ReportArticle(header, "[LOCKOUT XREF]", locked, Options.CutLockoutXref);
                rejected = true;
            }
        } else if (Options.MaxXref > 0 && groups > Options.MaxXref) {
            ReportArticle(header, "[TOO MANY XREF]", {}, Options.CutLockoutXref);
            rejected = true;
        }
    } else if (StartsWithIgnoringCase(line, POSTING_HOST_PREFIX)) {
        std::string_view host = line.substr(POSTING_HOST_PREFIX.size());
        PostingHost.assign(host);
        if (!anyHit && Matches(LOCKOUT_HOST, host)) {
            ReportArticle(header, "[LOCKOUT HOST]", host, Options.CutLockoutHost);
            rejected = true;
        }
    } else if (StartsWithIgnoringCase(line, ORGANIZATION_PREFIX)) {
        std::string_view org = line.substr(ORGANIZATION_PREFIX.size());
        if (!anyHit && Matches(LOCKOUT_ORGANIZATION, org)) {
            ReportArticle(header, "[LOCKOUT ORG]", org, Options.CutLockoutOrg);
            rejected = true;
        }
    }
    return rejected;
}

void TAcceptanceChecks::TextLine(std::string_view line) {
    Lists.PlugIns->TextLine(line);
}

void TAcceptanceChecks::CodeLine(std::string_view line) {
    Lists.PlugIns->CodeLine(line);
}

void TAcceptanceChecks::GrabUrls(std::string_view line) {
    Lists.Urls->Line(line);
}

bool TAcceptanceChecks::SuspiciousName(std::string_view name) {
    size_t first = name.find('.');
    size_t last = name.rfind('.');
    if (first == std::string_view::npos || first == last) return false;
    std::string_view extension = name.substr(last);
    for (std::string_view bad : kSuspiciousExtensions)
        if (EqualsIgnoringCase(extension, bad)) return true;
    int blanks = 0;
    for (size_t i = first; i < last; ++i)
        if (IsSpaceAscii(name[i])) ++blanks;
    return blanks > SUSPICIOUS_BLANKS_MAX;
}

bool TAcceptanceChecks::FileAccepted(const THeader* header, const std::string& name) {
    if (Lists.Masks && !Lists.Masks->NameAcceptable(name)) {
        ReportArticle(header, "[NO MASK]", name, Options.CutNoMask);
        return false;
    }
    if (Options.RejectSuspicious && SuspiciousName(name)) {
        ReportArticle(header, "[SUSPICIOUS FILENAME]", name, true);
        return false;
    }
    if (Options.DupeFiles && Lists.Dupes && header &&
        Lists.Dupes->LookupFile(name, *header, true)) {
        // The one file-phase tag that marks the header, so that a cut never
        // offers the article again.
        if (header == Requested) MarkHandled(Requested);
        ReportArticle(header, "[DUPE FILE]", name, Options.CutDupeFile, Options.LogDupeFile);
        return false;
    }
    if (Matches(LOCKOUT_FILE, name)) {
        ReportArticle(header, "[LOCKOUT FILE]", name, Options.CutLockoutFile);
        return false;
    }
    return true;
}

void TAcceptanceChecks::RejectNoData(const THeader* header) {
    ReportArticle(header, "[NO DATA]", {}, Options.CutNoData);
}

bool TAcceptanceChecks::EncryptionMaskMatches(const std::string& name) {
    return !Lists.Masks || Lists.Masks->EncryptionMasksMatch(name);
}

void TAcceptanceChecks::FileOpened(const std::string& name) {
    if (Lists.Dupes && Article) Lists.Dupes->AnnounceFile(name, *Article);
}

void TAcceptanceChecks::FileReceived(const THeader* header, const std::string& name) {
    if (Lists.Dupes && header) Lists.Dupes->AddFile(name, *header);
}

}  // namespace zorvex
