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
    } else {
        if (UseXover())
            RequestRange("xover", TNewsState::XOVER);
        else
            RequestRange("xhdr subject", TNewsState::XHDR_SUBJECT);
        ExpectCount(static_cast<long>(RangeLast - RangeFirst + 1));
    }
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
    if (State == TNewsState::XHDR_SUBJECT) ++SubjectLines;
    if (CurGroup) {
        if (State == TNewsState::XOVER)
            Headers.AddOverviewLine(CurGroup, line);
        else
            Headers.AddFieldLine(CurGroup, static_cast<THeaderField>(State), line);
    }
    ++LineCount;
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
                CrossPostStep();
            else
                RequestRange("xover", TNewsState::XOVER);
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
