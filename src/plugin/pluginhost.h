// pluginhost: the plug-in libraries named in the settings, loaded once at
// start-up and called, most recently loaded first, with what the run sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugins.h"
#include "zorvex/plugin.h"

namespace zorvex {

// A library that cannot be used is shown in a box: its caption and text.
using TPlugInErrorBox = std::function<void(const std::string& caption, const std::string& text)>;

class TPlugInHost final : public TPlugIns {
  public:
    TPlugInHost() = default;
    // Shuts down what is still loaded.
    ~TPlugInHost() override;
    TPlugInHost(const TPlugInHost&) = delete;
    TPlugInHost& operator=(const TPlugInHost&) = delete;

    // Loads each name that is not empty, in order; a name without '/' is
    // looked for in homeDir first, then by the system's search. A library
    // that cannot be loaded is shown and skipped; one without
    // PlugInInitialize is shown and used all the same.
    void Load(const std::vector<std::string>& names, const std::string& homeDir,
              const TPlugInErrorBox& box);
    // PlugInInitialize of each, once all are loaded.
    void Initialize();
    // PlugInShutdown of each, then each is unloaded; later calls reach none.
    void Shutdown();

    size_t Count() const { return List.size(); }
    // The paths the libraries were loaded from, in calling order.
    std::vector<std::string> LoadedPaths() const;

    // host as the settings give it; the libraries get PlugInHostName(host).
    void Connect(std::string_view host) override;
    void Disconnect(std::string_view host) override;
    void NewGroup(const TNewsGroup& group) override;
    bool HeaderVetoed(const THeader& header) override;
    void MessageReady(std::string_view messageId) override;
    void HeaderLine(std::string_view line) override;
    void TextLine(std::string_view line) override;
    void CodeLine(std::string_view line) override;
    void File(std::string_view path) override;
    void FileBuffer(const uint8_t* bytes, size_t length) override;
    void FileDone(int64_t length) override;

  private:
    struct TPlugIn {
        void* Handle = nullptr;
        std::string Path;
        TPlugInInitialize Initialize = nullptr;
        TPlugInShutdown Shutdown = nullptr;
        TPlugInConnect Connect = nullptr;
        TPlugInDisconnect Disconnect = nullptr;
        TPlugInNewGroup NewGroup = nullptr;
        TPlugInHeader Header = nullptr;
        TPlugInFile File = nullptr;
        TPlugInTextLine TextLine = nullptr;
        TPlugInCodeLine CodeLine = nullptr;
        TPlugInHeaderLine HeaderLine = nullptr;
        TPlugInFileDone FileDone = nullptr;
        TPlugInMsgReady MsgReady = nullptr;
        TPlugInFileBuffer FileBuffer = nullptr;
    };

    void LoadOne(const std::string& name, const std::string& homeDir, const TPlugInErrorBox& box);
    // The text as a C string for the call (lines arrive without a NUL).
    const char* CText(std::string_view text);
    // Calls fn(entry) of each library that has the entry, in order.
    template <typename F, typename... A>
    void Tell(F TPlugIn::*entry, A... args) {
        for (const TPlugIn& p : List)
            if (F fn = p.*entry) fn(args...);
    }

    std::vector<TPlugIn> List;  // the most recently loaded first
    std::string Text;
};

// The server's name as plug-ins are told it: the [connection] host without
// its port, and an IPv6 literal without its brackets.
std::string_view PlugInHostName(std::string_view host);

// Why a library could not be loaded, as the box says it: "File not found",
// "Path not found" or "LoadLibrary() error %ld" with the loader's reason.
// path is what was loaded; reason is the loader's text.
std::string PlugInLoadError(const std::string& path, const std::string& reason);

}  // namespace zorvex
