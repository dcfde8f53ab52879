#include "nntp/newsrc.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "library/ascii.h"
#include "library/fileio.h"
#include "library/homefiles.h"

namespace zorvex {

namespace {

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

bool SixDigits(const std::string& text) {
    if (text.size() != 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// Reads one line of at most max bytes into *line, without its line feed
// (and a CR before it); the rest of a longer line is skipped. False at the
// end of the file.
bool ReadCutLine(FILE* f, size_t max, std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = getc_unlocked(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line->size() < max) line->push_back(static_cast<char>(c));
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

}  // namespace

TNewsrcList::TNewsrcList(std::string homeDir, size_t maxNames)
    : FilePath(HomeFileNames(homeDir, 0).Newsrc),
      MaxNames(maxNames),
      Clock([] { return time(nullptr); }) {}

void TNewsrcList::Empty() {
    Seen.clear();
    Order.clear();
    DroppedNames = 0;
}

void TNewsrcList::AddNewsrcLine(const char* line) {
    Exists = true;
    if (!line || !*line || IsBlankAscii(*line)) return;
    size_t len = 0;
    while (line[len] && !IsBlankAscii(line[len])) ++len;
    // A name with control bytes can never be subscribed; keeping it would
    // only put junk in the browse list.
    for (size_t i = 0; i < len; ++i)
        if (IsControl(static_cast<unsigned char>(line[i]))) return;
    std::string_view name(line, len < NEWSRC_NAME_MAX ? len : NEWSRC_NAME_MAX);
    if (Seen.count(name)) return;
    if (Order.size() >= MaxNames) {
        ++DroppedNames;
        return;
    }
    Order.emplace_back(name);
    Seen.insert(Order.back());
}

void TNewsrcList::Read() {
    Empty();
    Exists = false;
    DateText.clear();
    TimeText.clear();
    FILE* f = fopen(FilePath.c_str(), "r");
    if (!f) return;
    std::string line;
    if (ReadCutLine(f, NEWSRC_STAMP_MAX, &line)) DateText = line;
    if (ReadCutLine(f, NEWSRC_STAMP_MAX, &line)) TimeText = line;
    // A date the server could not parse would make every NEWGROUPS fail;
    // without one the next logon asks for the whole list instead.
    if (!SixDigits(DateText) || !SixDigits(TimeText)) {
        DateText.clear();
        TimeText.clear();
    }
    while (ReadCutLine(f, NEWSRC_NAME_MAX, &line)) AddNewsrcLine(line.c_str());
    fclose(f);
}

bool TNewsrcList::Write() {
    std::string contents;
    size_t bytes = DateText.size() + TimeText.size() + 2;
    for (const std::string& name : Order) bytes += name.size() + 1;
    contents.reserve(bytes);
    contents.append(DateText).append(1, '\n').append(TimeText).append(1, '\n');
    for (const std::string& name : Order) contents.append(name).append(1, '\n');
    Error.clear();
    return ReplaceFileAtomically(FilePath, contents, &Error);
}

std::string TNewsrcList::BeginRequest() {
    PreviousDate = DateText;
    PreviousTime = TimeText;
    std::string command;
    if (!DateText.empty() && Exists) {
        command = "NEWGROUPS " + DateText + " " + TimeText + " GMT";
        FullListRequested = false;
    } else {
        command = "LIST";
        Empty();
        FullListRequested = true;
    }
    // Stamped now, not when the listing ends, so that groups made while it
    // arrives are asked for again next time.
    time_t now = Clock();
    struct tm utc {};
    if (gmtime_r(&now, &utc) != nullptr) {
        char date[16], time[16];
        snprintf(date, sizeof date, "%02d%02d%02d", (utc.tm_year % 100 + 100) % 100, utc.tm_mon + 1,
                 utc.tm_mday);
        snprintf(time, sizeof time, "%02d%02d%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
        DateText = date;
        TimeText = time;
    } else {
        DateText.clear();
        TimeText.clear();
    }
    return command;
}

void TNewsrcList::EndListing(bool received) {
    Loaded = true;
    if (!received) {
        // Asked again next time from the same moment; the file keeps the
        // last listing that arrived.
        DateText = PreviousDate;
        TimeText = PreviousTime;
        FullListRequested = false;
        return;
    }
    // A refused LIST ends here too, with nothing received. Without a date
    // the next logon asks again instead of only for newer groups.
    if (FullListRequested && Order.empty()) {
        DateText.clear();
        TimeText.clear();
    }
    FullListRequested = false;
    Write();
}

void TNewsrcList::RequestFresh() {
    Error.clear();
    if (unlink(FilePath.c_str()) != 0 && errno != ENOENT) Error = std::strerror(errno);
    Loaded = false;
    DateText.clear();
    TimeText.clear();
}

}  // namespace zorvex
