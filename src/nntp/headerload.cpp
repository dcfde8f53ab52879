// Header loading: the group response, the XHDR or XOVER steps over the
// new range and the hand-over to the walk once the headers are stored.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "library/ascii.h"
#include "library/strman.h"
#include "nntp/newsio.h"

namespace zorvex {

namespace {

bool HasEntries(TStringManager* list) {
    return list && list->Count() > 0;
}

// One article number of a response line; the server's digits are clamped
// and a negative number reads as 0.
bool ReadArticleNumber(const char** text, TArticleNo* value) {
    std::string_view rest(*text);
    TArticleNo v = 0;
    if (!ReadClampedDecimal(&rest, &v)) return false;
    *value = v < 0 ? 0 : v;
    *text = rest.data();
    return true;
}

// The store makes records while a group holds HEADER_CAP or fewer, so it
// keeps one more than the cap.
constexpr TArticleNo STORED_PER_GROUP = static_cast<TArticleNo>(HEADER_CAP) + 1;

}  // namespace

void TNewsIo::OnGroupSelected() {
    // code, count, first, last, name
    TArticleNo numbers[4] = {};
    const char* p = LastResponseText;
    int fields = 0;
    while (fields < 4 && ReadArticleNumber(&p, &numbers[fields])) ++fields;
    char name[256] = {};
    while (*p == ' ' || *p == '\t') ++p;
    size_t nameLen = std::min(std::strcspn(p, " \t"), sizeof name - 1);
    std::memcpy(name, p, nameLen);
    if (fields == 4 && nameLen > 0) fields = 5;
    TArticleNo first = numbers[2], last = numbers[3];
    LogF("News server selected group: %s", name);
    if (!CurGroup) {
        Log("Group selected that was not asked for");
        return;
    }
    if (fields < 4) {
        LogF("Unreadable group response for %s", CurGroup->Name);
        return;
    }
    if (fields == 5 && !EqualsIgnoringCase(name, CurGroup->Name) &&
        !EqualsIgnoringCase(name, "group")) {
        LogF("Wrong group -- expected %s", CurGroup->Name);
        return;
    }
    CurGroup->First = first;
    CurGroup->Last = last;
    if ((first != 0 || last != 0) && last >= first) {
        if (!CurGroup->HeaderHash) Headers.CreateHash(CurGroup);
        if (CurGroup != LastAnnouncedGroup) {
            LastAnnouncedGroup = CurGroup;
            GroupChanged();
        }
        RequestHeaderRange();
    } else {
        CurGroup->Pointer = last;
        CurGroup->Done = 1;
        Log("Group is empty");
        SelectNextGroup();
    }
}

void TNewsIo::RequestHeaderRange() {
    TNewsGroup* g = CurGroup;
    SubjectLines = 0;
    if (g->Pointer < g->First) g->Pointer = g->First - 1;
    if (g->Last < g->Pointer) g->Pointer = g->First - 1;  // the server renumbered
    RangeFirst = std::max(g->HighestLoaded + 1, g->Pointer + 1);
    RangeLast = g->Last;
    if (g->Pointer >= g->Last) {
        LogF("Already seen all messages: %s", g->Name);
        g->Done = 1;
        SelectNextGroup();
    } else if (g->Last < RangeFirst) {
        Log("No new headers to load in this group");
        SortAndWalk();
    } else if (!PassOverOldest(g)) {
        SortAndWalk();  // the store is full: nothing new fits
    } else {
        if (UseXover())
            RequestRange("xover", TNewsState::XOVER);
        else
            RequestRange("xhdr subject", TNewsState::XHDR_SUBJECT);
        ExpectCount(static_cast<long>(RangeLast - RangeFirst + 1));
    }
}

bool TNewsIo::PassOverOldest(TNewsGroup* g) {
    TArticleNo room = STORED_PER_GROUP - g->NumHeaders;
    if (room < 0) room = 0;
    if (RangeLast - RangeFirst + 1 <= room) return true;
    if (g->NumHeaders == 0) {
        // Loading a whole large group only to keep its oldest end would take
        // hours, and servers have mostly expired that end anyway. The
        // pointer stays: the walk's end moves it to the group's last article.
        TArticleNo newest = RangeLast - room + 1;
        LogF("%s: %lld older articles passed over, loading the newest %lld", g->Name,
             static_cast<long long>(newest - RangeFirst), static_cast<long long>(room));
        RangeFirst = newest;
        return true;
    }
    // The store already holds this group's earlier headers: the new articles
    // that do not fit are not passed over for good. The walk keeps the
    // pointer below them, so a later start of the program loads them.
    const TArticleNo waiting = RangeFirst + room;
    if (g->FirstUnstored == 0 || waiting < g->FirstUnstored) g->FirstUnstored = waiting;
    g->CapReported = 1;
    LogF("%s: the store is full; articles from #%lld on wait for the next start", g->Name,
         static_cast<long long>(waiting));
    if (room == 0) return false;
    RangeLast = waiting - 1;
    return true;
}

void TNewsIo::RequestRange(const char* command, TNewsState state) {
    State = state;
    SendCommand("%s %lld-%lld", command, static_cast<long long>(RangeFirst),
                static_cast<long long>(RangeLast));
    LineCount = 0;
}

void TNewsIo::CrossPostStep() {
    int maxXref = MaxXref();
    if (LoadXrefHeaders() &&
        ((maxXref >= 1 && maxXref <= 99) || HasEntries(Headers.AllGroup().XrefList) ||
         HasEntries(CurGroup->XrefList))) {
        RequestRange("xhdr xref", TNewsState::XHDR_XREF);
    } else {
        PostingHostStep();
    }
}

void TNewsIo::PostingHostStep() {
    if (LoadPostingHostHeaders() &&
        (HasEntries(Headers.AllGroup().HostList) || HasEntries(CurGroup->HostList))) {
        RequestRange("xhdr nntp-posting-host", TNewsState::XHDR_HOST);
    } else {
        SortAndWalk();
    }
}

void TNewsIo::HeaderDataLine(char* line) {
    switch (State) {
        case TNewsState::LINES_CAPABILITIES: {
            std::string_view words = TrimSpaces(line);
            if (EqualsIgnoringCase(words.substr(0, words.find_first_of(" \t")), "HDR"))
                ProbeFound = true;
            return;
        }
        case TNewsState::LINES_OVERVIEW_FMT:
            if (EqualsIgnoringCase(TrimSpaces(line), ":lines")) ProbeFound = true;
            return;
        case TNewsState::XHDR_SUBJECT:
            ++SubjectLines;
            break;
        default:
            break;
    }
    if (CurGroup) {
        if (State == TNewsState::XOVER)
            Headers.AddOverviewLine(CurGroup, line);
        else if (State == TNewsState::META_LINES)
            Headers.AddFieldLine(CurGroup, FIELD_LINES, line);
        else
            Headers.AddFieldLine(CurGroup, static_cast<THeaderField>(State), line);
    }
    ++LineCount;
}

bool TNewsIo::FindUncountedSpan(TArticleNo* first, TArticleNo* last) const {
    const TNewsGroup* g = CurGroup;
    if (!g || !g->HeaderHash) return false;
    TArticleNo low = 0, high = 0;
    for (int b = 0; b < HEADERHASH_COUNT; ++b) {
        for (const THeader* h = g->HeaderHash[b]; h; h = h->HashNext) {
            if (h->Lines > 0 || h->Number < RangeFirst || h->Number > RangeLast) continue;
            if (low == 0 || h->Number < low) low = h->Number;
            if (h->Number > high) high = h->Number;
        }
    }
    *first = low;
    *last = high;
    return low != 0;
}

// Posts without a "Lines:" header (every modern uploader's) get no answer to
// "xhdr lines"; the server's :lines metadata counts them all the same.
void TNewsIo::LineCountStep() {
    // One request over the span from the first to the last article without
    // a count: a request per article or per gap costs a round trip each,
    // and a count asked again for an article between them only costs a line.
    if (!FindUncountedSpan(&MetaFirst, &MetaLast)) {
        CrossPostStep();
        return;
    }
    switch (MetaLines) {
        case TMetaLines::UNASKED:
            // CAPABILITIES first: a server that knows it says HDR; an older
            // one may still list :lines in its overview format for XHDR.
            ProbeFound = false;
            State = TNewsState::LINES_CAPABILITIES;
            SendCommand("CAPABILITIES");
            break;
        case TMetaLines::HDR:
        case TMetaLines::XHDR:
            RequestMetaLines();
            break;
        case TMetaLines::NONE:
            CrossPostStep();
            break;
    }
}

void TNewsIo::LineProbeEnded() {
    if (State == TNewsState::LINES_CAPABILITIES && ProbeFound) {
        MetaLines = TMetaLines::HDR;
    } else if (State == TNewsState::LINES_CAPABILITIES &&
               std::strncmp(LastResponseText, "101", 3) != 0) {
        // Refused: a server from before CAPABILITIES; its overview format
        // may still name the metadata.
        ProbeFound = false;
        State = TNewsState::LINES_OVERVIEW_FMT;
        SendCommand("LIST OVERVIEW.FMT");
        return;
    } else if (State == TNewsState::LINES_OVERVIEW_FMT && ProbeFound) {
        MetaLines = TMetaLines::XHDR;
    } else {
        MetaLines = TMetaLines::NONE;
    }
    if (MetaLines == TMetaLines::NONE) {
        Log("The server gives no line counts: articles without a Lines header pass the size "
            "limits");
        CrossPostStep();
        return;
    }
    RequestMetaLines();
}

void TNewsIo::RequestMetaLines() {
    State = TNewsState::META_LINES;
    SendCommand("%s :lines %lld-%lld", MetaLines == TMetaLines::HDR ? "HDR" : "XHDR",
                static_cast<long long>(MetaFirst), static_cast<long long>(MetaLast));
    LineCount = 0;
}

void TNewsIo::HeaderStepEnded() {
    switch (State) {
        case TNewsState::XHDR_SUBJECT:
            RequestRange("xhdr from", TNewsState::XHDR_FROM);
            ExpectCount(SubjectLines);
            break;
        case TNewsState::XHDR_FROM:
            RequestRange("xhdr date", TNewsState::XHDR_DATE);
            break;
        case TNewsState::XHDR_DATE:
            RequestRange("xhdr lines", TNewsState::XHDR_LINES);
            break;
        case TNewsState::XHDR_LINES:
            // A server without XHDR support gets asked for the overview.
            if (SubjectLines > 0)
                LineCountStep();
            else
                RequestRange("xover", TNewsState::XOVER);
            break;
        case TNewsState::LINES_CAPABILITIES:
        case TNewsState::LINES_OVERVIEW_FMT:
            LineProbeEnded();
            break;
        case TNewsState::META_LINES:
            // Refused though offered: not asked again on this connection.
            if (LastResponseText[0] != '2') {
                MetaLines = TMetaLines::NONE;
                Log("The server refused its line counts: articles without a Lines header pass "
                    "the size limits");
            }
            CrossPostStep();
            break;
        case TNewsState::XOVER:
            CrossPostStep();
            break;
        case TNewsState::XHDR_XREF:
            PostingHostStep();
            break;
        case TNewsState::XHDR_HOST:
            SortAndWalk();
            break;
        default:
            break;
    }
}

}  // namespace zorvex
