#pragma once

#include <cstdio>
#include <string_view>

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

// One plain sentence on stderr.
void reportError(std::string_view message);
void reportWarning(std::string_view message);

}  // namespace zentrowe::cli
