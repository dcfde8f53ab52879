// urlgrabber: where the lines of received articles go to have their web
// addresses collected ([misc] enablehttpgrabber). The grabber implements
// this; without it no address is collected.
#pragma once

#include <string_view>

namespace zorvex {

class TUrlGrabber {
  public:
    virtual ~TUrlGrabber() = default;
    virtual void Line(std::string_view line) = 0;
};

class TUrlsNotCollected final : public TUrlGrabber {
  public:
    void Line(std::string_view) override {}
    static TUrlsNotCollected& Instance() {
        static TUrlsNotCollected none;
        return none;
    }
};

}  // namespace zorvex
