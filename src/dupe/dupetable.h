// dupetable: the two duplicate tables. TDupeStringManager remembers what
// was received (keyed by subject, or by decoded file name), with the
// poster, the line count and an age stamp; old entries are purged when the
// age counter reaches the table's size. The tables load from and save to
// "dupesubj.lst" and "dupefile.lst" and can be seeded from directories on
// disk. TDupeTables is the one place every lookup and addition goes
// through: while a coordinator is connected it takes them instead of the
// local tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/strman.h"

namespace zorvex {

class TStatusSink;
struct THeader;

constexpr int DUPE_TABLE_BITS = 10;
constexpr int32_t DUPE_SIZE_DEFAULT = 2048;
// Match flags of a table.
constexpr uint32_t DUPE_MATCH_FROM = 1;
constexpr uint32_t DUPE_MATCH_LINES = 2;
constexpr int32_t DUPE_LINES_UNKNOWN = -1;
constexpr const char* DUPE_FROM_UNKNOWN = "n/a";
// Keys and posters are cut to this many characters.
constexpr size_t DUPE_TEXT_MAX = 255;
// A line of a dupe file is read up to this many characters.
constexpr size_t DUPE_FILE_LINE_MAX = 527;
// A subject this long or longer yields no file name; a name found is cut.
constexpr size_t DUPE_SUBJECT_NAME_LIMIT = 248;
constexpr size_t DUPE_SUBJECT_NAME_MAX = 128;
// An autoscanned file counts as this many bytes per line.
constexpr int64_t AUTOSCAN_BYTES_PER_LINE = 54;
constexpr size_t AUTOSCAN_PATHS_MAX = 256;

struct TDupeEntry : TStringEntry {
    int32_t Stamp;     // above 0 normal, below 0 permanent (never purged or saved)
    const char* From;  // pooled; DUPE_FROM_UNKNOWN when unknown
    int32_t Lines;     // DUPE_LINES_UNKNOWN when unknown
};

// Keys and posters of both tables: equal texts are one stored text, freed
// when the last entry holding it goes.
class TDupePool {
  public:
    TDupePool();
    ~TDupePool();
    // The pooled copy of text, one more holder counted.
    const char* Take(std::string_view text);
    // The pooled copy when some entry holds it, else null; nothing counted.
    const char* Peek(std::string_view text);
    // One holder fewer; the text is freed with its last holder.
    void Drop(const char* pooled);
    size_t Count() const { return Texts.Count(); }

    TDupePool(const TDupePool&) = delete;
    TDupePool& operator=(const TDupePool&) = delete;

  private:
    TStringManager Texts;
};

struct TDupeLoadReport {
    bool Opened = false;
    size_t Loaded = 0;
    size_t Skipped = 0;       // malformed lines
    size_t FirstSkipped = 0;  // 1-based line number of the first, 0 when none
};

class TDupeStringManager : public TStringManager {
  public:
    // size 0 or less switches purging off.
    TDupeStringManager(TDupePool& pool, int32_t size = DUPE_SIZE_DEFAULT,
                       uint32_t matchFlags = DUPE_MATCH_FROM | DUPE_MATCH_LINES);
    ~TDupeStringManager() override;
    void FreeEntry(TStringEntry* entry, bool freeText) override;

    // Applies at once (the preferences window changes them while running).
    void Configure(int32_t size, uint32_t matchFlags);
    // Where "Purging dupe table of old data" goes; none: nowhere.
    void SetStatus(TStatusSink* status) { Status = status; }
    // The autoscan switches purging off while it adds.
    void SetPurging(bool on) { PurgingOn = on; }

    // Whether an entry matches (first purges when due); touch gives the
    // match a new stamp.
    bool Lookup(std::string_view key, std::string_view from, int32_t lines, bool touch);
    // Finds a matching entry or adds one; a negative stamp makes it
    // permanent with that stamp, anything else gives it a new stamp (a
    // permanent entry found stays as it is). Null for an empty key.
    TDupeEntry* Add(std::string_view key, std::string_view from, int32_t lines, int32_t stamp = 0);
    // The viewer's remove: exactly this entry.
    void RemoveEntry(TDupeEntry* entry);

    // Sets the age counter to 0 and adds every well-formed line of the
    // file with its stamp; the counter becomes the largest stamp read. A
    // missing file leaves the table as it is.
    TDupeLoadReport Load(const std::string& path);
    TDupeLoadReport LoadFromText(std::string_view text);
    // Every entry with a stamp of 0 or more, in iteration order; the file
    // is replaced atomically. False (with why) when it could not be written.
    bool Save(const std::string& path, std::string* error);
    std::string SaveToText();

    int32_t AgeCounter() const { return Counter; }
    int32_t Threshold() const { return Thresh; }
    int32_t Size() const { return TableSize; }
    uint32_t MatchFlags() const { return Match; }

  private:
    // The first entry of key that matches from and lines, in chain order.
    TDupeEntry* FindMatch(const char* pooledKey, std::string_view from, int32_t lines);
    // The match, or a new entry (stamp 0) when none; nullptr for an empty key.
    TDupeEntry* FindOrInsert(std::string_view key, std::string_view from, int32_t lines,
                             bool* found);
    // Adds one trimmed, non-blank line of a dupe file; false when malformed.
    bool LoadLine(std::string_view line);
    void PurgeIfDue();
    int32_t NewStamp();

    TDupePool& Pool;
    TStatusSink* Status = nullptr;
    int32_t Counter = 0;
    int32_t Thresh = 0;
    int32_t TableSize = 0;
    uint32_t Match = 0;
    bool PurgingOn = true;
};

// The file name a subject announces ("Re: pics - beach.JPG (1/3)" gives
// "beach.JPG"), empty when none.
std::string FileNameFromSubject(std::string_view subject);
// The file table's key for a decoded name: lower case, cut to DUPE_TEXT_MAX.
std::string DupeFileKey(std::string_view name);

enum TDupeTableId : int {
    DUPE_TABLE_SUBJECTS = 1,
    DUPE_TABLE_FILES = 2,
};

// A process that keeps one duplicate table for several running copies.
// While it is connected, every lookup, addition and announcement goes to
// it instead of the local tables.
class TDupeCoordinator {
  public:
    virtual ~TDupeCoordinator() = default;
    virtual bool Connected() = 0;
    // Once connected in this run, the local files are neither loaded nor
    // saved, even after it went away.
    virtual bool EverUsed() const = 0;
    virtual bool Lookup(TDupeTableId table, std::string_view key, const THeader& header,
                        bool touch) = 0;
    virtual void Add(TDupeTableId table, std::string_view key, const THeader& header) = 0;
    // An article is asked for, or a file starts: no local counterpart.
    virtual void Announce(TDupeTableId table, std::string_view key, const THeader& header) = 0;
};

// No coordinator exists: every question is answered by the local tables.
class TNoDupeCoordinator final : public TDupeCoordinator {
  public:
    bool Connected() override { return false; }
    bool EverUsed() const override { return false; }
    bool Lookup(TDupeTableId, std::string_view, const THeader&, bool) override { return false; }
    void Add(TDupeTableId, std::string_view, const THeader&) override {}
    void Announce(TDupeTableId, std::string_view, const THeader&) override {}
    static TNoDupeCoordinator& Instance() {
        static TNoDupeCoordinator none;
        return none;
    }
};

struct TDupeSettings {
    int32_t SubjectSize = DUPE_SIZE_DEFAULT;
    uint32_t SubjectMatch = DUPE_MATCH_FROM | DUPE_MATCH_LINES;
    int32_t FileSize = DUPE_SIZE_DEFAULT;
    uint32_t FileMatch = 0;
};

struct TAutoscanCounts {
    long Paths = 0;  // directories listed
    long Dirs = 0;   // directories scanned, the listed ones included
    long Files = 0;  // files added
};

class TDupeTables {
  public:
    explicit TDupeTables(TDupeCoordinator& coordinator = TNoDupeCoordinator::Instance());
    void Configure(const TDupeSettings& settings);
    void SetStatus(TStatusSink* status);

    // The subject table: key the subject as received, with the header's
    // poster and line count.
    bool LookupSubject(const THeader& header, bool touch);
    void AddSubject(const THeader& header);
    void AnnounceSubject(const THeader& header);
    // The file table: name as decoded (DupeFileKey is applied here), with
    // the article's poster and line count.
    bool LookupFile(std::string_view name, const THeader& header, bool touch);
    void AddFile(std::string_view name, const THeader& header);
    void AnnounceFile(std::string_view name, const THeader& header);

    // Adds every file below the directories to the file table as permanent
    // entries (lower-cased name, size / 54 lines). Symbolic links are not
    // followed. Nothing while a coordinator is connected.
    TAutoscanCounts Autoscan(const std::vector<std::string>& directories);
    // Whether the local files are loaded and saved (no coordinator was
    // ever used in this run).
    bool KeepsLocalFiles() const { return !Coordinator.EverUsed(); }

    TDupeStringManager& Subjects() { return SubjectTable; }
    TDupeStringManager& Files() { return FileTable; }

  private:
    // Takes over fd (a directory); depth counts the levels below a listed one.
    void ScanDirectory(int fd, int depth, TAutoscanCounts* counts);
    TDupeStringManager& Table(TDupeTableId id) {
        return id == DUPE_TABLE_SUBJECTS ? SubjectTable : FileTable;
    }
    bool Lookup(TDupeTableId id, std::string_view key, const THeader& header, bool touch);
    void Add(TDupeTableId id, std::string_view key, const THeader& header);
    void Announce(TDupeTableId id, std::string_view key, const THeader& header);

    TDupeCoordinator& Coordinator;
    TDupePool Pool;
    TDupeStringManager SubjectTable;
    TDupeStringManager FileTable;
};

}  // namespace zorvex
