// plugins: what the plug-in libraries are told while an article is chosen
// and received, and the one thing they decide, a veto over a header. The
// host that loads the libraries implements this; without it nothing is
// loaded.
#pragma once

#include <string_view>

#include "nntp/records.h"

namespace zorvex {

class TPlugInChecks {
  public:
    virtual ~TPlugInChecks() = default;
    // Asked for each header still accepted; true when a plug-in rejects it.
    virtual bool HeaderVetoed(const THeader& header) = 0;
    // The server starts sending an article.
    virtual void MessageReady(std::string_view messageId) = 0;
    virtual void HeaderLine(std::string_view line) = 0;
    // A body line while no file is decoded, and one while a file is.
    virtual void TextLine(std::string_view line) = 0;
    virtual void CodeLine(std::string_view line) = 0;
};

class TNoPlugInsLoaded final : public TPlugInChecks {
  public:
    bool HeaderVetoed(const THeader&) override { return false; }
    void MessageReady(std::string_view) override {}
    void HeaderLine(std::string_view) override {}
    void TextLine(std::string_view) override {}
    void CodeLine(std::string_view) override {}
    static TNoPlugInsLoaded& Instance() {
        static TNoPlugInsLoaded none;
        return none;
    }
};

}  // namespace zorvex
