// TNews: the main object of a download run. The NNTP client asks it for
// every decision and hands it every article line; it passes the lines to
// the article-to-file driver and prints what the client reports. The
// window side is a TNewsView, so the same object serves the desktop
// program and the headless one.
#pragma once

#include <string>

#include "app/settings.h"
#include "decode/driver.h"
#include "nntp/newsio.h"

namespace zorvex {

class TStatusLog;
class TNewsView;

class TNews : public TNewsIo {
  public:
    TNews(TSettingsStore& settings, TStatusLog& log, TNewsView& view,
          TArticleChecks& checks = TAcceptEverything::Instance(),
          TDecodeObservers& observers = TNoPlugInsNoPreview::Instance(),
          TNewsStore& store = TNewsStore::Global());
    ~TNews() override;

    void Log(const char* text) override;
    void OnArticleFollows() override;
    void HeaderLine(const char* line, int length) override;
    void OnArticleHeaderEnd() override;
    void BodyLine(const char* line, int length) override;
    void OnArticleEnd() override;

    // Feeds every line of a text file through the driver as an article of
    // the first group; false (with a message) when it cannot be read.
    bool DecodeFile(const std::string& path);

    TArticleDriver& Driver() { return FileDriver; }
    TSettingsStore& SettingsStore() { return Settings; }

  private:
    void RunAutosave();

    TSettingsStore& Settings;
    TStatusLog& Status;
    TNewsView& View;
    TArticleDriver FileDriver;
    TAutosave Autosave;
    // The header a decoded text file is filed under; it outlives the file's
    // entries in the received list.
    THeader FileHeader{};
};

}  // namespace zorvex
