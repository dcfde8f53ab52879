#include "app/catalogrun.h"

#include "app/messages.h"
#include "app/settings.h"
#include "app/view.h"
#include "library/profile.h"

namespace zorvex {

TCatalogRun::TCatalogRun(TStatusSink& status, TNewsView& view, TPictureKeyring& keyring)
    : Status(status), View(view), Keyring(keyring) {}

TCatalogRun::~TCatalogRun() {
    if (Loop) Loop->Detach(this);
}

void TCatalogRun::Start(TEventLoop& loop, TMessageTarget& mainWindow, TCatalogRunSetup setup) {
    Cancel();
    Loop = &loop;
    Main = &mainWindow;
    Setup = std::move(setup);
    Index = 0;
    Pages.clear();
}

bool TCatalogRun::NextGroup() {
    Current.reset();
    while (Loop) {
        if (Index >= Setup.Groups.size() || (Setup.OneDirectory && Index > 0)) {
            Finish();
            return false;
        }
        const TCatalogGroup& group = Setup.Groups[Index++];
        std::vector<TCatalogPicture> pictures = ListCatalogPictures(group.Directory);
        if (pictures.empty()) continue;

        TProfile profile;
        if (!profile.Load(Setup.SettingsPath))
            Status.PrintStatus("Cannot read " + Setup.SettingsPath +
                               ": the catalog takes the default settings");
        TCatalogSettings settings;
        settings.Read(profile, Setup.SystemFont);
        Status.PrintStatus("Generating Catalogs: " + group.Name);
        TCatalogOwner& owner = *this;
        Current = std::make_unique<TCatalog>(settings, std::move(pictures), group.Directory, 1,
                                             owner, Keyring, Setup.Key, std::time(nullptr));
        Loop->Post(this, MSG_CELL, 0, 0);
        return true;
    }
    return false;
}

void TCatalogRun::OnMessage(const TMessage& msg) {
    if (msg.Msg != MSG_CELL || !Current || !Loop) return;
    if (Current->Step()) {
        Loop->Post(this, MSG_CELL, 0, 0);
        return;
    }
    Current.reset();
    Loop->Post(Main, MSG_CATALOG_NEXT_STEP, 0, 0);
}

void TCatalogRun::Cancel() {
    if (Current) Current->Cancel();
    Current.reset();
    Finish();
}

void TCatalogRun::Finish() {
    if (Loop) Loop->Detach(this);
    Loop = nullptr;
}

void TCatalogRun::PageStarted(const std::string& file, int, int) {
    View.CatalogPageStarted(file);
}

void TCatalogRun::PageWritten(const std::string& file) {
    Pages.push_back(file);
}

void TCatalogRun::PictureFailed(const std::string&, const std::string& message) {
    Status.PrintStatus(message);
}

void TCatalogRun::Problem(const std::string& message) {
    Status.PrintStatus(message);
}

bool TCatalogRun::AskKey(const std::string& path, std::string* key) {
    return View.AskText("Encryption Key Required!", "The key for " + path, SETTINGS_NAME_MAX, key);
}

}  // namespace zorvex
