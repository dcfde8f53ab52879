#include "decode/driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "decode/placement.h"
#include "library/ascii.h"
#include "library/fileio.h"
#include "library/format.h"
#include "library/strings.h"

namespace zorvex {

namespace {

bool IsMimeKind(TLineKind kind) {
    return kind == LINE_CONTENT_TYPE || kind == LINE_TRANSFER_ENCODING || kind == LINE_DISPOSITION;
}

// The first word of a value: up to a blank or ';'.
std::string_view FirstWord(std::string_view text) {
    size_t end = text.find_first_of(" \t;");
    return text.substr(0, end);
}

std::string SubjectOf(const THeader* header) {
    return header && header->Subject ? header->Subject : "";
}

}  // namespace

TBeginLine ReadBeginLine(TLineKind kind, std::string_view line) {
    TBeginLine begin;
    if (kind == LINE_YBEGIN) {
        begin.Mode = MODE_YENC;
        begin.HasName = YencName(line, &begin.Name);
        begin.Part = YencPart(line);
        begin.Size = YencSize(line);
    } else {
        begin.Mode = MODE_UU;
        begin.HasName = BeginLineName(line, &begin.Name);
    }
    return begin;
}

const char* ResultTag(TFileResult result) {
    switch (result) {
        case RESULT_RECEIVED:
            return "[RECEIVED]";
        case RESULT_ERROR:
            return "[ERROR]";
        case RESULT_INCOMPLETE:
            return "[INCOMPLETE]";
        case RESULT_USER_ABORT:
            return "[USER ABORT]";
        case RESULT_POSSIBLE_VIRUS:
            return "[POSSIBLE VIRUS -- DELETED]";
        default:
            return "[ERROR]";
    }
}

TArticleDriver::TArticleDriver(TDriverReport& report, TArticleChecks& checks,
                               TDecodeObservers& observers)
    : Report(report), Checks(checks), Dec(observers) {}

TArticleDriver::~TArticleDriver() = default;

void TArticleDriver::ArticleStart(const TNewsGroup* group, const THeader* header,
                                  std::string_view messageId) {
    Group = group;
    Header = header;
    messageId = FirstWord(messageId.substr(0, std::min(messageId.size(), MESSAGE_ID_MAX)));
    MessageId = messageId.empty() ? NO_MESSAGE_ID : std::string(messageId);
    Checks.ArticleReady(header, MessageId);
    Report.ArticleStarted(header ? static_cast<long long>(header->Number) : 0,
                          header ? header->Lines : 0);
    Mime = MIME_NONE;
    PreviousKind = LINE_OTHER;
    ThisArticle = TArticleEffects{};
    Dec.SetViewerEnabled(Options.ViewerEnable);
}

void TArticleDriver::HeaderLine(std::string_view line) {
    if (Checks.ArticleHeaderLine(Header, line) && !ThisArticle.Rejected) {
        ThisArticle.Rejected = true;
        // Its lines cannot continue a file that waits for them.
        if (State == DS_AWAITING_CONTINUATION) {
            StatusF("Decode aborted: %s ends incomplete (its next article was rejected)",
                    File.FileName.c_str());
            Finish(RESULT_INCOMPLETE);
            UpdateIndicator();
        }
    }
    if (Options.EnableHttpGrabber) Checks.GrabUrls(line);
    size_t valuePos = 0;
    TLineKind kind = ClassifyLine(line, &valuePos);
    if (kind == LINE_CONTINUATION && !IsMimeKind(PreviousKind)) kind = LINE_OTHER;
    // MIME lines of the article's own header describe a single-part body.
    if (IsMimeKind(kind) || kind == LINE_CONTINUATION) MimeHeaderLine(kind, line, valuePos);
    if (kind == LINE_BEGIN || kind == LINE_YBEGIN) kind = LINE_OTHER;
    if (kind != LINE_CONTINUATION) PreviousKind = kind;
}

void TArticleDriver::HeaderEnd() {
    if (Mime == MIME_IN_HEADERS) Mime = MIME_BODY_NEXT;
    DecodeAttempts = 0;
    Flagged = false;
}

void TArticleDriver::MimeHeaderLine(TLineKind kind, std::string_view line, size_t valuePos) {
    if (kind != LINE_CONTINUATION && Mime != MIME_IN_HEADERS) {
        Mime = MIME_IN_HEADERS;
        MimeName.clear();
        MimeType.clear();
        Dec.SetTransferEncoding("");
    }
    std::string_view value = line.substr(std::min(valuePos, line.size()));
    switch (kind) {
        case LINE_CONTENT_TYPE:
            MimeType = FirstWord(value);
            ScanMimeName(value);
            break;
        case LINE_DISPOSITION:
            // The type stays the one of the Content-Type line.
            ScanMimeName(value);
            break;
        case LINE_TRANSFER_ENCODING:
            Dec.SetTransferEncoding(FirstWord(value));
            break;
        default:
            ScanMimeName(line);
            break;
    }
}

void TArticleDriver::ScanMimeName(std::string_view text) {
    for (size_t i = 0; i + 5 <= text.size(); ++i) {
        if (!EqualsIgnoringCase(text.substr(i, 5), "name=")) continue;
        std::string_view value = text.substr(i + 5);
        if (!value.empty() && value[0] == '"') {
            // A quoted name may hold blanks.
            size_t close = value.find('"', 1);
            value = value.substr(1, close == std::string_view::npos ? value.npos : close - 1);
        } else {
            value = FirstWord(value);
        }
        if (!value.empty()) MimeName.assign(value.substr(0, std::min(value.size(), MIME_NAME_MAX)));
        i += 4;
    }
}

void TArticleDriver::BodyLine(std::string_view line, int received) {
    if (Options.EnableHttpGrabber) Checks.GrabUrls(line);
    size_t valuePos = 0;
    TLineKind kind = ClassifyLine(line, &valuePos);
    if (kind == LINE_CONTINUATION && !IsMimeKind(PreviousKind)) kind = LINE_OTHER;

    switch (kind) {
        case LINE_CONTENT_TYPE:
        case LINE_TRANSFER_ENCODING:
        case LINE_DISPOSITION:
        case LINE_CONTINUATION:
            MimeHeaderLine(kind, line, valuePos);
            break;
        case LINE_BEGIN:
        case LINE_YBEGIN: {
            TBeginLine begin = ReadBeginLine(kind, line);
            if (begin.Mode == MODE_YENC)
                StartYenc(begin);
            else
                StartUu(begin);
            break;
        }
        default:
            if (line.empty()) {
                if (Mime == MIME_IN_HEADERS) Mime = MIME_BODY_NEXT;
                break;
            }
            if (Mime == MIME_BODY_NEXT) StartMime();
            if (State == DS_AWAITING_CONTINUATION && Dec.IsFullLine(line)) State = DS_DECODING;
            if (State == DS_DECODING)
                Decode(line);
            else
                Checks.TextLine(line);
            break;
    }
    if (kind != LINE_CONTINUATION) PreviousKind = kind;
    UpdateIndicator();

    int threshold = std::max(Options.NoDataThresh, NODATA_THRESH_MIN);
    if (!Flagged && State == DS_IDLE && DecodeAttempts == 0 && received > threshold) {
        Flagged = true;
        Checks.RejectNoData(Header);
    }
}

bool TArticleDriver::PrepareDirectory(std::string* directory) {
    if (Options.DownloadPath.empty()) {
        Report.StatusLine("No download path is set: file skipped");
        return false;
    }
    const char* name = Group && Group->Name ? Group->Name : "";
    *directory =
        GroupDirectory(AddTrailingSlash(Options.DownloadPath), name, Group ? Group->Ordinal : 0,
                       Options.PathExpand, Options.PathPrefixes);
    return true;
}

bool TArticleDriver::PrepareName(std::string_view raw, std::string* name) {
    std::string clean = CleanFileName(raw);
    if (!UsableFileName(clean)) {
        StatusF("Unusable file name \"%s\": file skipped", clean.c_str());
        return false;
    }
    *name = ConvertCase(clean, Options.CaseConvert);
    return true;
}

// Unique name, file checks, directory, open: what every new file passes.
bool TArticleDriver::OpenChecked(const std::string& directory, std::string* name, bool mime) {
    // The checks see the name as posted, not the free one found for it.
    if (!Checks.FileAccepted(Header, *name)) return false;
    if (Options.RenameDupes && MakeUnique(directory, name, true) == UNIQUE_GAVE_UP) {
        StatusF("No free name for %s%s: file skipped", directory.c_str(), name->c_str());
        return false;
    }
    if (!EnsureDirectory(directory, true)) {
        StatusF("Unable to access download path %s!", directory.c_str());
        return false;
    }
    bool opened =
        mime ? Dec.BeginBase64File(directory, *name) : Dec.BeginUuFile(directory, *name, false);
    if (!opened) {
        StatusString(STR_DECODE_INIT_FAILED);
        Report.StatusLine(mime ? "(Check download path & disk space)"
                               : "(check download path & disk space)");
        return false;
    }
    return true;
}

void TArticleDriver::Announce(const std::string& directory, const std::string& name, bool encrypt,
                              bool continuation) {
    bool encrypting = false;
    if (encrypt && Options.EncryptionEnable && !Options.EncryptionKey.empty() &&
        Checks.EncryptionMaskMatches(name)) {
        encrypting = Dec.StartEncryption(Options.EncryptionKey);
        if (!encrypting) StatusF("Could not start encrypting %s", name.c_str());
    }
    Checks.FileOpened(name);
    File.Header = Header;
    File.MessageId = MessageId;
    File.GroupName = Group && Group->Name ? Group->Name : "";
    File.Directory = directory;
    File.FileName = name;
    File.Article = Header ? Header->Number : 0;
    File.Errors = continuation ? Multipart.Errors : 0;
    StatusF("Decoding%s file %s%s", encrypting ? " and encrypting" : "", directory.c_str(),
            name.c_str());
    State = DS_DECODING;
    if (!continuation) ThisArticle.Begun = true;
}

bool TArticleDriver::RefusedInThisArticle(const char* what) {
    if (!ThisArticle.Rejected) return false;
    StatusF("%s of rejected article #%lld is not written", what,
            static_cast<long long>(Header ? Header->Number : 0));
    return true;
}

bool TArticleDriver::BeginLine(const TBeginLine& begin, std::string* directory, std::string* name) {
    ++DecodeAttempts;
    FinishPrevious();
    if (RefusedInThisArticle(begin.Mode == MODE_YENC && begin.Part > 1 ? "A yEnc part" : "A file"))
        return false;
    if (!PrepareDirectory(directory)) return false;
    if (!begin.HasName) {
        StatusString(STR_UNABLE_TO_PARSE_FILENAME);
        return false;
    }
    return PrepareName(begin.Name, name);
}

void TArticleDriver::StartUu(const TBeginLine& begin) {
    std::string directory, name;
    if (!BeginLine(begin, &directory, &name)) return;
    EndWaitingYenc("another file begins");
    if (!OpenChecked(directory, &name, false)) return;
    Dec.SetDecodeMode(MODE_UU);
    Announce(directory, name, true, false);
}

void TArticleDriver::StartYenc(const TBeginLine& begin) {
    std::string directory, name;
    if (!BeginLine(begin, &directory, &name)) {
        // A later part that is not written leaves its file short for good.
        if (ThisArticle.Rejected && begin.Part > 1) {
            EndWaitingYenc("a part was rejected");
            ThisArticle.RefusedPart = true;
        }
        return;
    }
    const int64_t part = begin.Part;

    if (part <= 1) {
        EndWaitingYenc("another file begins");
        std::string clean = name;
        if (!OpenChecked(directory, &name, false)) return;
        Multipart.LastPart = part;
        Multipart.TotalSize = begin.Size;
        Multipart.FirstCleanName = clean;
        Multipart.FirstFinalName = name;
        Multipart.Ended = Multipart.Deleted = false;
        Multipart.FileBytes = 0;
        Multipart.Errors = 0;
        Multipart.Virus = JpegVirusState{};
        Dec.SetDecodeMode(MODE_YENC);
        // Only a single-part post can carry the cipher header at its start.
        Announce(directory, name, part == -1, false);
        return;
    }
    if (Multipart.Ended && name == Multipart.FirstCleanName) {
        StatusF("multipart yenc: part %" PRId64 " of a%s file ignored (%s)", part,
                Multipart.Deleted ? " deleted" : "n ended", name.c_str());
        ThisArticle.RefusedPart = true;
        return;
    }
    if (part != Multipart.LastPart + 1) {
        Report.StatusLine("multipart yenc: part out of sequence");
        EndWaitingYenc("a part is missing");
        ThisArticle.RefusedPart = true;
        return;
    }
    if (name == Multipart.FirstCleanName) name = Multipart.FirstFinalName;
    if (name != Multipart.FirstFinalName) {
        Report.StatusLine("multipart yenc: part is not current yenc file");
        EndWaitingYenc("another file begins");
        ThisArticle.RefusedPart = true;
        return;
    }
    // Appending to a file that is no longer there would leave a fragment.
    struct stat st {};
    if (lstat((directory + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !Dec.BeginUuFile(directory, name, true)) {
        StatusF("multipart yenc: unable to continue (part %" PRId64 ")", part);
        ThisArticle.RefusedPart = true;
        return;
    }
    StatusF("multipart yenc: continue (part=%" PRId64 ") %s", part, name.c_str());
    Dec.ContinueFileCrc(Multipart.Crc);
    Dec.ContinueVirusScan(Multipart.Virus);
    Multipart.LastPart = part;
    ThisArticle.Appended = true;
    ThisArticle.SizeBeforePart = static_cast<int64_t>(st.st_size);
    Dec.SetDecodeMode(MODE_YENC);
    Announce(directory, name, false, true);
}

void TArticleDriver::StartMime() {
    if (Options.LogMime) {
        Report.MimeLine(Format("[MIME] %lld type=%s encode=%s fname=%s",
                               static_cast<long long>(Header ? Header->Number : 0),
                               MimeType.c_str(), TransferEncodingName(Dec.TransferEncoding()),
                               MimeName.c_str()));
    }
    Mime = MIME_NONE;
    if (Dec.TransferEncoding() != TE_BASE64) return;
    ++DecodeAttempts;
    FinishPrevious();
    if (RefusedInThisArticle("A MIME part")) return;
    EndWaitingYenc("another file begins");
    std::string directory, raw, name;
    if (!PrepareDirectory(&directory)) return;
    if (!MimeName.empty() && !TidyFileName(MimeName, &raw)) raw.clear();
    if (raw.empty()) raw = NameFromSubject(SubjectOf(Header));
    if (raw.empty()) raw = "u" + std::to_string(Header ? Header->Number : 0);
    if (raw.find('.') == std::string::npos) {
        if (EqualsIgnoringCase(MimeType, "image/jpeg"))
            raw += ".jpg";
        else if (EqualsIgnoringCase(MimeType, "image/gif"))
            raw += ".gif";
    }
    if (!PrepareName(raw, &name) || !OpenChecked(directory, &name, true)) return;
    Dec.SetDecodeMode(MODE_BASE64);
    Announce(directory, name, true, false);
}

void TArticleDriver::ShowLine(const char* what, std::string_view line) {
    std::string text(what);
    text += '(';
    text.append(line.substr(0, std::min(line.size(), BOGUS_LINE_SHOWN)));
    text += ')';
    Report.StatusLine(text);
}

void TArticleDriver::StatusF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    Report.StatusLine(text);
}

void TArticleDriver::StatusString(int id) {
    const char* text = LoadStringResource(id);
    Report.StatusLine(text ? text : "");
}

void TArticleDriver::Decode(std::string_view line) {
    Checks.CodeLine(line);
    switch (Dec.DecodeLine(line)) {
        case DECODE_BOGUS:
            ShowLine("Decode bogus line", line);
            ++File.Errors;
            break;
        case DECODE_SKIPPED:
            ShowLine("Decode skipped stray characters", line);
            ++File.Errors;
            break;
        case DECODE_BAD_FIRST_LINE:
        case DECODE_WRITE_FAILED:
            Finish(RESULT_ERROR);
            ShowLine("Decode aborted", line);
            break;
        case DECODE_END: {
            if (Dec.DecodeMode() == MODE_YENC) CheckYencTrailer();
            std::string name = File.FileName;
            if (Finish(RESULT_RECEIVED) != RESULT_RECEIVED) break;
            Checks.FileReceived(Header, name);
            Report.StatusLine("\"end\" received. Decode completed.");
            break;
        }
        case DECODE_VIRUS:
            Finish(RESULT_POSSIBLE_VIRUS);
            ShowLine("Possible Jpeg Virus", line);
            break;
        default:
            break;
    }
}

// What was decoded against what "=yend" announced: a difference is an
// error of the file, named in a status line.
void TArticleDriver::CheckYencTrailer() {
    const TYencTrailer& t = Dec.YencTrailer();
    int64_t part = Multipart.LastPart > 0 ? Multipart.LastPart : 1;
    const char* name = File.FileName.c_str();
    Multipart.FileBytes += Dec.PartBytes();
    if (t.Size >= 0 && t.Size != Dec.PartBytes()) {
        ++File.Errors;
        StatusF("yenc: part %" PRId64 " of %s has %" PRId64 " bytes, \"=yend\" says %" PRId64, part,
                name, Dec.PartBytes(), t.Size);
    }
    if (t.HasPartCrc && t.PartCrc != Dec.PartCrc()) {
        ++File.Errors;
        StatusF("yenc: part %" PRId64 " of %s has CRC32 %08x, \"=yend\" says %08x", part, name,
                Dec.PartCrc(), t.PartCrc);
    }
    // Posters repeat the whole file's CRC in every part; it can be checked
    // only once the file is whole.
    bool whole = Multipart.TotalSize < 0 || Multipart.FileBytes >= Multipart.TotalSize;
    if (t.HasCrc && whole && t.Crc != Dec.FileCrc()) {
        ++File.Errors;
        StatusF("yenc: file %s (part %" PRId64 ") has CRC32 %08x, \"=yend\" says %08x", name, part,
                Dec.FileCrc(), t.Crc);
    }
}

void TArticleDriver::FinishPrevious() {
    if (State == DS_IDLE) return;
    StatusString(STR_PREVIOUS_FILE_INCOMPLETE);
    Finish(RESULT_INCOMPLETE);
}

TFileResult TArticleDriver::Finish(TFileResult result) {
    File.Size = Dec.EndFile();
    ThisArticle.Finished = true;
    ThisArticle.Begun = ThisArticle.Appended = false;
    // Bytes lost at the last flush make a file that looks whole a failure.
    if (Dec.EndFailed() && (result == RESULT_RECEIVED || result == RESULT_INCOMPLETE)) {
        StatusF("Decode aborted(write failed: %s%s)", File.Directory.c_str(),
                File.FileName.c_str());
        result = RESULT_ERROR;
    }
    File.Result = result;
    const bool deleted = DeleteIfDue(result);
    State = DS_IDLE;
    Multipart.MoreParts = false;
    if (Dec.DecodeMode() == MODE_YENC) {
        // A deleted or failed file is over: a later part must not bring a
        // fragment of it back. Only a multipart post waits for its parts.
        bool over = deleted || result == RESULT_ERROR || result == RESULT_USER_ABORT;
        if (over) {
            Multipart.Ended = true;
            Multipart.Deleted = deleted;
        } else if (Multipart.LastPart >= 1 && Multipart.TotalSize >= 0 &&
                   File.Size < Multipart.TotalSize) {
            Multipart.MoreParts = true;
            Multipart.Errors = File.Errors;
            Multipart.Crc = Dec.FileCrc();
            Multipart.Virus = Dec.VirusScanState();
            Report.StatusLine("multipart yenc: more parts to come");
            UpdateIndicator();
            return result;
        } else {
            Report.StatusLine("multipart yenc: file is complete");
        }
    }
    LogFinished(result, Dec.MethodName());
    UpdateIndicator();
    return result;
}

bool TArticleDriver::DeleteIfDue(TFileResult result) {
    File.Deleted = result == RESULT_POSSIBLE_VIRUS ||
                   (result == RESULT_INCOMPLETE && Options.DeleteIncomplete);
    if (File.Deleted) {
        StatusF("Deleting %s", File.FileName.c_str());
        DeleteInDirectory(File.Directory, File.FileName);
    }
    return File.Deleted;
}

void TArticleDriver::LogFinished(TFileResult result, const char* method) {
    char errors[32] = "";
    if (File.Errors != 0) snprintf(errors, sizeof errors, " (%d errors)", File.Errors);
    std::string line = Format("%s%s %s%s %s %s %lld %s", ResultTag(result), errors,
                              File.Directory.c_str(), File.FileName.c_str(), File.GroupName.c_str(),
                              File.MessageId.c_str(), static_cast<long long>(File.Article), method);
    std::vector<std::string> details;
    if (File.Header) {
        if (Options.LogSubject) details.push_back("  Subject: " + SubjectOf(File.Header));
        if (Options.LogName && File.Header->Poster)
            details.push_back(std::string("  From: ") + File.Header->Poster);
    }
    Report.FileFinished(File, line, details);
    ReceivedFiles.push_back(File);
    File = TCurrentFile{};
    Multipart.Errors = 0;
}

void TArticleDriver::EndWaitingYenc(const char* why) {
    if (!Multipart.MoreParts) return;
    Multipart.MoreParts = false;
    Multipart.Ended = true;
    Multipart.Deleted = false;
    StatusF("multipart yenc: %s ends incomplete after part %" PRId64 " (%s)", File.FileName.c_str(),
            Multipart.LastPart, why);
    File.Result = RESULT_INCOMPLETE;
    Multipart.Deleted = DeleteIfDue(RESULT_INCOMPLETE);
    // The decoder may have moved on to another file: name the method here.
    LogFinished(RESULT_INCOMPLETE, "yEnc");
}

void TArticleDriver::EndWaitingFiles(const char* why) {
    if (State == DS_AWAITING_CONTINUATION) {
        StatusF("Decode aborted: %s ends incomplete (%s)", File.FileName.c_str(), why);
        Finish(RESULT_INCOMPLETE);
    }
    EndWaitingYenc(why);
    UpdateIndicator();
}

bool TArticleDriver::ArticleEnd() {
    Report.ArticleEnded();
    if (State == DS_DECODING && Dec.DecodeMode() == MODE_BASE64) {
        Report.StatusLine("EOM reached -- Mime finished?");
        Finish(RESULT_RECEIVED);
    }
    bool follow;
    if (State != DS_DECODING && State != DS_AWAITING_CONTINUATION) {
        follow = Multipart.MoreParts;
    } else if (Header && Header->PosterNext) {
        Report.StatusLine("EOM reached -- Attempting Continue");
        State = DS_AWAITING_CONTINUATION;
        follow = true;
    } else {
        Report.StatusLine("EOM reached -- Decode aborted");
        Finish(RESULT_INCOMPLETE);
        follow = false;
    }
    UpdateIndicator();
    return follow;
}

bool TArticleDriver::AbortCurrentFile() {
    if (State == DS_IDLE) return false;
    std::string directory = File.Directory, name = File.FileName;
    Finish(RESULT_USER_ABORT);
    StatusF("Deleting %s", name.c_str());
    DeleteInDirectory(directory, name);
    return true;
}

bool TArticleDriver::ArticleCut() {
    Report.ArticleEnded();
    if (State == DS_IDLE) return !ThisArticle.Finished;
    // Still waiting for the first full line: nothing of this article went in.
    if (State == DS_AWAITING_CONTINUATION) return true;
    std::string path = File.Directory + File.FileName;
    if (ThisArticle.Begun) {
        Dec.EndFile();
        StatusF("Transfer cut: %s removed until the article comes again", File.FileName.c_str());
        DeleteInDirectory(File.Directory, File.FileName);
        if (Dec.DecodeMode() == MODE_YENC) {
            Multipart.LastPart = -1;
            Multipart.FirstCleanName.clear();
            Multipart.FirstFinalName.clear();
        }
        File = TCurrentFile{};
        State = DS_IDLE;
        Multipart.MoreParts = false;
    } else if (ThisArticle.Appended) {
        Dec.EndFile();
        Dec.DiscardPart();
        // The part goes back out; O_NOFOLLOW as for every write to the tree.
        int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        bool taken = fd >= 0 && ftruncate(fd, ThisArticle.SizeBeforePart) == 0;
        if (fd >= 0) close(fd);
        State = DS_IDLE;
        if (taken) {
            StatusF("Transfer cut: part %" PRId64 " taken back out of %s", Multipart.LastPart,
                    File.FileName.c_str());
            --Multipart.LastPart;
            Multipart.MoreParts = true;
        } else {
            StatusF("Transfer cut: part %" PRId64 " could not be taken out of %s",
                    Multipart.LastPart, File.FileName.c_str());
            Multipart.Ended = true;
            File.Errors += 1;
            Finish(RESULT_ERROR);
        }
    } else {
        // Carried over from an earlier article: its lines cannot be told
        // apart from a second copy of this one's.
        Report.StatusLine("EOM reached -- Decode aborted");
        Finish(RESULT_INCOMPLETE);
    }
    ThisArticle.Begun = ThisArticle.Appended = false;
    UpdateIndicator();
    return true;
}

void TArticleDriver::UpdateIndicator() {
    bool on = State == DS_DECODING;
    if (on == IndicatorShown) return;
    IndicatorShown = on;
    Report.ShowIndicator(on ? DECODING_INDICATOR : "");
}

}  // namespace zorvex
