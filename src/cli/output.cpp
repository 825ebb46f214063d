#include "cli/output.h"

#include <vector>

#include "cli/commands.h"

namespace zentrowe::cli {

namespace {

std::vector<char>& stdoutBuffer()
{
    static std::vector<char> buffer(1 << 20);
    return buffer;
}

}  // namespace

Output::Output()
{
    std::setvbuf(stdout, stdoutBuffer().data(), _IOFBF, stdoutBuffer().size());
}

Output::~Output()
{
    std::fflush(stdout);
}

bool Output::finish()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int Output::finishWithExitCode()
{
    if (finish()) {
        return kExitDone;
    }
    reportError("cannot write to standard output");
    return kExitBadInput;
}

void reportError(std::string_view message)
{
    std::fprintf(stderr, "zentrowe-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

void reportWarning(std::string_view message)
{
    std::fprintf(stderr, "zentrowe-cli: warning: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace zentrowe::cli
