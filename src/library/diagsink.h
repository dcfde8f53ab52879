// Where the engine's diagnostic lines go ("state", "DATA" tags). The
// diagnostic log file itself belongs to the logging unit; until a program
// installs it, diagnostics are discarded.
#pragma once

namespace zorvex {

class TDiagnosticSink {
  public:
    virtual ~TDiagnosticSink() = default;
    // False lets callers skip formatting lines nobody keeps.
    virtual bool Enabled() const = 0;
    virtual void Write(const char* tag, const char* text) = 0;
};

class TDiagnosticsDiscarded final : public TDiagnosticSink {
  public:
    bool Enabled() const override { return false; }
    void Write(const char*, const char*) override {}
    static TDiagnosticsDiscarded& Instance() {
        static TDiagnosticsDiscarded sink;
        return sink;
    }
};

}  // namespace zorvex
