// The article walk: which group comes next, the cursor over a group's
// sorted headers, the poster's chain and the request of each article.
#include <algorithm>
#include <cstring>

#include "nntp/newsio.h"

namespace zorvex {

void TNewsIo::StartGroupWalk() {
    if ((State == TNewsState::ALL_DONE || State == TNewsState::LOGGED_ON) && Socket->IsConnected())
        SelectNextGroup();
}

void TNewsIo::SelectGroup(int index) {
    TNewsGroup* g = Headers.GetGroup(index);
    if (!g) return;
    CurGroup = g;
    SendCommand("group %s", g->Name);
}

void TNewsIo::ClearDoneFlags() {
    for (int i = 0; i < Headers.GroupCount(); ++i) Headers.GetGroup(i)->Done = 0;
}

void TNewsIo::ChangeGroupTable(const std::function<void()>& change) {
    const char* current = CurGroup ? CurGroup->Name : nullptr;
    const char* announced = LastAnnouncedGroup ? LastAnnouncedGroup->Name : nullptr;
    // Records move: a resume noted for a group could point at another one.
    ResumeAfter = nullptr;
    ResumeGroup = nullptr;
    TNewsGroup* next = Headers.GetGroup(NextGroupOverride);
    const char* nextName = next ? next->Name : nullptr;
    change();
    CurGroup = current ? Headers.FindGroup(current) : nullptr;
    LastAnnouncedGroup = announced ? Headers.FindGroup(announced) : nullptr;
    next = nextName ? Headers.FindGroup(nextName) : nullptr;
    NextGroupOverride = next ? Headers.IndexOf(next) : -1;
}

void TNewsIo::SelectNextGroup() {
    if (StopFlag) {
        AllGroupsDone();
        return;
    }
    int count = Headers.GroupCount();
    int start;
    if (NextGroupOverride >= 0 && NextGroupOverride < count) {
        start = NextGroupOverride;
        NextGroupOverride = -1;
    } else {
        start = Headers.IndexOf(CurGroup);
        if (start < 0) start = 0;
    }
    for (int i = 0; i < count; ++i) {
        TNewsGroup* g = Headers.GetGroup((start + i) % count);
        // A group whose rest the store cannot hold waits for the next start.
        bool qualifies = g->Enabled && (!g->Done || (g->Pointer != g->Last && g->Last >= g->First &&
                                                     g->FirstUnstored == 0));
        if (qualifies) {
            CurGroup = g;
            SendCommand("group %s", g->Name);
            return;
        }
    }
    AllGroupsDone();
}

void TNewsIo::SortAndWalk() {
    TNewsGroup* g = CurGroup;
    if (g->FirstUnstored != 0 && !g->CapReported) {
        g->CapReported = 1;
        LogF("Too many headers in %s: articles from #%lld on are not stored and wait for the "
             "next start",
             g->Name, static_cast<long long>(g->FirstUnstored));
    }
    LogF("Sorting %d headers", g->NumHeaders);
    Headers.SortHeaders(g);
    WalkCursor = g->SortedHead;
    while (WalkCursor && WalkCursor->Number < g->Pointer) WalkCursor = WalkCursor->NumberNext;
    g->Done = 1;
    FollowPosterFlag = false;
    if (ResumeAfter && ResumeGroup == g) {
        CurMsg = ResumeAfter;
        FollowPosterFlag = true;
    }
    ResumeAfter = nullptr;
    ResumeGroup = nullptr;
    State = TNewsState::ARTICLES;
    ChooseNextArticle();
}

void TNewsIo::AdvanceCursor() {
    while (WalkCursor && CheckHeader(WalkCursor)) {
        if (WalkCursor->Number > CurGroup->Pointer) CurGroup->Pointer = WalkCursor->Number;
        WalkCursor = WalkCursor->NumberNext;
    }
}

void TNewsIo::ChooseNextArticle() {
    if (!Socket->IsConnected() || !CurGroup) return;
    if (TerminateGroupFlag) {
        LogF("Terminating group %s by user request", CurGroup->Name);
        TerminateGroupFlag = false;
        CurMsg = nullptr;
        AdvanceCursor();
        SelectNextGroup();
        return;
    }
    THeader* candidate = nullptr;
    THeader* follow = FollowPosterFlag ? FollowTarget(CurMsg) : nullptr;
    if (follow && !(follow->Flags & HEADER_HANDLED)) {
        candidate = follow;
    } else {
        CurMsg = nullptr;
        AdvanceCursor();
        candidate = WalkCursor;
        if (FollowPoster() && WalkCursor) {
            while (candidate->PosterPrev && !CheckHeader(candidate->PosterPrev))
                candidate = candidate->PosterPrev;
        }
    }
    CurMsg = candidate;
    if (candidate) {
        candidate->Flags |= HEADER_HANDLED | HEADER_REQUESTED;
        RequestArticle();
    } else {
        LogF("Finished with group %s", CurGroup->Name);
        CurGroup->Pointer = WalkEnd(CurGroup);
        SelectNextGroup();
    }
}

TArticleNo TNewsIo::WalkEnd(const TNewsGroup* group) {
    // Articles the store could not hold were never seen: the pointer stays
    // below them.
    if (group->FirstUnstored == 0) return group->Last;
    return std::max(group->Pointer, std::min(group->Last, group->FirstUnstored - 1));
}

THeader* TNewsIo::FollowTarget(const THeader* header) {
    if (!header) return nullptr;
    // A post's next part, past copies of this one; a subject without a part
    // counter can only say the poster's next article.
    if (TNewsStore::PartOf(header).Found) return TNewsStore::NextPartOfPost(header);
    return header->PosterNext;
}

bool TNewsIo::SkipRepeatedPart(THeader* header) {
    if ((header->Flags & HEADER_HANDLED) || !TNewsStore::RepeatsHandledPart(header)) return false;
    header->Flags |= HEADER_HANDLED | HEADER_REQUESTED;
    LogF("Article #%lld repeats a part already dealt with: skipped",
         static_cast<long long>(header->Number));
    return true;
}

bool TNewsIo::CheckHeader(THeader* header) {
    if (header->Flags & HEADER_HANDLED) return true;
    if (SkipRepeatedPart(header)) return true;
    return CheckMarkAndLines(header);
}

bool TNewsIo::CheckMarkAndLines(THeader* header) {
    if (header->Flags & HEADER_MARKED_REJECT) RejectMarked(header);
    int minLines = MinLines();
    int maxLines = MaxLines();
    if (header->Lines > 0 && minLines >= 0 && header->Lines < minLines) RejectTooSmall(header);
    if (header->Lines > 0 && maxLines >= 0 && header->Lines > maxLines) RejectTooLong(header);
    return (header->Flags & HEADER_HANDLED) != 0;
}

void TNewsIo::RequestArticle() {
    if (!CurMsg) return;
    LogF("Asking for message #%lld", static_cast<long long>(CurMsg->Number));
    SendCommand("article %lld", static_cast<long long>(CurMsg->Number));
}

void TNewsIo::OnArticleFollows() {
    if (!CurMsg) {
        UnexpectedArticle();
        // Its lines must not be read as responses.
        MultiLine = true;
        DiscardResponse = true;
        return;
    }
    const char* p = LastResponseText;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    while (*p == ' ' || *p == '\t') ++p;
    size_t len = std::strcspn(p, " \t");
    if (len > sizeof MessageIdText - 2) len = sizeof MessageIdText - 2;
    std::memcpy(MessageIdText, p, len);
    MessageIdText[len] = '\0';
    LogF("Subject: %s", CurMsg->Subject ? CurMsg->Subject : Headers.Null());
    LogF("From: %s", CurMsg->Poster ? CurMsg->Poster : Headers.Null());
    LineCount = 0;
    State = TNewsState::ARTICLES;
    MultiLine = true;
    InBody = false;
}

void TNewsIo::ArticleDataLine(char* line, int length) {
    if (InBody) {
        ++LineCount;
        BodyLine(line, length);
    } else if (length > 0) {
        HeaderLine(line, length);
    } else {
        InBody = true;
        OnArticleHeaderEnd();
    }
}

// ---- commands ----

void TNewsIo::JumpToGroup(int index) {
    NextGroupOverride = index;
    TerminateGroupFlag = true;
}

void TNewsIo::StopAfterArticle(bool exitAfter) {
    TerminateGroupFlag = true;
    StopFlag = true;
    if (exitAfter) ExitAfterStopFlag = true;
}

bool TNewsIo::TakeStopRequest() {
    bool exitAfter = ExitAfterStopFlag;
    StopFlag = false;
    ExitAfterStopFlag = false;
    return exitAfter;
}

}  // namespace zorvex
