// News date parser: turns the value of a "Date:" header (and the other
// forms people type: ISO dates, m/d/y, "May 7, 2007", relative items) into
// seconds since 1970 UTC. A small tokenizer, a word table and a grammar of
// items, then a calendar conversion with zones and daylight saving.
#pragma once

#include <cstdint>

namespace zorvex {

// The "now" and the local standard zone a parse is relative to.
struct TDateReference {
    int64_t Now;          // seconds since 1970 UTC
    int ZoneMinutesWest;  // local standard zone, minutes west of UTC
};

// Seconds since 1970 UTC, or -1 when the text is not a date (a result that
// would be -1 is returned as 0). Without a reference the current time and
// the local zone are used. Daylight saving, where the text leaves it open,
// is decided by the local time rules. Safe on any NUL-terminated text and
// from any thread.
int64_t ParseDate(const char* text, const TDateReference* ref = nullptr);

}  // namespace zorvex
