// catalogrun: the catalogs of every group's download directory, one group
// after the other. Each catalog draws one cell per posted message, so the
// loop goes on serving the window (and Exit) between cells; when a group's
// catalog is finished the main window gets message 1142 and asks for the
// next group.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "image/catalog.h"
#include "image/source.h"
#include "library/eventloop.h"
#include "library/logfont.h"
#include "library/statussink.h"

namespace zorvex {

class TNewsView;

// One group's directory, as the download puts its files.
struct TCatalogGroup {
    std::string Name;
    std::string Directory;  // ends with '/'
};

// What every group's catalog is made with.
struct TCatalogRunSetup {
    std::vector<TCatalogGroup> Groups;
    // All groups share the download directory: only the first is catalogued.
    bool OneDirectory = false;
    std::string SettingsPath;  // [catalog] is read from here for each group
    TLogFont SystemFont;
    std::string Key;  // tried first on enciphered pictures
};

class TCatalogRun final : public TMessageTarget, private TCatalogOwner {
  public:
    // The cell step message, delivered to this object only.
    static constexpr uint32_t MSG_CELL = 1;

    TCatalogRun(TStatusSink& status, TNewsView& view, TPictureKeyring& keyring);
    ~TCatalogRun() override;

    // A new run from the first group; mainWindow gets message 1142 when a
    // group's catalog is finished.
    void Start(TEventLoop& loop, TMessageTarget& mainWindow, TCatalogRunSetup setup);
    // Begins the next group that has pictures; false when the run is over.
    bool NextGroup();
    // Stops the catalog being drawn; the run is over.
    void Cancel();
    bool Running() const { return Loop != nullptr; }
    // The pages written since the run started.
    const std::vector<std::string>& PagesWritten() const { return Pages; }

    void OnMessage(const TMessage& msg) override;

  private:
    void PageStarted(const std::string& file, int page, int total) override;
    void PageWritten(const std::string& file) override;
    void PictureFailed(const std::string& path, const std::string& message) override;
    void Problem(const std::string& message) override;
    bool AskKey(const std::string& path, std::string* key) override;
    void Finish();

    TStatusSink& Status;
    TNewsView& View;
    TPictureKeyring& Keyring;
    TEventLoop* Loop = nullptr;
    TMessageTarget* Main = nullptr;
    TCatalogRunSetup Setup;
    size_t Index = 0;
    std::unique_ptr<TCatalog> Current;
    std::vector<std::string> Pages;
};

}  // namespace zorvex
