#include "decode/driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "app/settings.h"
#include "app/statuslog.h"
#include "app/view.h"
#include "decode/placement.h"
#include "library/ascii.h"
#include "library/fileio.h"
#include "library/strings.h"

namespace zorvex {

namespace {

bool IsMimeKind(int kind) {
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

const char* ResultTag(int result) {
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

TArticleDriver::TArticleDriver(const TSettingsStore& settings, TStatusLog& log, TNewsView& view,
                               TArticleChecks& checks, TDecodeObservers& observers)
    : Store(settings), Status(log), View(view), Checks(checks), Dec(observers) {}

TArticleDriver::~TArticleDriver() = default;

void TArticleDriver::ArticleStart(const TNewsGroup* group, const THeader* header,
                                  std::string_view messageId) {
    Group = group;
    Header = header;
    messageId = FirstWord(messageId.substr(0, std::min(messageId.size(), MESSAGE_ID_MAX)));
    MessageId = messageId.empty() ? NO_MESSAGE_ID : std::string(messageId);
    Checks.ArticleReady(header, MessageId);
    View.ArticleStarted(header ? static_cast<long long>(header->Number) : 0,
                        header ? header->Lines : 0);
    Mime = MIME_NONE;
    PreviousKind = LINE_OTHER;
    BegunHere = AppendedHere = FinishedHere = RefusedPart = false;
    Dec.SetViewerEnabled(Store.Settings().ViewerEnable != 0);
}

void TArticleDriver::HeaderLine(std::string_view line) {
    Checks.ArticleHeaderLine(Header, line);
    if (Store.Settings().EnableHttpGrabber) Checks.GrabUrls(line);
    size_t valuePos = 0;
    int kind = ClassifyLine(line, &valuePos);
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

void TArticleDriver::MimeHeaderLine(int kind, std::string_view line, size_t valuePos) {
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
    const TSettings& s = Store.Settings();
    if (s.EnableHttpGrabber) Checks.GrabUrls(line);
    size_t valuePos = 0;
    int kind = ClassifyLine(line, &valuePos);
    if (kind == LINE_CONTINUATION && !IsMimeKind(PreviousKind)) kind = LINE_OTHER;

    switch (kind) {
        case LINE_CONTENT_TYPE:
        case LINE_TRANSFER_ENCODING:
        case LINE_DISPOSITION:
        case LINE_CONTINUATION:
            MimeHeaderLine(kind, line, valuePos);
            break;
        case LINE_BEGIN:
            StartUu(line);
            break;
        case LINE_YBEGIN:
            StartYenc(line);
            break;
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

    int threshold = std::max(s.NoDataThresh, NODATA_THRESH_MIN);
    if (!Flagged && State == DS_IDLE && DecodeAttempts == 0 && received > threshold) {
        Flagged = true;
        Checks.RejectNoData(Header);
    }
}

bool TArticleDriver::PrepareDirectory(std::string* directory) {
    const TSettings& s = Store.Settings();
    if (s.DownloadPath.empty()) {
        Status.PrintStatus("No download path is set: file skipped");
        return false;
    }
    const char* name = Group && Group->Name ? Group->Name : "";
    *directory = GroupDirectory(AddTrailingSlash(s.DownloadPath), name, Group ? Group->Ordinal : 0,
                                s.PathExpand, Store.PathPrefixes);
    return true;
}

bool TArticleDriver::PrepareName(std::string_view raw, std::string* name) {
    std::string clean = CleanFileName(raw);
    if (!UsableFileName(clean)) {
        Status.PrintStatusF("Unusable file name \"%s\": file skipped", clean.c_str());
        return false;
    }
    *name = ConvertCase(clean, Store.Settings().CaseConvert);
    return true;
}

// Unique name, file checks, directory, open: what every new file passes.
bool TArticleDriver::OpenChecked(const std::string& directory, std::string* name, bool mime) {
    if (Store.Settings().RenameDupes && MakeUnique(directory, name, true) == UNIQUE_GAVE_UP) {
        Status.PrintStatusF("No free name for %s%s: file skipped", directory.c_str(),
                            name->c_str());
        return false;
    }
    if (!Checks.FileAccepted(Header, *name)) return false;
    if (!EnsureDirectory(directory, true)) {
        Status.PrintStatusF("Unable to access download path %s!", directory.c_str());
        return false;
    }
    bool opened =
        mime ? Dec.BeginBase64File(directory, *name) : Dec.BeginUuFile(directory, *name, false);
    if (!opened) {
        Status.PrintStatusString(STR_DECODE_INIT_FAILED);
        Status.PrintStatus(mime ? "(Check download path & disk space)"
                                : "(check download path & disk space)");
        return false;
    }
    return true;
}

void TArticleDriver::Announce(const std::string& directory, const std::string& name, bool encrypt,
                              bool continuation) {
    const TSettings& s = Store.Settings();
    bool encrypting = false;
    if (encrypt && s.EncryptionEnable && !s.EncryptionKey.empty() &&
        Checks.EncryptionMaskMatches(name)) {
        encrypting = Dec.StartEncryption(s.EncryptionKey);
        if (!encrypting) Status.PrintStatusF("Could not start encrypting %s", name.c_str());
    }
    Checks.FileOpened(name);
    File.Header = Header;
    File.MessageId = MessageId;
    File.GroupName = Group && Group->Name ? Group->Name : "";
    File.Directory = directory;
    File.FileName = name;
    File.Article = Header ? Header->Number : 0;
    File.Errors = continuation ? CarriedErrors : 0;
    Status.PrintStatusF("Decoding%s file %s%s", encrypting ? " and encrypting" : "",
                        directory.c_str(), name.c_str());
    State = DS_DECODING;
    if (!continuation) BegunHere = true;
}

bool TArticleDriver::BeginLine(std::string_view line, TNameParser parse, std::string* directory,
                               std::string* name) {
    ++DecodeAttempts;
    FinishPrevious();
    std::string raw;
    if (!PrepareDirectory(directory)) return false;
    if (!parse(line, &raw)) {
        Status.PrintStatusString(STR_UNABLE_TO_PARSE_FILENAME);
        return false;
    }
    return PrepareName(raw, name);
}

void TArticleDriver::StartUu(std::string_view line) {
    std::string directory, name;
    if (!BeginLine(line, BeginLineName, &directory, &name)) return;
    EndWaitingYenc("another file begins");
    if (!OpenChecked(directory, &name, false)) return;
    Dec.SetDecodeMode(MODE_UU);
    Announce(directory, name, true, false);
}

void TArticleDriver::StartYenc(std::string_view line) {
    std::string directory, name;
    if (!BeginLine(line, YencName, &directory, &name)) return;
    int64_t part = YencPart(line);
    int64_t size = YencSize(line);

    if (part <= 1) {
        EndWaitingYenc("another file begins");
        std::string clean = name;
        if (!OpenChecked(directory, &name, false)) return;
        LastPart = part;
        TotalSize = size;
        FirstCleanName = clean;
        FirstFinalName = name;
        YencEnded = YencDeleted = false;
        YencFileBytes = 0;
        CarriedErrors = 0;
        CarriedVirus = JpegVirusState{};
        Dec.SetDecodeMode(MODE_YENC);
        // Only a single-part post can carry the cipher header at its start.
        Announce(directory, name, part == -1, false);
        return;
    }
    if (YencEnded && name == FirstCleanName) {
        Status.PrintStatusF("multipart yenc: part %" PRId64 " of a%s file ignored (%s)", part,
                            YencDeleted ? " deleted" : "n ended", name.c_str());
        RefusedPart = true;
        return;
    }
    if (part != LastPart + 1) {
        Status.PrintStatus("multipart yenc: part out of sequence");
        EndWaitingYenc("a part is missing");
        RefusedPart = true;
        return;
    }
    if (name == FirstCleanName) name = FirstFinalName;
    if (name != FirstFinalName) {
        Status.PrintStatus("multipart yenc: part is not current yenc file");
        EndWaitingYenc("another file begins");
        RefusedPart = true;
        return;
    }
    // Appending to a file that is no longer there would leave a fragment.
    struct stat st {};
    if (lstat((directory + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !Dec.BeginUuFile(directory, name, true)) {
        Status.PrintStatusF("multipart yenc: unable to continue (part %" PRId64 ")", part);
        RefusedPart = true;
        return;
    }
    Status.PrintStatusF("multipart yenc: continue (part=%" PRId64 ") %s", part, name.c_str());
    Dec.ContinueFileCrc(CarriedCrc);
    Dec.ContinueVirusScan(CarriedVirus);
    LastPart = part;
    AppendedHere = true;
    SizeBeforePart = static_cast<int64_t>(st.st_size);
    Dec.SetDecodeMode(MODE_YENC);
    Announce(directory, name, false, true);
}

void TArticleDriver::StartMime() {
    const TSettings& s = Store.Settings();
    if (s.LogMime) {
        Status.WriteLogLineFormatted("[MIME] %lld type=%s encode=%s fname=%s",
                                     static_cast<long long>(Header ? Header->Number : 0),
                                     MimeType.c_str(), TransferEncodingName(Dec.TransferEncoding()),
                                     MimeName.c_str());
    }
    Mime = MIME_NONE;
    if (Dec.TransferEncoding() != TE_BASE64) return;
    ++DecodeAttempts;
    FinishPrevious();
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
    Status.PrintStatus(text);
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
            Status.PrintStatus("\"end\" received. Decode completed.");
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
    int64_t part = LastPart > 0 ? LastPart : 1;
    const char* name = File.FileName.c_str();
    YencFileBytes += Dec.PartBytes();
    if (t.Size >= 0 && t.Size != Dec.PartBytes()) {
        ++File.Errors;
        Status.PrintStatusF("yenc: part %" PRId64 " of %s has %" PRId64
                            " bytes, \"=yend\" says %" PRId64,
                            part, name, Dec.PartBytes(), t.Size);
    }
    if (t.HasPartCrc && t.PartCrc != Dec.PartCrc()) {
        ++File.Errors;
        Status.PrintStatusF("yenc: part %" PRId64 " of %s has CRC32 %08x, \"=yend\" says %08x",
                            part, name, Dec.PartCrc(), t.PartCrc);
    }
    // Posters repeat the whole file's CRC in every part; it can be checked
    // only once the file is whole.
    bool whole = TotalSize < 0 || YencFileBytes >= TotalSize;
    if (t.HasCrc && whole && t.Crc != Dec.FileCrc()) {
        ++File.Errors;
        Status.PrintStatusF("yenc: file %s (part %" PRId64 ") has CRC32 %08x, \"=yend\" says %08x",
                            name, part, Dec.FileCrc(), t.Crc);
    }
}

void TArticleDriver::FinishPrevious() {
    if (State == DS_IDLE) return;
    Status.PrintStatusString(STR_PREVIOUS_FILE_INCOMPLETE);
    Finish(RESULT_INCOMPLETE);
}

int TArticleDriver::Finish(int result) {
    File.Size = Dec.EndFile();
    FinishedHere = true;
    BegunHere = AppendedHere = false;
    // Bytes lost at the last flush make a file that looks whole a failure.
    if (Dec.EndFailed() && (result == RESULT_RECEIVED || result == RESULT_INCOMPLETE)) {
        Status.PrintStatusF("Decode aborted(write failed: %s%s)", File.Directory.c_str(),
                            File.FileName.c_str());
        result = RESULT_ERROR;
    }
    File.Result = result;
    const bool deleted = DeleteIfDue(result);
    State = DS_IDLE;
    MoreParts = false;
    if (Dec.DecodeMode() == MODE_YENC) {
        // A deleted or failed file is over: a later part must not bring a
        // fragment of it back. Only a multipart post waits for its parts.
        bool over = deleted || result == RESULT_ERROR || result == RESULT_USER_ABORT;
        if (over) {
            YencEnded = true;
            YencDeleted = deleted;
        } else if (LastPart >= 1 && TotalSize >= 0 && File.Size < TotalSize) {
            MoreParts = true;
            CarriedErrors = File.Errors;
            CarriedCrc = Dec.FileCrc();
            CarriedVirus = Dec.VirusScanState();
            Status.PrintStatus("multipart yenc: more parts to come");
            UpdateIndicator();
            return result;
        } else {
            Status.PrintStatus("multipart yenc: file is complete");
        }
    }
    LogFinished(result, Dec.MethodName());
    UpdateIndicator();
    return result;
}

bool TArticleDriver::DeleteIfDue(int result) {
    File.Deleted = result == RESULT_POSSIBLE_VIRUS ||
                   (result == RESULT_INCOMPLETE && Store.Settings().DeleteIncomplete);
    if (File.Deleted) {
        Status.PrintStatusF("Deleting %s", File.FileName.c_str());
        DeleteInDirectory(File.Directory, File.FileName);
    }
    return File.Deleted;
}

void TArticleDriver::LogFinished(int result, const char* method) {
    const TSettings& s = Store.Settings();
    char line[LOG_BUFFER_SIZE];
    char errors[32] = "";
    if (File.Errors != 0) snprintf(errors, sizeof errors, " (%d errors)", File.Errors);
    snprintf(line, sizeof line, "%s%s %s%s %s %s %lld %s", ResultTag(result), errors,
             File.Directory.c_str(), File.FileName.c_str(), File.GroupName.c_str(),
             File.MessageId.c_str(), static_cast<long long>(File.Article), method);
    Status.WriteLogLine(line, true, File.Header);
    if (Status.KeepsDailyLog() && File.Header) {
        if (s.LogSubject) {
            snprintf(line, sizeof line, "  Subject: %s", SubjectOf(File.Header).c_str());
            Status.WriteLogLine(line, false, nullptr);
        }
        if (s.LogName && File.Header->Poster) {
            snprintf(line, sizeof line, "  From: %s", File.Header->Poster);
            Status.WriteLogLine(line, false, nullptr);
        }
    }
    ReceivedFiles.push_back(File);
    File = TCurrentFile{};
    CarriedErrors = 0;
}

void TArticleDriver::EndWaitingYenc(const char* why) {
    if (!MoreParts) return;
    MoreParts = false;
    YencEnded = true;
    YencDeleted = false;
    Status.PrintStatusF("multipart yenc: %s ends incomplete after part %" PRId64 " (%s)",
                        File.FileName.c_str(), LastPart, why);
    File.Result = RESULT_INCOMPLETE;
    YencDeleted = DeleteIfDue(RESULT_INCOMPLETE);
    // The decoder may have moved on to another file: name the method here.
    LogFinished(RESULT_INCOMPLETE, "yEnc");
}

void TArticleDriver::EndWaitingFiles(const char* why) {
    if (State == DS_AWAITING_CONTINUATION) {
        Status.PrintStatusF("Decode aborted: %s ends incomplete (%s)", File.FileName.c_str(), why);
        Finish(RESULT_INCOMPLETE);
    }
    EndWaitingYenc(why);
    UpdateIndicator();
}

bool TArticleDriver::ArticleEnd() {
    View.ArticleEnded();
    if (State == DS_DECODING && Dec.DecodeMode() == MODE_BASE64) {
        Status.PrintStatus("EOM reached -- Mime finished?");
        Finish(RESULT_RECEIVED);
    }
    bool follow;
    if (State != DS_DECODING && State != DS_AWAITING_CONTINUATION) {
        follow = MoreParts;
    } else if (Header && Header->PosterNext) {
        Status.PrintStatus("EOM reached -- Attempting Continue");
        State = DS_AWAITING_CONTINUATION;
        follow = true;
    } else {
        Status.PrintStatus("EOM reached -- Decode aborted");
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
    Status.PrintStatusF("Deleting %s", name.c_str());
    DeleteInDirectory(directory, name);
    return true;
}

bool TArticleDriver::ArticleCut() {
    View.ArticleEnded();
    if (State == DS_IDLE) return !FinishedHere;
    // Still waiting for the first full line: nothing of this article went in.
    if (State == DS_AWAITING_CONTINUATION) return true;
    std::string path = File.Directory + File.FileName;
    if (BegunHere) {
        Dec.EndFile();
        Status.PrintStatusF("Transfer cut: %s removed until the article comes again",
                            File.FileName.c_str());
        DeleteInDirectory(File.Directory, File.FileName);
        if (Dec.DecodeMode() == MODE_YENC) {
            LastPart = -1;
            FirstCleanName.clear();
            FirstFinalName.clear();
        }
        File = TCurrentFile{};
        State = DS_IDLE;
        MoreParts = false;
    } else if (AppendedHere) {
        Dec.EndFile();
        Dec.DiscardPart();
        // The part goes back out; O_NOFOLLOW as for every write to the tree.
        int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        bool taken = fd >= 0 && ftruncate(fd, SizeBeforePart) == 0;
        if (fd >= 0) close(fd);
        State = DS_IDLE;
        if (taken) {
            Status.PrintStatusF("Transfer cut: part %" PRId64 " taken back out of %s", LastPart,
                                File.FileName.c_str());
            --LastPart;
            MoreParts = true;
        } else {
            Status.PrintStatusF("Transfer cut: part %" PRId64 " could not be taken out of %s",
                                LastPart, File.FileName.c_str());
            YencEnded = true;
            File.Errors += 1;
            Finish(RESULT_ERROR);
        }
    } else {
        // Carried over from an earlier article: its lines cannot be told
        // apart from a second copy of this one's.
        Status.PrintStatus("EOM reached -- Decode aborted");
        Finish(RESULT_INCOMPLETE);
    }
    BegunHere = AppendedHere = false;
    UpdateIndicator();
    return true;
}

void TArticleDriver::UpdateIndicator() {
    bool on = State == DS_DECODING;
    if (on == IndicatorShown) return;
    IndicatorShown = on;
    View.ShowIndicator(on ? DECODING_INDICATOR : "");
}

}  // namespace zorvex
