#include "dupe/dupetable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "library/ascii.h"
#include "library/fileio.h"
#include "library/statussink.h"
#include "nntp/records.h"

namespace zorvex {
namespace {

constexpr int POOL_BITS = DUPE_TABLE_BITS + 1;
constexpr int AUTOSCAN_DEPTH_MAX = 64;
constexpr std::string_view FIELD_SEPARATOR = " ## ";

int32_t ClampToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// Stored texts are C strings: anything after a NUL could never be matched.
std::string_view ClipText(std::string_view text) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    return text.substr(0, DUPE_TEXT_MAX);
}

// A negative count from a hostile server says nothing: it is unknown, as
// the file keeps it and as it matches.
int32_t KnownLines(int32_t lines) {
    return lines < 0 ? DUPE_LINES_UNKNOWN : lines;
}

bool IsFileNameChar(char c) {
    return IsAlphaAscii(c) || IsDigitAscii(c) ||
           std::string_view(".~`!@#$%^&_-").find(c) != std::string_view::npos;
}

// One line each: a CR or LF inside a text would start a new one.
std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

// The short form "stamp key" reads back as the same key only when the key
// neither starts nor ends with white space and cannot be taken for a
// separator.
bool KeyFitsShortForm(const std::string& key) {
    if (key.empty() || IsSpaceAscii(key.front()) || IsSpaceAscii(key.back())) return false;
    return (" " + key).find(FIELD_SEPARATOR) == std::string::npos;
}

// The reader takes the text before the first separator, less leading white
// space, as the poster: the poster is written so that its own end is where
// the first separator is found. At most size characters.
std::string SafeFrom(std::string_view from, size_t size) {
    std::string out = OneLine(TrimLeadingSpaces(from).substr(0, size));
    for (;;) {
        const size_t pos = (" " + out + std::string(FIELD_SEPARATOR)).find(FIELD_SEPARATOR);
        if (pos == out.size() + 1) return out;
        out.erase(pos, 1);  // the first '#' of the early separator
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TDupePool

TDupePool::TDupePool() : Texts(kBaseEntrySize, POOL_BITS) {}

TDupePool::~TDupePool() = default;

const char* TDupePool::Take(std::string_view text) {
    // Add copies the view's bytes, so it needs no terminating NUL.
    TStringEntry* e = Texts.Add(text.empty() ? "" : text.data(), text.size());
    ++e->Spare;
    return e->Text;
}

const char* TDupePool::Peek(std::string_view text) {
    TStringEntry* e = Texts.Find(text.empty() ? "" : text.data(), text.size());
    return e ? e->Text : nullptr;
}

void TDupePool::Drop(const char* pooled) {
    if (pooled == nullptr) return;
    TStringEntry* e = Texts.Find(pooled);
    // A text that is not this pool's copy is not ours to count.
    if (e == nullptr || e->Text != pooled || e->Spare == 0) return;
    if (--e->Spare == 0) Texts.Remove(pooled);
}

// ---------------------------------------------------------------------------
// TDupeStringManager

TDupeStringManager::TDupeStringManager(TDupePool& pool, int32_t size, uint32_t matchFlags)
    : TStringManager(sizeof(TDupeEntry), DUPE_TABLE_BITS, CALLER_TEXTS), Pool(pool) {
    Configure(size, matchFlags);
}

TDupeStringManager::~TDupeStringManager() {
    // The base destructor would not run our FreeEntry: the pool keeps count.
    Clear();
}

void TDupeStringManager::FreeEntry(TStringEntry* entry, bool freeText) {
    if (entry == nullptr) return;
    // Each entry holds its key and its poster once, whatever freeText says:
    // the texts belong to the pool, not to the caller.
    TDupeEntry* d = static_cast<TDupeEntry*>(entry);
    Pool.Drop(d->Text);
    Pool.Drop(d->From);
    d->From = nullptr;
    TStringManager::FreeEntry(entry, freeText);
}

void TDupeStringManager::Configure(int32_t size, uint32_t matchFlags) {
    TableSize = size;
    Thresh = ClampToInt32(int64_t{size} * 7 / 8);
    Match = matchFlags;
}

int32_t TDupeStringManager::NewStamp() {
    // Without purging the counter only grows; it stops at the top rather
    // than wrapping into the permanent range.
    if (Counter < std::numeric_limits<int32_t>::max()) ++Counter;
    return Counter;
}

void TDupeStringManager::PurgeIfDue() {
    if (!PurgingOn || TableSize <= 0 || Counter < TableSize) return;
    if (Status) Status->PrintStatus("Purging dupe table of old data");
    const int64_t shift = int64_t{Thresh} - Counter;
    TStringEntry* next;
    for (TStringEntry* e = First(); e; e = next) {
        next = e->IterNext;  // removal leaves the other entries' links alone
        TDupeEntry* d = static_cast<TDupeEntry*>(e);
        if (d->Stamp <= 0) continue;
        const int64_t stamp = d->Stamp + shift;
        if (stamp <= 0) {
            RemoveThisEntry(d);
        } else {
            d->Stamp = ClampToInt32(stamp);
        }
    }
    Counter = Thresh;
}

TDupeEntry* TDupeStringManager::FindMatch(const char* pooledKey, std::string_view from,
                                          int32_t lines) {
    for (TStringEntry* e = ChainHead(pooledKey); e; e = e->Next) {
        if (std::strcmp(e->Text, pooledKey) != 0) continue;
        TDupeEntry* d = static_cast<TDupeEntry*>(e);
        const std::string_view have = d->From ? d->From : DUPE_FROM_UNKNOWN;
        if ((Match & DUPE_MATCH_FROM) && have != DUPE_FROM_UNKNOWN && have != from) continue;
        bool match = true;
        if ((Match & DUPE_MATCH_LINES) && lines != DUPE_LINES_UNKNOWN &&
            d->Lines != DUPE_LINES_UNKNOWN) {
            const double given = lines;
            match = 0.9 * given <= d->Lines && d->Lines <= 1.1 * given;
        }
        if (match) {
            ++d->UseCount;
            return d;
        }
    }
    return nullptr;
}

bool TDupeStringManager::Lookup(std::string_view key, std::string_view from, int32_t lines,
                                bool touch) {
    PurgeIfDue();
    lines = KnownLines(lines);
    key = ClipText(key);
    from = ClipText(from);
    if (key.empty()) return false;
    const char* pooledKey = Pool.Peek(key);
    if (pooledKey == nullptr) return false;
    TDupeEntry* e = FindMatch(pooledKey, from, lines);
    if (e == nullptr) return false;
    // A permanent entry (autoscanned) is not renewed: it would then age
    // like any other and be purged and saved.
    if (touch && e->Stamp >= 0) e->Stamp = NewStamp();
    return true;
}

TDupeEntry* TDupeStringManager::FindOrInsert(std::string_view key, std::string_view from,
                                             int32_t lines, bool* found) {
    lines = KnownLines(lines);
    key = ClipText(key);
    from = ClipText(from);
    *found = false;
    if (key.empty()) return nullptr;
    if (const char* pooledKey = Pool.Peek(key)) {
        if (TDupeEntry* e = FindMatch(pooledKey, from, lines)) {
            *found = true;
            return e;
        }
    }
    TDupeEntry* e = static_cast<TDupeEntry*>(InsertSeparate(Pool.Take(key)));
    e->From = Pool.Take(from);
    e->Lines = lines;
    e->Stamp = 0;
    return e;
}

TDupeEntry* TDupeStringManager::Add(std::string_view key, std::string_view from, int32_t lines,
                                    int32_t stamp) {
    PurgeIfDue();
    bool found;
    TDupeEntry* e = FindOrInsert(key, from, lines, &found);
    if (e == nullptr) return nullptr;
    if (stamp < 0) {
        e->Stamp = stamp;
    } else if (!found || e->Stamp >= 0) {
        e->Stamp = NewStamp();
    }
    return e;
}

void TDupeStringManager::RemoveEntry(TDupeEntry* entry) {
    RemoveThisEntry(entry);
}

TDupeLoadReport TDupeStringManager::Load(const std::string& path) {
    Counter = 0;
    std::string text;
    if (!ReadWholeFile(path, &text)) return TDupeLoadReport{};
    return LoadFromText(text);
}

// "stamp key" or "stamp from ## key ## lines" ("stamp from ## key" has no
// line count). False for a line that is not one of them.
bool TDupeStringManager::LoadLine(std::string_view line) {
    std::string_view rest = line;
    int64_t read = 0;
    if (!ReadClampedDecimal(&rest, &read) || read <= 0) return false;
    const int32_t stamp = ClampToInt32(read);
    if (TrimLeadingSpaces(rest).empty()) return false;

    std::string_view from = DUPE_FROM_UNKNOWN;
    std::string_view key;
    int32_t lines = DUPE_LINES_UNKNOWN;
    // The separator is looked for before the blanks after the stamp are
    // skipped, so that an empty poster (" ## key") still reads as one.
    const size_t first = rest.find(FIELD_SEPARATOR);
    if (first == std::string_view::npos) {
        key = TrimLeadingSpaces(rest);
    } else {
        from = TrimLeadingSpaces(rest.substr(0, first));
        std::string_view after = rest.substr(first + FIELD_SEPARATOR.size());
        // The last separator: a key may hold one, a line count never does.
        const size_t second = after.rfind(FIELD_SEPARATOR);
        if (second == std::string_view::npos) {
            key = after;
        } else {
            key = after.substr(0, second);
            std::string_view number = after.substr(second + FIELD_SEPARATOR.size());
            int64_t value = 0;
            if (!ReadClampedDecimal(&number, &value) || !TrimSpaces(number).empty()) return false;
            // Below -1 (unknown) a count could never match again.
            if (value < DUPE_LINES_UNKNOWN) return false;
            lines = ClampToInt32(value);
        }
    }
    if (ClipText(key).empty()) return false;

    bool found;
    TDupeEntry* e = FindOrInsert(key, from, lines, &found);
    if (e == nullptr) return false;
    e->Stamp = stamp;
    if (stamp > Counter) Counter = stamp;
    return true;
}

TDupeLoadReport TDupeStringManager::LoadFromText(std::string_view text) {
    TDupeLoadReport report;
    report.Opened = true;
    Counter = 0;
    size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        // The rest of an over-long line is dropped, not read as a line.
        line = line.substr(0, DUPE_FILE_LINE_MAX);
        const size_t nul = line.find('\0');
        if (nul != std::string_view::npos) line = line.substr(0, nul);
        line = TrimSpaces(line);
        if (line.empty()) continue;
        // A CR inside a line is saved as a space: read it as one, so that a
        // load gives the entries its save reads back.
        std::string spaced;
        if (line.find('\r') != std::string_view::npos) {
            spaced = OneLine(line);
            line = spaced;
        }
        if (LoadLine(line)) {
            ++report.Loaded;
        } else {
            if (report.Skipped++ == 0) report.FirstSkipped = lineNo;
        }
    }
    return report;
}

std::string TDupeStringManager::SaveToText() {
    std::string out;
    for (TStringEntry* e = First(); e; e = e->IterNext) {
        const TDupeEntry* d = static_cast<const TDupeEntry*>(e);
        if (d->Stamp < 0) continue;
        const std::string stamp = std::to_string(d->Stamp) + " ";
        const std::string key = OneLine(d->Text);
        const std::string_view from = d->From ? d->From : DUPE_FROM_UNKNOWN;
        out += stamp;
        if (from == DUPE_FROM_UNKNOWN && d->Lines == DUPE_LINES_UNKNOWN && KeyFitsShortForm(key)) {
            out += key;
            out += '\n';
            continue;
        }
        const std::string lines = std::to_string(d->Lines);
        // A line longer than the reader takes would lose its line count;
        // the poster gives way, the key never does.
        const size_t fixed = stamp.size() + key.size() + lines.size() + 2 * FIELD_SEPARATOR.size();
        out += SafeFrom(from, fixed < DUPE_FILE_LINE_MAX ? DUPE_FILE_LINE_MAX - fixed : 0);
        out += FIELD_SEPARATOR;
        out += key;
        out += FIELD_SEPARATOR;
        out += lines;
        out += '\n';
    }
    return out;
}

bool TDupeStringManager::Save(const std::string& path, std::string* error) {
    return ReplaceFileAtomically(path, SaveToText(), error);
}

// ---------------------------------------------------------------------------
// Names

std::string FileNameFromSubject(std::string_view subject) {
    if (subject.size() >= DUPE_SUBJECT_NAME_LIMIT) return {};
    const size_t dot = subject.find('.');
    if (dot == std::string_view::npos) return {};
    std::string name;
    for (size_t i = 0; i < dot; ++i) {
        if (IsFileNameChar(subject[i])) {
            name += subject[i];
        } else {
            name.clear();
        }
    }
    for (size_t i = dot; i < subject.size() && IsFileNameChar(subject[i]); ++i) name += subject[i];
    if (name.size() > DUPE_SUBJECT_NAME_MAX) name.resize(DUPE_SUBJECT_NAME_MAX);
    return name;
}

std::string DupeFileKey(std::string_view name) {
    return LowerAscii(name.substr(0, DUPE_TEXT_MAX));
}

// ---------------------------------------------------------------------------
// TDupeTables

TDupeTables::TDupeTables(TDupeCoordinator& coordinator)
    : Coordinator(coordinator), SubjectTable(Pool), FileTable(Pool) {
    Configure(TDupeSettings{});
}

void TDupeTables::Configure(const TDupeSettings& settings) {
    SubjectTable.Configure(settings.SubjectSize, settings.SubjectMatch);
    FileTable.Configure(settings.FileSize, settings.FileMatch);
}

void TDupeTables::SetStatus(TStatusSink* status) {
    SubjectTable.SetStatus(status);
    FileTable.SetStatus(status);
}

namespace {

std::string_view SubjectOf(const THeader& header) {
    return header.Subject ? header.Subject : "";
}

std::string_view PosterOf(const THeader& header) {
    return header.Poster ? header.Poster : DUPE_FROM_UNKNOWN;
}

// A header without a line count (none given by the server) has 0 lines:
// in the tables that is an unknown count, which matches any.
int32_t LinesOf(const THeader& header) {
    return header.Lines > 0 ? header.Lines : DUPE_LINES_UNKNOWN;
}

}  // namespace

// Every question goes to the coordinator while it is connected, else to the
// local table; an empty key is never asked or added.
bool TDupeTables::Lookup(TDupeTableId id, std::string_view key, const THeader& header, bool touch) {
    if (key.empty()) return false;
    if (Coordinator.Connected()) return Coordinator.Lookup(id, key, header, touch);
    return Table(id).Lookup(key, PosterOf(header), LinesOf(header), touch);
}

void TDupeTables::Add(TDupeTableId id, std::string_view key, const THeader& header) {
    if (key.empty()) return;
    if (Coordinator.Connected())
        Coordinator.Add(id, key, header);
    else
        Table(id).Add(key, PosterOf(header), LinesOf(header));
}

void TDupeTables::Announce(TDupeTableId id, std::string_view key, const THeader& header) {
    if (!key.empty() && Coordinator.Connected()) Coordinator.Announce(id, key, header);
}

bool TDupeTables::LookupSubject(const THeader& header, bool touch) {
    return Lookup(DUPE_TABLE_SUBJECTS, SubjectOf(header), header, touch);
}

void TDupeTables::AddSubject(const THeader& header) {
    Add(DUPE_TABLE_SUBJECTS, SubjectOf(header), header);
}

void TDupeTables::AnnounceSubject(const THeader& header) {
    Announce(DUPE_TABLE_SUBJECTS, SubjectOf(header), header);
}

bool TDupeTables::LookupFile(std::string_view name, const THeader& header, bool touch) {
    return Lookup(DUPE_TABLE_FILES, DupeFileKey(name), header, touch);
}

void TDupeTables::AddFile(std::string_view name, const THeader& header) {
    Add(DUPE_TABLE_FILES, DupeFileKey(name), header);
}

void TDupeTables::AnnounceFile(std::string_view name, const THeader& header) {
    Announce(DUPE_TABLE_FILES, DupeFileKey(name), header);
}

void TDupeTables::ScanDirectory(int fd, int depth, TAutoscanCounts* counts) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    ++counts->Dirs;
    while (const dirent* ent = readdir(dir)) {
        const char* name = ent->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat st {};
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth >= AUTOSCAN_DEPTH_MAX) continue;
            // O_NOFOLLOW: the entry could have become a link since the stat.
            const int sub =
                openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) ScanDirectory(sub, depth + 1, counts);
        } else if (S_ISREG(st.st_mode)) {
            const int64_t lines = static_cast<int64_t>(st.st_size) / AUTOSCAN_BYTES_PER_LINE;
            FileTable.Add(DupeFileKey(name), DUPE_FROM_UNKNOWN, ClampToInt32(lines), -1);
            ++counts->Files;
        }
    }
    closedir(dir);
}

TAutoscanCounts TDupeTables::Autoscan(const std::vector<std::string>& directories) {
    TAutoscanCounts counts;
    if (Coordinator.Connected()) return counts;
    // Permanent entries only: nothing may age out while they go in.
    SubjectTable.SetPurging(false);
    FileTable.SetPurging(false);
    size_t listed = 0;
    for (const std::string& path : directories) {
        if (listed++ >= AUTOSCAN_PATHS_MAX) break;
        if (path.empty()) continue;
        ++counts.Paths;
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) ScanDirectory(fd, 0, &counts);
    }
    SubjectTable.SetPurging(true);
    FileTable.SetPurging(true);
    return counts;
}

}  // namespace zorvex
