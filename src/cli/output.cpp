#include "cli/output.h"

#include <algorithm>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/base/file_error.h"
#include "core/base/time_left.h"

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
    const std::string shown = escapeControlBytes(message);
    std::fprintf(stderr, "zentrowe-cli: %s\n", shown.c_str());
}

void reportWarning(std::string_view message)
{
    const std::string shown = escapeControlBytes(message);
    std::fprintf(stderr, "zentrowe-cli: warning: %s\n", shown.c_str());
}

CLI::Option* addTrackOption(CLI::App& command, std::string& digits)
{
    return command
        .add_option("--track", digits,
                    "track number, from 1; N:C takes only MIDI channel C (1-16) of it; build takes several: 4,2")
        ->required()
        ->check(CLI::Validator(
            [](std::string& value) {
                const bool allDigits = !value.empty() && value.find_first_not_of("0123456789:,") == std::string::npos;
                return allDigits ? std::string() : "a track number is written in digits";
            },
            ""))
        ->type_name("N");
}

std::optional<std::vector<song::TrackPart>> readTrackParts(const song::SongSummary& song, const std::string& typed,
                                                           const std::string& fileName, int& exitCode)
{
    auto parts = song::parseTrackParts(song, typed, fileName);
    if (!parts) {
        reportError(parts.error().message);
        exitCode = parts.error().code == ErrorCode::InvalidSetting ? kExitUsage : kExitBadInput;
        return std::nullopt;
    }
    return std::move(parts).value();
}

bool refuseEmpty(const std::string& value, const char* option)
{
    if (!value.empty()) {
        return false;
    }
    std::fprintf(stderr, "zentrowe-cli: %s needs a value that is not empty\n", option);
    return true;
}

TerminalProgress::~TerminalProgress()
{
    if (m_shown) {
        std::fputc('\n', stderr);
    }
}

void TerminalProgress::advance(std::int64_t done, std::int64_t total)
{
    const long long percent = total > 0 ? static_cast<long long>(done * 100 / total) : 100;
    std::string line = m_verb + " " + std::to_string(done) + " of " + std::to_string(total) + " " + m_unit + " (" +
                       std::to_string(percent) + "%)";
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_stageStart;
    if (const auto left = secondsLeft(elapsed.count(), done, total); left && done < total) {
        line += ", " + durationText(*left) + " left";
    }
    const std::size_t length = line.size();
    line.resize(std::max(length, m_shownLength), ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    m_shownLength = length;
    m_shown = true;
}

void TerminalProgress::beginStage(ProgressStage stage)
{
    if (m_shown) {
        std::fputc('\n', stderr);
        m_shown = false;
    }
    m_stageStart = std::chrono::steady_clock::now();
    m_shownLength = 0;
    switch (stage) {
    case ProgressStage::Converting:
        m_verb = "converting";
        m_unit = "note starts and ends";
        break;
    case ProgressStage::Rendering:
        m_verb = "rendering and encoding";
        m_unit = "sound files";
        break;
    case ProgressStage::Previewing:
        m_verb = "mixing the preview from";
        m_unit = "keysound files";
        break;
    case ProgressStage::Mixing:
        m_verb = "mixing";
        m_unit = "keysound files";
        break;
    }
}

}  // namespace zentrowe::cli
