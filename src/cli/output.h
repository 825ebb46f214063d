#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "core/base/progress.h"

namespace zentrowe::cli {

// Writes to stdout through one large buffer: listings can run to millions of lines.
class Output {
public:
    Output();
    ~Output();
    void write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }
    void put(char c) { std::fputc(c, stdout); }
    // False if anything failed to reach stdout (a full disk, a closed pipe).
    bool finish();
    // finish() as an exit code, saying so on stderr when the output was lost.
    int finishWithExitCode();
};

// "\r<verb> N of M <unit> (P%), M:SS left" on stderr, rewritten in place, ended by a line break
// once shown; commands use it only when stderr is a terminal, where a person is watching. A pass
// of several stages gets a line per stage, each named after it, its time left at its own rate.
class TerminalProgress final : public ProgressSink {
public:
    TerminalProgress(std::string verb, std::string unit) : m_verb(std::move(verb)), m_unit(std::move(unit)) { }
    ~TerminalProgress() override;
    void advance(std::int64_t done, std::int64_t total) override;
    void beginStage(ProgressStage stage) override;

private:
    std::string m_verb;
    std::string m_unit;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_stageStart = std::chrono::steady_clock::now();
    std::size_t m_shownLength = 0;  // of the line last shown, so that a shorter one covers it
};

// One plain sentence on stderr.

void reportError(std::string_view message);
void reportWarning(std::string_view message);

}  // namespace zentrowe::cli
