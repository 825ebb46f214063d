#pragma once

#include <unistd.h>

#include <optional>

#include "cli/output.h"
#include "core/base/progress.h"

namespace zentrowe::cli {

// SIGINT, SIGTERM and SIGHUP stop a long pass the way the window's cancel button does: the
// handler only sets a flag, the pass polls it through this sink, returns Cancelled and removes
// its temporary file, and the command exits 128 + the signal's number. A second signal of the
// same kind ends the program at once.
class SignalStop final : public ProgressSink {
public:
    // Installs the handlers; `shown` (if any) gets every advance().
    explicit SignalStop(ProgressSink* shown = nullptr);
    void advance(std::int64_t done, std::int64_t total) override;
    bool stopRequested() const override;
    void beginStage(ProgressStage stage) override;

    // The signal that arrived, if one did.
    static std::optional<int> received();
    // 128 + the signal's number, with a sentence on stderr; nothing if no signal arrived.
    static std::optional<int> exitCodeIfStopped(const char* outcome = "no file was left half-written");

private:
    ProgressSink* m_shown;
};

// Runs `pass(sink)` with a sink that stops on those signals and, when stderr is a terminal (a
// person is watching), also shows the pass's progress, counted in `unit`s after `verb`.
template <typename Pass>
auto runStoppable(const char* verb, const char* unit, Pass pass)
{
    if (::isatty(STDERR_FILENO) != 0) {
        TerminalProgress shown(verb, unit);
        SignalStop stop(&shown);
        return pass(stop);
    }
    SignalStop stop;
    return pass(stop);
}

}  // namespace zentrowe::cli
