#include "core/workflow/cut_plan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/file_reading.h"
#include "core/base/folder_lock.h"
#include "core/convert/keysound_name.h"
#include "core/convert/keysound_table.h"
#include "core/keysound/keysound_cuts.h"
#include "core/song/song_summary.h"

namespace zentrowe::workflow {

namespace {

// The longest "#WAVxx name" line kept: far beyond any stem a file system takes (255 bytes).
constexpr std::size_t kLongestDefinition = 4096;

// Keysound i is the i-th "#WAVxx name" line of the chart, in file order; its stem is the name
// without the final ".OGG" the chart writer adds. The chart is read in blocks and only its
// "#WAV" lines are kept, so a chart of any size costs little memory; a NUL byte means the file
// is no chart (a huge sparse file is refused after its first block).
Result<std::vector<std::string>> keysoundStemsOf(const std::filesystem::path& chart)
{
    auto opened = openRegularFile(chart);
    if (!opened) {
        return opened.error();
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{opened->fd};
    std::vector<std::string> stems;
    std::size_t lineNumber = 1;
    std::string line;  // the start of the current line, up to kLongestDefinition bytes
    bool lineTooLong = false;
    const auto finishLine = [&]() -> Status {
        std::string_view text = line;
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        if (text.starts_with("#WAV")) {
            if (lineTooLong || text.size() < 8 || text[6] != ' ') {
                return Error{ErrorCode::InvalidSetting, displayPath(chart) + ": line " + std::to_string(lineNumber) +
                                                            " is not a \"#WAVxx name\" definition"}
                    .inFile(displayPath(chart))
                    .about("wavLine")
                    .withNumber(static_cast<std::int64_t>(lineNumber));
            }
            std::string_view stem = text.substr(7);
            if (stem.ends_with(".OGG")) {
                stem.remove_suffix(4);
            }
            stems.emplace_back(stem);
        }
        line.clear();
        lineTooLong = false;
        ++lineNumber;
        return {};
    };
    std::vector<char> block(1 << 16);
    for (;;) {
        const ssize_t got = ::read(opened->fd, block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return fileError(ErrorCode::CannotOpen, chart, "read", errno);
        }
        if (got == 0) {
            break;
        }
        const std::string_view text(block.data(), static_cast<std::size_t>(got));
        if (text.find('\0') != std::string_view::npos) {
            return Error{ErrorCode::InvalidSetting, displayPath(chart) + ": not a chart (it holds NUL bytes)"};
        }
        for (std::size_t pos = 0; pos < text.size();) {
            const std::size_t newline = text.find('\n', pos);
            const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
            const std::size_t room = kLongestDefinition - line.size();
            line.append(text.substr(pos, std::min(end - pos, room)));
            lineTooLong = lineTooLong || end - pos > room;
            if (newline == std::string_view::npos) {
                break;
            }
            if (auto done = finishLine(); !done) {
                return done.error();
            }
            pos = newline + 1;
        }
    }
    if (!line.empty()) {
        if (auto done = finishLine(); !done) {
            return done.error();
        }
    }
    return stems;
}

bool isDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A stem is name + note + "-" + length + "-" + velocity; the note, known from the keysound
// file, tells where the name ends even when the name itself ends in digits.
Result<std::string> renamedStem(const std::string& stem, std::uint8_t note, const std::string& name)
{
    const auto refuse = [&] {
        return Error{ErrorCode::InvalidSetting, "keysound \"" + stem + "\" does not end in " + std::to_string(note) +
                                                    "-<length>-<velocity>, so its keysound name cannot be replaced"}
            .about("stemEnding")
            .withValue(stem)
            .withNumber(note);
    };
    const std::string_view text = stem;
    const auto lastDash = text.rfind('-');
    if (lastDash == std::string_view::npos || lastDash == 0 || !isDigits(text.substr(lastDash + 1))) {
        return refuse();
    }
    const auto lengthDash = text.rfind('-', lastDash - 1);
    if (lengthDash == std::string_view::npos || !isDigits(text.substr(lengthDash + 1, lastDash - lengthDash - 1))) {
        return refuse();
    }
    const std::string noteText = std::to_string(note);
    if (!text.substr(0, lengthDash).ends_with(noteText)) {
        return refuse();
    }
    return name + stem.substr(lengthDash - noteText.size());
}

// The chart's stems, and where each keysound lies from reading "K-Midi.mid" beside it back.
Status planFromChart(const std::filesystem::path& chart, const std::optional<std::string>& name,
                     keysound::CutRequest& request)
{
    auto stems = keysoundStemsOf(chart);
    if (!stems) {
        return stems.error();
    }
    const auto keysoundMidi = request.outputFolder / kKeysoundMidiFileName;
    auto bytes = song::readSongFile(keysoundMidi);
    if (!bytes) {
        return bytes.error();
    }
    NullProgress quiet;
    auto song = song::summarizeSong(bytes->bytes(), displayPath(keysoundMidi), quiet);
    if (!song) {
        return song.error();
    }
    // The gap the keysound file was written with is the time of its first Note On.
    request.gapTicks = song->firstNoteTime.value_or(0);
    request.cuts = keysound::collectKeysoundCuts(bytes->bytes(), *song, 1, request.gapTicks);
    if (request.cuts.empty()) {
        return Error{ErrorCode::EmptyTrack,
                     displayPath(keysoundMidi) + ": holds no keysounds, so there is nothing to cut"};
    }
    request.ticksPerQuarter = song->ticksPerQuarter;
    request.tempoMicros = song->tempoMicros;
    request.keysoundStems = std::move(stems).value();
    if (name) {
        for (std::size_t i = 0; i < request.keysoundStems.size() && i < request.cuts.size(); ++i) {
            auto renamed = renamedStem(request.keysoundStems[i], request.cuts[i].note, *name);
            if (!renamed) {
                Error error = renamed.error();
                error.message = displayPath(chart) + ": " + error.message;
                return std::move(error).inFile(displayPath(chart));
            }
            request.keysoundStems[i] = std::move(renamed).value();
        }
    }
    return {};
}

// The stems the conversion's chart defines (or with the new name), and the read-back it made.
void planFromConversion(const ConversionOutcome& outcome, const std::optional<std::string>& name,
                        keysound::CutRequest& request)
{
    const std::string& prefix = name ? *name : outcome.keysoundName;
    request.keysoundStems.reserve(outcome.keysounds.size());
    for (const auto& entry : outcome.keysounds.entries()) {
        request.keysoundStems.push_back(convert::keysoundStem(prefix, entry, outcome.sourceTicksPerMeasure));
    }
    request.cuts = outcome.cuts;
    request.ticksPerQuarter = outcome.keysoundSong.ticksPerQuarter;
    request.tempoMicros = outcome.keysoundSong.tempoMicros;
    request.gapTicks = outcome.gapTicks;
}

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

}  // namespace

Result<keysound::CutRequest> planCut(const CutPlanRequest& request)
{
    if (request.keysoundName) {
        if (auto named = convert::checkKeysoundName(*request.keysoundName); !named) {
            return named.error();
        }
    }
    keysound::CutRequest cut;
    cut.recording = request.recording;
    cut.leadIn = request.leadIn;
    if (const auto* chart = std::get_if<std::filesystem::path>(&request.source)) {
        cut.outputFolder = folderOf(*chart);
        cut.protectedFiles = {*chart, cut.outputFolder / kKeysoundMidiFileName};
        if (auto planned = planFromChart(*chart, request.keysoundName, cut); !planned) {
            return planned.error();
        }
    } else {
        const ConversionOutcome& outcome = std::get<std::reference_wrapper<const ConversionOutcome>>(request.source);
        cut.outputFolder = folderOf(outcome.chartPath);
        cut.protectedFiles = {outcome.chartPath, outcome.keysoundMidiPath};
        planFromConversion(outcome, request.keysoundName, cut);
    }
    if (request.outputFolder) {
        cut.outputFolder = *request.outputFolder;
    }
    return cut;
}

Result<keysound::CutReport> cutKeysounds(const CutPlanRequest& request, ProgressSink& progress)
{
    auto cut = planCut(request);
    if (!cut) {
        return cut.error();
    }
    const auto lock = FolderLock::acquire(cut->outputFolder);
    if (!lock) {
        return lock.error();
    }
    return keysound::cutRecording(*cut, progress);
}

}  // namespace zentrowe::workflow
