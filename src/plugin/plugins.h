// plugins: what the plug-in libraries are told during a run, and the one
// thing they decide, a veto over a header. TPlugInHost loads the libraries
// and implements this; without it nothing is loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "nntp/records.h"

namespace zorvex {

class TPlugIns {
  public:
    virtual ~TPlugIns() = default;
    // The connection to the server was made, or closed.
    virtual void Connect(std::string_view host) = 0;
    virtual void Disconnect(std::string_view host) = 0;
    // The client entered a group.
    virtual void NewGroup(const TNewsGroup& group) = 0;
    // Asked for each header the list, dupe and mask checks accepted, before
    // the hand-marked and line-count checks; true when a plug-in rejects it.
    virtual bool HeaderVetoed(const THeader& header) = 0;
    // The server starts sending an article.
    virtual void MessageReady(std::string_view messageId) = 0;
    virtual void HeaderLine(std::string_view line) = 0;
    // A body line while no file is decoded, and one while a file is.
    virtual void TextLine(std::string_view line) = 0;
    virtual void CodeLine(std::string_view line) = 0;
    // A uu/xx/yEnc file: its path when opened, its decoded bytes, and its
    // length when closed (0 when none was open).
    virtual void File(std::string_view path) = 0;
    virtual void FileBuffer(const uint8_t* bytes, size_t length) = 0;
    virtual void FileDone(int64_t length) = 0;
};

class TNoPlugInsLoaded : public TPlugIns {
  public:
    void Connect(std::string_view) override {}
    void Disconnect(std::string_view) override {}
    void NewGroup(const TNewsGroup&) override {}
    bool HeaderVetoed(const THeader&) override { return false; }
    void MessageReady(std::string_view) override {}
    void HeaderLine(std::string_view) override {}
    void TextLine(std::string_view) override {}
    void CodeLine(std::string_view) override {}
    void File(std::string_view) override {}
    void FileBuffer(const uint8_t*, size_t) override {}
    void FileDone(int64_t) override {}
    static TNoPlugInsLoaded& Instance() {
        static TNoPlugInsLoaded none;
        return none;
    }
};

}  // namespace zorvex
