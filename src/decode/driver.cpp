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
    // Another copy of the awaited part, as after a reconnect, goes on too.
    const bool awaited =
        header == Continuation ||
        (header && Continuation && TNewsStore::SamePost(header, Continuation) &&
         TNewsStore::PartOf(header).Part == TNewsStore::PartOf(Continuation).Part);
    if (State == DS_AWAITING_CONTINUATION && !awaited) {
        // Splicing another article's lines would make a whole-looking file.
        StatusF("Decode aborted: %s ends incomplete (article #%lld is not its next part)",
                File.FileName.c_str(), static_cast<long long>(header ? header->Number : 0));
        Finish(RESULT_INCOMPLETE);
        UpdateIndicator();
    }
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
            // The article is the post's next part: its first data line,
            // even a short last one, continues the file.
            if (State == DS_AWAITING_CONTINUATION && (Dec.IsFullLine(line) || Dec.IsDataLine(line)))
                State = DS_DECODING;
            if (State == DS_DECODING) {
                Decode(line);
            } else {
                CheckHeadlessPart(line);
                Checks.TextLine(line);
            }
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
        FileNotOpened("no download path is set");
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
        FileNotOpened("unusable file name \"" + clean + "\"");
        return false;
    }
    *name = ConvertCase(clean, Options.CaseConvert);
    return true;
}

// Unique name, file checks, directory, open: what every new file passes.
bool TArticleDriver::OpenChecked(const std::string& directory, std::string* name, bool mime) {
    // The checks see the name as posted, not the free one found for it.
    if (!Checks.FileAccepted(Header, *name)) {
        ThisArticle.FileRefused = true;
        return false;
    }
    if (Options.RenameDupes && MakeUnique(directory, name, true) == UNIQUE_GAVE_UP) {
        StatusF("No free name for %s%s: file skipped", directory.c_str(), name->c_str());
        FileNotOpened("no free name for " + directory + *name);
        return false;
    }
    if (!EnsureDirectory(directory, true)) {
        StatusF("Unable to access download path %s!", directory.c_str());
        FileNotOpened("unable to access download path " + directory);
        return false;
    }
    bool opened =
        mime ? Dec.BeginBase64File(directory, *name) : Dec.BeginUuFile(directory, *name, false);
    if (!opened) {
        StatusString(STR_DECODE_INIT_FAILED);
        Report.StatusLine(mime ? "(Check download path & disk space)"
                               : "(check download path & disk space)");
        FileNotOpened(directory + *name + " could not be opened for writing");
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
    Checks.FileOpened(PostedName);
    ThisArticle.FileRefused = false;  // what the article's last file did counts
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
        FileNotOpened("no file name in its begin line");
        return false;
    }
    return PrepareName(begin.Name, name);
}

void TArticleDriver::StartUu(const TBeginLine& begin) {
    std::string directory, name;
    if (!BeginLine(begin, &directory, &name)) return;
    EndWaitingYenc("another file begins");
    PostedName = name;
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
        PostedName = name;
        if (!OpenChecked(directory, &name, false)) return;
        Multipart.LastPart = part;
        Multipart.TotalSize = begin.Size;
        Multipart.FirstCleanName = PostedName;
        Multipart.FirstFinalName = name;
        Multipart.FirstHeader = Header;
        Multipart.Ended = Multipart.Deleted = Multipart.Complete = false;
        Multipart.FileBytes = 0;
        Multipart.Errors = 0;
        Multipart.Virus = JpegVirusState{};
        Dec.SetDecodeMode(MODE_YENC);
        // Only a single-part post can carry the cipher header at its start.
        Announce(directory, name, part == -1, false);
        return;
    }
    // The part belongs to the file of the last first part: same name, and
    // the same post where the store knows the posts.
    const bool sameFile = name == Multipart.FirstCleanName &&
                          (!Multipart.FirstHeader || !Header || Multipart.FirstHeader == Header ||
                           !TNewsStore::PartOf(Header).Found ||
                           TNewsStore::SamePost(Multipart.FirstHeader, Header));
    if (sameFile && Multipart.Ended) {
        StatusF("multipart yenc: part %" PRId64 " of a%s file ignored (%s)", part,
                Multipart.Deleted ? " deleted" : "n ended", name.c_str());
        ThisArticle.RefusedPart = true;
        return;
    }
    if (sameFile && (Multipart.MoreParts || Multipart.Complete) && part <= Multipart.LastPart) {
        // A second copy of a part: the file has it already.
        StatusF("multipart yenc: part %" PRId64 " of %s again: ignored", part, name.c_str());
        return;
    }
    if (!Multipart.MoreParts && PostFinished(Header)) {
        StatusF("multipart yenc: part %" PRId64 " of a post already dealt with: ignored", part);
        return;
    }
    if (!sameFile || !Multipart.MoreParts) {
        // No file of this post waits for the part: its first part never came.
        Report.StatusLine(part != Multipart.LastPart + 1
                              ? "multipart yenc: part out of sequence"
                              : "multipart yenc: part is not current yenc file");
        EndWaitingYenc("another file begins");
        PostIncomplete(Format("yEnc part %" PRId64 " came without the parts before it", part)
                           .c_str());
        return;
    }
    if (part != Multipart.LastPart + 1) {
        Report.StatusLine("multipart yenc: part out of sequence");
        EndWaitingYenc("a part is missing");
        ThisArticle.RefusedPart = true;
        return;
    }
    name = Multipart.FirstFinalName;
    PostedName = Multipart.FirstCleanName;
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
    if (!PrepareName(raw, &name)) return;
    PostedName = name;
    if (!OpenChecked(directory, &name, true)) return;
    Base64First = Base64Last = 0;
    Base64Padded = false;
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
    if (Dec.DecodeMode() == MODE_BASE64) {
        if (Base64First == 0) Base64First = line.size();
        Base64Last = line.size();
        Base64Padded = line.back() == '=';
    }
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
            const std::string posted = PostedName;
            if (Finish(RESULT_RECEIVED) != RESULT_RECEIVED) break;
            // A yEnc part that leaves the file short is not a file yet.
            if (!Multipart.MoreParts) Checks.FileReceived(Header, posted);
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
    // A yEnc part cut off before its "=yend" leaves a gap no later part fills.
    Finish(RESULT_INCOMPLETE, true);
}

TFileResult TArticleDriver::Finish(TFileResult result, bool last) {
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
        bool over = last || deleted || result == RESULT_ERROR || result == RESULT_USER_ABORT;
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
            Multipart.Complete = true;
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
    // A post whose file ended has said so: its later parts, or copies of
    // them, get no line of their own.
    if (File.Header && TNewsStore::PartOf(File.Header).Total > 1) NotePostFinished(File.Header);
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

bool TArticleDriver::MimePartGoesOn() const {
    const TPartCounter counter = TNewsStore::PartOf(Header);
    return counter.Found && counter.Part < counter.Total && Base64First > 0 &&
           Base64Last == Base64First && !Base64Padded;
}

bool TArticleDriver::ArticleEnd() {
    Report.ArticleEnded();
    if (State == DS_DECODING && Dec.DecodeMode() == MODE_BASE64) {
        if (MimePartGoesOn()) {
            // Full lines to the end, no padding, and the subject counts more
            // parts: the rest is in an article this file cannot take.
            Report.StatusLine("EOM reached -- Mime part goes on in the next article");
            Finish(RESULT_INCOMPLETE);
            ThisArticle.RefusedPart = true;
        } else {
            Report.StatusLine("EOM reached -- Mime finished?");
            Finish(RESULT_RECEIVED);
        }
    }
    if (State == DS_DECODING && Dec.DecodeMode() == MODE_YENC) {
        // A part without its "=yend" was cut short: later parts would sit
        // at the wrong place.
        Report.StatusLine("EOM reached -- yEnc part has no \"=yend\"");
        Finish(RESULT_INCOMPLETE, true);
        ThisArticle.RefusedPart = true;
    }
    bool follow = false;
    const THeader* next = State == DS_DECODING ? TNewsStore::NextPartOfPost(Header) : nullptr;
    if (State == DS_AWAITING_CONTINUATION) {
        // The article that was to continue the file brought none of it.
        Report.StatusLine("EOM reached -- Decode aborted");
        Finish(RESULT_INCOMPLETE);
        ThisArticle.RefusedPart = true;
    } else if (State != DS_DECODING) {
        follow = Multipart.MoreParts;
    } else if (next && !(next->Flags & HEADER_HANDLED)) {
        Report.StatusLine("EOM reached -- Attempting Continue");
        State = DS_AWAITING_CONTINUATION;
        Continuation = next;
        follow = true;
    } else {
        // Only the post's next part may continue the file.
        Report.StatusLine("EOM reached -- Decode aborted");
        Finish(RESULT_INCOMPLETE);
        ThisArticle.RefusedPart = true;
    }
    UpdateIndicator();
    return follow;
}

void TArticleDriver::PostIncomplete(const char* why) {
    ThisArticle.RefusedPart = true;
    Flagged = true;  // not "[NO DATA]" as well
    UnsavedPostLine(RESULT_INCOMPLETE, why);
}

void TArticleDriver::FileNotOpened(const std::string& why) {
    ThisArticle.FileRefused = true;
    UnsavedPostLine(RESULT_ERROR, why.c_str());
}

void TArticleDriver::UnsavedPostLine(TFileResult result, const char* why) {
    if (PostFinished(Header)) return;
    // Single-article posts are told apart by their article.
    if (TNewsStore::PartOf(Header).Total > 1) NotePostFinished(Header);
    const std::string parts =
        result == RESULT_INCOMPLETE ? TNewsStore::DescribePost(Header) : std::string();
    std::string line = Format("%s %s \"%s\": no file, %s%s%s", ResultTag(result),
                              Group && Group->Name ? Group->Name : "", SubjectOf(Header).c_str(),
                              why, parts.empty() ? "" : "; ", parts.c_str());
    Report.UnsavedPost(Header, line);
}

namespace {
constexpr size_t FINISHED_POSTS_KEPT = 256;
}  // namespace

bool TArticleDriver::PostFinished(const THeader* header) const {
    if (!header) return false;
    return std::any_of(FinishedPosts.begin(), FinishedPosts.end(), [&](const THeader* h) {
        return h == header || TNewsStore::SamePost(h, header);
    });
}

void TArticleDriver::NotePostFinished(const THeader* header) {
    if (!header || PostFinished(header)) return;
    if (FinishedPosts.size() >= FINISHED_POSTS_KEPT) FinishedPosts.pop_front();
    FinishedPosts.push_back(header);
}

namespace {

// A full line of uuencode or xxencode: its length character says 45 bytes
// and every character is of that table.
bool FullEncodedLine(std::string_view line) {
    if (line.size() < 61 || line.size() > 62) return false;
    const bool uu = line[0] == 'M';
    if (!uu && line[0] != 'h') return false;
    for (char ch : line.substr(0, 61)) {
        const auto c = static_cast<unsigned char>(ch);
        const bool ok = uu ? c >= 0x20 && c <= 0x60
                           : (c == '+' || c == '-' || IsDigitAscii(ch) || IsAlphaAscii(ch));
        if (!ok) return false;
    }
    return true;
}

constexpr int HEADLESS_RUN = 3;

}  // namespace

void TArticleDriver::CheckHeadlessPart(std::string_view line) {
    if (State != DS_IDLE || DecodeAttempts > 0 || ThisArticle.RefusedPart) return;
    if (!FullEncodedLine(line)) {
        ThisArticle.EncodedRun = 0;
        return;
    }
    if (++ThisArticle.EncodedRun < HEADLESS_RUN || TNewsStore::PartOf(Header).Part < 2) return;
    if (PostFinished(Header)) {
        // A copy of a part of a post already dealt with.
        ThisArticle.RefusedPart = true;
        Flagged = true;
        Report.StatusLine("Encoded lines of a post already dealt with: ignored");
        return;
    }
    Report.StatusLine("Encoded lines without a \"begin\": the first part of this post is missing");
    PostIncomplete(Format("part %u came without its \"begin\"", TNewsStore::PartOf(Header).Part)
                       .c_str());
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
