// Where engine units print a status line without depending on the window
// or on the logging unit that owns the status list.
#pragma once

#include <string_view>

namespace zorvex {

class TStatusSink {
  public:
    virtual ~TStatusSink() = default;
    virtual void PrintStatus(std::string_view text) = 0;
};

}  // namespace zorvex
