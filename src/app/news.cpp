#include "app/news.h"

#include <cstdio>
#include <fstream>

#include "app/statuslog.h"
#include "app/strings.h"
#include "app/view.h"

namespace zorvex {

namespace {
constexpr const char* DECODE_FILE_POSTER = "fubar";
}

TNews::TNews(TSettingsStore& settings, TStatusLog& log, TNewsView& view, TArticleChecks& checks,
             TDecodeObservers& observers, TNewsStore& store)
    : TNewsIo(store),
      Settings(settings),
      Status(log),
      View(view),
      FileDriver(settings, log, view, checks, observers) {}

TNews::~TNews() = default;

void TNews::Log(const char* text) {
    Status.PrintStatus(text);
}

void TNews::OnArticleFollows() {
    TNewsIo::OnArticleFollows();
    if (!CurMsg) return;
    FileDriver.ArticleStart(CurGroup, CurMsg, MessageId());
    RunAutosave();
}

void TNews::RunAutosave() {
    unsigned due = Autosave.Count(Settings.Settings());
    if (due & TAutosave::DUE_POINTERS) {
        Status.PrintStatusString(STR_AUTOSAVE_POINTERS);
        Settings.SaveWithSet(SAVE_GROUP_LIST);
    }
    if (due & TAutosave::DUE_EVERYTHING) {
        Status.PrintStatusString(STR_AUTOSAVE_EVERYTHING);
        Settings.SaveWithSet(Settings.DefaultSaveSet());
    }
}

void TNews::HeaderLine(const char* line, int length) {
    FileDriver.HeaderLine(std::string_view(line, static_cast<size_t>(length)));
}

void TNews::OnArticleHeaderEnd() {
    FileDriver.HeaderEnd();
}

void TNews::BodyLine(const char* line, int length) {
    FileDriver.BodyLine(std::string_view(line, static_cast<size_t>(length)), LineCount);
}

void TNews::OnArticleEnd() {
    FollowPosterFlag = FileDriver.ArticleEnd() ? 1 : 0;
    ChooseNextArticle();
}

bool TNews::DecodeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        View.MessageBox("Unable to open file", "Decode File", BOX_OK);
        return false;
    }
    TNewsStore& store = Store();
    const TNewsGroup* group = store.GroupCount() > 0 ? store.GetGroup(0) : &store.AllGroup();
    FileHeader = THeader{};
    FileHeader.Subject = store.Intern(DECODE_FILE_POSTER);
    FileHeader.Poster = FileHeader.Subject;
    FileHeader.CrossPosts = store.Null();
    FileHeader.PostingHost = store.Null();
    FileDriver.ArticleStart(group, &FileHeader, NO_MESSAGE_ID);
    FileDriver.HeaderEnd();
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        FileDriver.BodyLine(line, ++count);
    }
    // The file ends like an article: whatever is still open is finished.
    FileDriver.ArticleEnd();
    return true;
}

}  // namespace zorvex
