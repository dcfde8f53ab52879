#include "library/parsedate.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "library/ascii.h"

namespace zorvex {
namespace {

// ---------------------------------------------------------------------------
// Tokens and words

enum TTokType : uint8_t {
    TOK_END,
    TOK_ERROR,  // "?": bad character inside a comment
    TOK_DAY,
    TOK_DAYZONE,
    TOK_MERIDIAN,
    TOK_MONTH,
    TOK_MONTH_UNIT,
    TOK_SEC_UNIT,
    TOK_SNUMBER,
    TOK_UNUMBER,
    TOK_ZONE,
    TOK_CHAR,
};

enum TMeridian { MER_AM, MER_PM, MER_24 };
enum TDstMode { DST_ON, DST_OFF, DST_MAYBE };

struct TToken {
    TTokType Type = TOK_END;
    char Ch = 0;
    bool Unknown = false;  // a zone made up for a word nobody knows
    int Digits = 0;
    int64_t Value = 0;
};

struct TWord {
    const char* Name;
    TTokType Type;
    int Value;
};

constexpr TWord kMonthsDays[] = {
    {"january", TOK_MONTH, 1},  {"february", TOK_MONTH, 2},  {"march", TOK_MONTH, 3},
    {"april", TOK_MONTH, 4},    {"may", TOK_MONTH, 5},       {"june", TOK_MONTH, 6},
    {"july", TOK_MONTH, 7},     {"august", TOK_MONTH, 8},    {"september", TOK_MONTH, 9},
    {"october", TOK_MONTH, 10}, {"november", TOK_MONTH, 11}, {"december", TOK_MONTH, 12},
    {"sunday", TOK_DAY, 0},     {"monday", TOK_DAY, 0},      {"tuesday", TOK_DAY, 0},
    {"wednesday", TOK_DAY, 0},  {"thursday", TOK_DAY, 0},    {"friday", TOK_DAY, 0},
    {"saturday", TOK_DAY, 0},
};

// Minutes west of UTC; TOK_DAYZONE means the zone with daylight saving on.
constexpr TWord kZones[] = {
    {"gmt", TOK_ZONE, 0},        {"ut", TOK_ZONE, 0},         {"utc", TOK_ZONE, 0},
    {"cut", TOK_ZONE, 0},        {"z", TOK_ZONE, 0},          {"wet", TOK_ZONE, 0},
    {"bst", TOK_DAYZONE, 0},     {"nst", TOK_ZONE, 210},      {"ndt", TOK_DAYZONE, 210},
    {"ast", TOK_ZONE, 240},      {"adt", TOK_DAYZONE, 240},   {"est", TOK_ZONE, 300},
    {"edt", TOK_DAYZONE, 300},   {"cst", TOK_ZONE, 360},      {"cdt", TOK_DAYZONE, 360},
    {"mst", TOK_ZONE, 420},      {"mdt", TOK_DAYZONE, 420},   {"pst", TOK_ZONE, 480},
    {"pdt", TOK_DAYZONE, 480},   {"yst", TOK_ZONE, 540},      {"ydt", TOK_DAYZONE, 540},
    {"akst", TOK_ZONE, 540},     {"akdt", TOK_DAYZONE, 540},  {"hst", TOK_ZONE, 600},
    {"hast", TOK_ZONE, 600},     {"hadt", TOK_DAYZONE, 600},  {"ces", TOK_DAYZONE, -60},
    {"cest", TOK_DAYZONE, -60},  {"mez", TOK_ZONE, -60},      {"mezt", TOK_DAYZONE, -60},
    {"cet", TOK_ZONE, -60},      {"met", TOK_ZONE, -60},      {"eet", TOK_ZONE, -120},
    {"msk", TOK_ZONE, -180},     {"msd", TOK_DAYZONE, -180},  {"wast", TOK_ZONE, -480},
    {"wadt", TOK_DAYZONE, -480}, {"hkt", TOK_ZONE, -480},     {"cct", TOK_ZONE, -480},
    {"jst", TOK_ZONE, -540},     {"kst", TOK_ZONE, -540},     {"kdt", TOK_ZONE, -540},
    {"cast", TOK_ZONE, -570},    {"cadt", TOK_DAYZONE, -570}, {"east", TOK_ZONE, -600},
    {"eadt", TOK_DAYZONE, -600}, {"nzst", TOK_ZONE, -720},    {"nzdt", TOK_DAYZONE, -720},
};

constexpr TWord kUnits[] = {
    {"year", TOK_MONTH_UNIT, 12}, {"month", TOK_MONTH_UNIT, 1}, {"week", TOK_SEC_UNIT, 604800},
    {"day", TOK_SEC_UNIT, 86400}, {"hour", TOK_SEC_UNIT, 3600}, {"minute", TOK_SEC_UNIT, 60},
    {"min", TOK_SEC_UNIT, 60},    {"second", TOK_SEC_UNIT, 1},  {"sec", TOK_SEC_UNIT, 1},
};

constexpr size_t kMaxWord = 19;
// Numbers saturate here; every use of a number this large fails a range check.
constexpr int64_t kMaxNumber = 999999999999999;

template <size_t N>
const TWord* FindWhole(const TWord (&table)[N], const char* word) {
    for (const TWord& w : table) {
        if (std::strcmp(w.Name, word) == 0) return &w;
    }
    return nullptr;
}

TToken WordToken(const TWord& w) {
    TToken t;
    t.Type = w.Type;
    t.Value = w.Value;
    return t;
}

TToken LookupWord(char* word, size_t len, bool hasDot) {
    const bool abbrev = len == 3 || (len == 4 && word[3] == '.');
    for (const TWord& w : kMonthsDays) {
        if (abbrev ? std::strncmp(w.Name, word, 3) == 0 : std::strcmp(w.Name, word) == 0) {
            return WordToken(w);
        }
    }
    if (const TWord* w = FindWhole(kZones, word)) return WordToken(*w);
    if (const TWord* w = FindWhole(kUnits, word)) return WordToken(*w);
    if (len > 1 && word[len - 1] == 's') {
        word[len - 1] = '\0';
        const TWord* w = FindWhole(kUnits, word);
        word[len - 1] = 's';
        if (w) return WordToken(*w);
    }
    TToken t;
    if (std::strcmp(word, "am") == 0 || std::strcmp(word, "a.m.") == 0) {
        t.Type = TOK_MERIDIAN;
        t.Value = MER_AM;
        return t;
    }
    if (std::strcmp(word, "pm") == 0 || std::strcmp(word, "p.m.") == 0) {
        t.Type = TOK_MERIDIAN;
        t.Value = MER_PM;
        return t;
    }
    if (hasDot) {
        char plain[kMaxWord + 1];
        size_t n = 0;
        for (size_t i = 0; i < len; ++i) {
            if (word[i] != '.') plain[n++] = word[i];
        }
        plain[n] = '\0';
        if (const TWord* w = FindWhole(kZones, plain)) return WordToken(*w);
    }
    t.Type = TOK_ZONE;
    t.Value = 0;
    t.Unknown = true;
    return t;
}

class TLexer {
  public:
    explicit TLexer(const char* text) : P(reinterpret_cast<const unsigned char*>(text)) {}
    TToken Next();

  private:
    TToken Fail() {
        Failed = true;
        TToken t;
        t.Type = TOK_ERROR;
        t.Ch = '?';
        return t;
    }
    bool SkipComment();

    const unsigned char* P;
    bool Failed = false;
};

// P is at "("; leaves P after the matching ")". Never steps over a NUL.
bool TLexer::SkipComment() {
    int depth = 0;
    for (;;) {
        unsigned char c = *P;
        if (c == '\0' || c == '\r' || c >= 0x80) return false;
        ++P;
        if (c == '\\') {
            c = *P;
            if (c == '\0' || c == '\r' || c >= 0x80) return false;
            ++P;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) return true;
        }
    }
}

TToken TLexer::Next() {
    if (Failed) return Fail();
    for (;;) {
        while (IsSpaceAscii(*P)) ++P;
        const unsigned char c = *P;
        TToken t;
        if (c == '\0') return t;  // stays on the NUL: END forever after
        if (c == '(') {
            if (!SkipComment()) return Fail();
            continue;
        }
        if (IsDigitAscii(c) || ((c == '+' || c == '-') && IsDigitAscii(P[1]))) {
            bool negative = false;
            if (!IsDigitAscii(c)) {
                negative = c == '-';
                t.Type = TOK_SNUMBER;
                ++P;
            } else {
                t.Type = TOK_UNUMBER;
            }
            int64_t v = 0;
            int digits = 0;
            for (; IsDigitAscii(*P); ++P) {
                const int d = *P - '0';
                v = v > (kMaxNumber - d) / 10 ? kMaxNumber : v * 10 + d;
                if (digits < 99) ++digits;
            }
            t.Value = negative ? -v : v;
            t.Digits = digits;
            return t;
        }
        if (IsAlphaAscii(c)) {
            char word[kMaxWord + 1];
            size_t len = 0;
            bool hasDot = false;
            for (; IsAlphaAscii(*P) || *P == '.'; ++P) {
                if (*P == '.') hasDot = true;
                if (len < kMaxWord) word[len++] = ToLowerAscii(*P);
            }
            word[len] = '\0';
            return LookupWord(word, len, hasDot);
        }
        ++P;
        t.Type = TOK_CHAR;
        t.Ch = static_cast<char>(c);
        return t;
    }
}

// ---------------------------------------------------------------------------
// Grammar

enum TZoneKind { ZONE_NONE, ZONE_UNKNOWN_WORD, ZONE_GIVEN };

class TParser {
  public:
    explicit TParser(const char* text) : Lex(text) {}
    bool Parse();

    int64_t Year = 0, Month = 0, Day = 0;
    int64_t Hour = 0, Minutes = 0, Seconds = 0;
    TMeridian Meridian = MER_24;
    int64_t Zone = 0;
    TDstMode Dst = DST_MAYBE;
    TZoneKind ZoneKind = ZONE_NONE;
    int64_t RelSeconds = 0, RelMonths = 0;
    int HaveTime = 0, HaveDate = 0, HaveDay = 0, HaveZone = 0;
    bool HaveRel = false;
    bool YearGiven = false;

  private:
    static constexpr int kLookahead = 4;

    const TToken& Peek(int k) {
        while (N <= k) Buf[N++] = Lex.Next();
        return Buf[k];
    }
    TToken Take() {
        Peek(0);
        TToken t = Buf[0];
        for (int i = 1; i < N; ++i) Buf[i - 1] = Buf[i];
        --N;
        return t;
    }
    bool IsChar(int k, char c) {
        const TToken& t = Peek(k);
        return t.Type == TOK_CHAR && t.Ch == c;
    }
    bool IsUnit(int k) {
        const TTokType t = Peek(k).Type;
        return t == TOK_SEC_UNIT || t == TOK_MONTH_UNIT;
    }
    // A number that is not the hour of a following time.
    bool IsYearAt(int k) {
        return Peek(k).Type == TOK_UNUMBER && !IsChar(k + 1, ':') &&
               Peek(k + 1).Type != TOK_MERIDIAN && !IsUnit(k + 1);
    }

    bool Item();
    bool NumberItem();
    bool TimeItem(const TToken& hour);
    bool SlashDate(const TToken& first);
    bool DayMonthDate(const TToken& day);
    bool MonthDate();
    bool BareNumber(const TToken& n);
    bool ZoneItem();
    bool NumericZone(const TToken& n);
    bool Relative(int64_t n, const TToken& unit);

    bool SetTime(int64_t h, int64_t m, int64_t s, TMeridian mer) {
        if (++HaveTime > 1) return false;
        Hour = h;
        Minutes = m;
        Seconds = s;
        Meridian = mer;
        return true;
    }
    bool SetDate(int64_t y, bool yearGiven, int64_t m, int64_t d) {
        if (++HaveDate > 1) return false;
        if (yearGiven) Year = y;
        YearGiven = yearGiven;
        Month = m;
        Day = d;
        return true;
    }
    void SetZone(int64_t west, TDstMode dst, bool unknownWord) {
        ++HaveZone;
        // A real zone wins over a word taken as a zone; the first real one counts.
        if (unknownWord ? ZoneKind != ZONE_NONE : ZoneKind == ZONE_GIVEN) return;
        Zone = west;
        Dst = dst;
        ZoneKind = unknownWord ? ZONE_UNKNOWN_WORD : ZONE_GIVEN;
    }

    TLexer Lex;
    TToken Buf[kLookahead + 2];
    int N = 0;
};

bool TParser::Parse() {
    while (Peek(0).Type != TOK_END) {
        if (!Item()) return false;
    }
    return true;
}

bool TParser::Item() {
    const TToken& t = Peek(0);
    switch (t.Type) {
        case TOK_UNUMBER:
            return NumberItem();
        case TOK_SNUMBER:
            if (IsUnit(1)) {
                const TToken n = Take();
                return Relative(n.Value, Take());
            }
            return NumericZone(Take());
        case TOK_MONTH:
            return MonthDate();
        case TOK_DAY:
            Take();
            if (IsChar(0, ',')) Take();
            ++HaveDay;
            return true;
        case TOK_ZONE:
        case TOK_DAYZONE:
            return ZoneItem();
        case TOK_SEC_UNIT:
        case TOK_MONTH_UNIT:
            return Relative(1, Take());
        case TOK_CHAR:
            // A stray comma (after an unknown weekday word, say) is harmless.
            if (t.Ch == ',') {
                Take();
                return true;
            }
            return false;
        case TOK_MERIDIAN:
        case TOK_ERROR:
        case TOK_END:
            break;
    }
    return false;
}

bool TParser::NumberItem() {
    const TToken n = Take();
    const TToken& a = Peek(0);
    if (IsChar(0, ':')) return TimeItem(n);
    if (a.Type == TOK_MERIDIAN) {
        const TMeridian mer = static_cast<TMeridian>(Take().Value);
        if (n.Digits <= 2) return SetTime(n.Value, 0, 0, mer);
        return SetTime(n.Value / 100, n.Value % 100, 0, mer);
    }
    if (IsChar(0, '/')) return SlashDate(n);
    if (a.Type == TOK_SNUMBER && a.Value < 0 && Peek(1).Type == TOK_SNUMBER && Peek(1).Value < 0) {
        // 2007-05-07; with a short first number, 05-07-2007 as on the slash form.
        const int64_t b = -Take().Value;
        const int64_t c = -Take().Value;
        if (n.Digits >= 3) return SetDate(n.Value, true, b, c);
        return SetDate(c, true, n.Value, b);
    }
    if (a.Type == TOK_MONTH) return DayMonthDate(n);
    if (IsChar(0, '-') && Peek(1).Type == TOK_MONTH) {
        Take();
        return DayMonthDate(n);
    }
    if (IsUnit(0)) return Relative(n.Value, Take());
    return BareNumber(n);
}

bool TParser::TimeItem(const TToken& hour) {
    Take();  // ':'
    if (Peek(0).Type != TOK_UNUMBER) return false;
    const int64_t minutes = Take().Value;
    int64_t seconds = 0;
    if (IsChar(0, ':')) {
        Take();
        if (Peek(0).Type != TOK_UNUMBER) return false;
        seconds = Take().Value;
        // Fractions of a second are dropped.
        if (IsChar(0, '.') && Peek(1).Type == TOK_UNUMBER) {
            Take();
            Take();
        }
    }
    TMeridian mer = MER_24;
    if (Peek(0).Type == TOK_MERIDIAN) {
        mer = static_cast<TMeridian>(Take().Value);
    } else if (Peek(0).Type == TOK_SNUMBER && !IsUnit(1)) {
        if (!NumericZone(Take())) return false;
    }
    return SetTime(hour.Value, minutes, seconds, mer);
}

// +hhmm, -hh, +hh:mm: east of UTC, daylight saving off.
bool TParser::NumericZone(const TToken& n) {
    const bool east = n.Value >= 0;
    const int64_t v = east ? n.Value : -n.Value;
    int64_t hours, minutes;
    if (n.Digits <= 2 && IsChar(0, ':') && Peek(1).Type == TOK_UNUMBER) {
        Take();
        hours = v;
        minutes = Take().Value;
    } else if (n.Digits <= 2) {
        hours = v;
        minutes = 0;
    } else {
        if (v > 9999) return false;
        hours = v / 100;
        minutes = v % 100;
    }
    if (minutes >= 60 || hours > 24) return false;
    const int64_t offset = hours * 60 + minutes;
    SetZone(east ? -offset : offset, DST_OFF, false);
    return true;
}

bool TParser::SlashDate(const TToken& first) {
    Take();  // '/'
    if (Peek(0).Type != TOK_UNUMBER) return false;
    const int64_t second = Take().Value;
    if (IsChar(0, '/') && Peek(1).Type == TOK_UNUMBER) {
        Take();
        const int64_t third = Take().Value;
        if (first.Digits >= 3) return SetDate(first.Value, true, second, third);
        return SetDate(third, true, first.Value, second);
    }
    if (first.Digits >= 3) return false;
    return SetDate(0, false, first.Value, second);
}

// "7 May", "7 May 2007", "07-May-07".
bool TParser::DayMonthDate(const TToken& day) {
    const int64_t month = Take().Value;
    if (IsYearAt(0)) return SetDate(Take().Value, true, month, day.Value);
    if (Peek(0).Type == TOK_SNUMBER && Peek(0).Value < 0 && !IsUnit(1)) {
        return SetDate(-Take().Value, true, month, day.Value);
    }
    return SetDate(0, false, month, day.Value);
}

// "May 7", "May 7, 2007"; a year after "May 7" without comma is left to
// the bare-number rule.
bool TParser::MonthDate() {
    const int64_t month = Take().Value;
    if (!IsYearAt(0)) return false;
    const int64_t day = Take().Value;
    if (IsChar(0, ',') && IsYearAt(1)) {
        Take();
        return SetDate(Take().Value, true, month, day);
    }
    return SetDate(0, false, month, day);
}

// A number on its own: the missing year of a date, a yyyymmdd date, or a
// time as h or hhmm.
bool TParser::BareNumber(const TToken& n) {
    if (HaveDate && !YearGiven && (HaveTime || n.Digits >= 3)) {
        Year = n.Value;
        YearGiven = true;
        return true;
    }
    if (n.Digits > 4) {
        return SetDate(n.Value / 10000, true, n.Value / 100 % 100, n.Value % 100);
    }
    if (n.Digits <= 2) return SetTime(n.Value, 0, 0, MER_24);
    return SetTime(n.Value / 100, n.Value % 100, 0, MER_24);
}

bool TParser::ZoneItem() {
    const TToken z = Take();
    // GMT+0200, UTC-5
    if (z.Type == TOK_ZONE && !z.Unknown && z.Value == 0 && Peek(0).Type == TOK_SNUMBER &&
        !IsUnit(1)) {
        return NumericZone(Take());
    }
    SetZone(z.Value, z.Type == TOK_DAYZONE ? DST_ON : DST_OFF, z.Unknown);
    return true;
}

bool TParser::Relative(int64_t n, const TToken& unit) {
    HaveRel = true;
    int64_t amount;
    if (__builtin_mul_overflow(n, unit.Value, &amount)) return false;
    int64_t& sum = unit.Type == TOK_MONTH_UNIT ? RelMonths : RelSeconds;
    return !__builtin_add_overflow(sum, amount, &sum);
}

// ---------------------------------------------------------------------------
// Calendar and conversion

constexpr int kLeapYears[] = {1972, 1976, 1980, 1984, 1988, 1992, 1996, 2000, 2004,
                              2008, 2012, 2016, 2020, 2024, 2028, 2032, 2036};
constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int64_t kFirstYear = 1970;
constexpr int64_t kLastYear = 2038;

bool IsLeap(int64_t year) {
    for (int y : kLeapYears) {
        if (y == year) return true;
    }
    return false;
}

int64_t LeapYearsBefore(int64_t year) {
    int64_t n = 0;
    for (int y : kLeapYears) n += y < year;
    return n;
}

bool LocalIsDst(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    return localtime_r(&tt, &tm) != nullptr && tm.tm_isdst > 0;
}

// The reference's local broken-down time: its zone, the local DST rules.
bool LocalTime(int64_t t, const TDateReference* ref, struct tm* out) {
    if (ref == nullptr) {
        const time_t tt = static_cast<time_t>(t);
        return localtime_r(&tt, out) != nullptr;
    }
    int64_t local;
    if (__builtin_sub_overflow(t, static_cast<int64_t>(ref->ZoneMinutesWest) * 60, &local)) {
        return false;
    }
    if (LocalIsDst(t)) local += 3600;
    const time_t tt = static_cast<time_t>(local);
    return gmtime_r(&tt, out) != nullptr;
}

// Local standard zone, minutes west, from the current local offset less any
// daylight saving in effect. Cached for the hour.
int LocalZoneMinutesWest(int64_t now) {
    static std::atomic<uint64_t> cache{0};  // hour << 20 | (zone + 2^19)
    constexpr uint64_t kBias = uint64_t{1} << 19;
    const uint64_t hour = now > 0 ? static_cast<uint64_t>(now) / 3600 : 0;
    const uint64_t c = cache.load(std::memory_order_acquire);
    if (c != 0 && (c >> 20) == hour) {
        return static_cast<int>(static_cast<int64_t>(c & 0xFFFFF) - static_cast<int64_t>(kBias));
    }
    const time_t tt = static_cast<time_t>(now);
    struct tm tm;
    int west = 0;
    if (localtime_r(&tt, &tm) != nullptr) {
        west = static_cast<int>(-tm.tm_gmtoff / 60) + (tm.tm_isdst > 0 ? 60 : 0);
    }
    cache.store((hour << 20) | static_cast<uint64_t>(west + static_cast<int64_t>(kBias)),
                std::memory_order_release);
    return west;
}

struct TConvertIn {
    int64_t Month, Day, Year, Hour, Minutes, Seconds;
    TMeridian Meridian;
    TDstMode Dst;
    int64_t Zone;
};

bool Convert(const TConvertIn& in, int64_t* result) {
    int64_t year = in.Year < 0 ? -in.Year : in.Year;
    // Two- and three-digit years only; a written-out 1938 stays 1938.
    if (year <= 130) {
        year += 1900;
        if (year < kFirstYear) year += 100;
    }
    if (year < kFirstYear || year > kLastYear) return false;
    if (in.Month < 1 || in.Month > 12) return false;
    const int64_t monthLen = kMonthDays[in.Month - 1] + (in.Month == 2 && IsLeap(year));
    if (in.Day < 1 || in.Day > monthLen) return false;

    if (in.Minutes < 0 || in.Minutes > 59 || in.Seconds < 0 || in.Seconds > 61) return false;
    int64_t hour = in.Hour;
    switch (in.Meridian) {
        case MER_24:
            if (hour < 0 || hour > 23) return false;
            break;
        case MER_AM:
        case MER_PM:
            if (hour < 1 || hour > 12) return false;
            if (hour == 12) hour = 0;
            if (in.Meridian == MER_PM) hour += 12;
            break;
    }
    const int64_t tod = (hour * 60 + in.Minutes) * 60 + in.Seconds;

    int64_t days = in.Day + 365 * year - 719051 + LeapYearsBefore(year);
    for (int64_t m = 1; m < in.Month; ++m) days += kMonthDays[m - 1] + (m == 2 && IsLeap(year));

    int64_t t = days * 86400 + tod + in.Zone * 60;
    if (in.Dst == DST_ON || (in.Dst == DST_MAYBE && LocalIsDst(t))) t -= 3600;
    *result = t;
    return true;
}

// Seconds to add to start to move it by months whole months, keeping the
// local time of day across a daylight-saving change.
bool RelativeMonth(int64_t start, int64_t months, const TDateReference* ref, int localZone,
                   int64_t* delta) {
    *delta = 0;
    if (months == 0) return true;
    struct tm tm;
    if (!LocalTime(start, ref, &tm)) return false;
    int64_t m;
    if (__builtin_add_overflow(12 * (static_cast<int64_t>(tm.tm_year) + 1900) + tm.tm_mon, months,
                               &m) ||
        m < 0) {
        return false;
    }
    const TConvertIn in{m % 12 + 1, tm.tm_mday, m / 12,    tm.tm_hour, tm.tm_min,
                        tm.tm_sec,  MER_24,     DST_MAYBE, localZone};
    int64_t future;
    if (!Convert(in, &future)) return false;
    struct tm fm;
    if (!LocalTime(future, ref, &fm)) return false;
    const int64_t startHour = (tm.tm_hour + 1) % 24;
    const int64_t futureHour = (fm.tm_hour + 1) % 24;
    *delta = (future - start) + (startHour - futureHour) * 3600;
    return true;
}

}  // namespace

int64_t ParseDate(const char* text, const TDateReference* ref) {
    if (text == nullptr) return -1;
    TParser p(text);
    if (!p.Parse()) return -1;

    const int64_t now = ref ? ref->Now : static_cast<int64_t>(std::time(nullptr));
    const int localZone = ref ? ref->ZoneMinutesWest : LocalZoneMinutesWest(now);
    if (p.ZoneKind == ZONE_NONE) {
        p.Zone = localZone;
        p.Dst = DST_MAYBE;
    }

    int64_t start;
    if (p.HaveDate || p.HaveTime) {
        TConvertIn in{p.Month,   p.Day,      p.Year, p.Hour, p.Minutes,
                      p.Seconds, p.Meridian, p.Dst,  p.Zone};
        if (!p.HaveDate || !p.YearGiven) {
            // The missing parts of the date are today's.
            struct tm tm;
            if (!LocalTime(now, ref, &tm)) return -1;
            in.Year = static_cast<int64_t>(tm.tm_year) + 1900;
            if (!p.HaveDate) {
                in.Month = tm.tm_mon + 1;
                in.Day = tm.tm_mday;
            }
        }
        if (!Convert(in, &start)) return -1;
    } else {
        start = now;
        if (!p.HaveRel) {
            struct tm tm;
            if (!LocalTime(now, ref, &tm)) return -1;
            start -= (tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec;
        }
    }

    if (__builtin_add_overflow(start, p.RelSeconds, &start)) return -1;
    int64_t delta;
    if (!RelativeMonth(start, p.RelMonths, ref, localZone, &delta)) return -1;
    if (__builtin_add_overflow(start, delta, &start)) return -1;
    return start == -1 ? 0 : start;
}

}  // namespace zorvex
