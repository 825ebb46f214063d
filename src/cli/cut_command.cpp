#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "core/base/file_io.h"
#include "core/convert/settings.h"
#include "core/keysound/wav_cutter.h"
#include "core/keysound/keysound_cuts.h"
#include "core/song/song_summary.h"

namespace zentrowe::cli {

namespace {

constexpr std::string_view kKeysoundMidiName = "K-Midi.mid";

// Keysound i is the i-th "#WAVxx name" line of the chart, in file order; its stem is the name
// without the final ".OGG" the chart writer adds.
Result<std::vector<std::string>> keysoundStemsOf(const std::filesystem::path& chart)
{
    auto bytes = readWholeFile(chart);
    if (!bytes) {
        return bytes.error();
    }
    const std::string text(bytes->begin(), bytes->end());
    std::vector<std::string> stems;
    std::size_t lineNumber = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("#WAV", 0) != 0) {
            continue;
        }
        if (line.size() < 8 || line[6] != ' ') {
            return Error{ErrorCode::InvalidSetting, displayPath(chart) + ": line " + std::to_string(lineNumber) +
                                                        " is not a \"#WAVxx name\" definition"};
        }
        std::string stem = line.substr(7);
        if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".OGG") == 0) {
            stem.resize(stem.size() - 4);
        }
        stems.push_back(std::move(stem));
    }
    return stems;
}

bool isDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A stem is prefix + note + "-" + units + "-" + velocity; the note, known from the keysound
// file, tells where the prefix ends even when the prefix itself ends in digits.
Result<std::string> renamedStem(const std::string& stem, std::uint8_t note, const std::string& prefix)
{
    const auto refuse = [&] {
        return Error{ErrorCode::InvalidSetting, "--name: keysound \"" + stem + "\" does not end in " +
                                                    std::to_string(note) +
                                                    "-<length>-<velocity>, so its prefix cannot be replaced"};
    };
    const auto lastDash = stem.rfind('-');
    if (lastDash == std::string::npos || lastDash == 0 || !isDigits(std::string_view(stem).substr(lastDash + 1))) {
        return refuse();
    }
    const auto unitsDash = stem.rfind('-', lastDash - 1);
    if (unitsDash == std::string::npos ||
        !isDigits(std::string_view(stem).substr(unitsDash + 1, lastDash - unitsDash - 1))) {
        return refuse();
    }
    const std::string noteText = std::to_string(note);
    if (unitsDash < noteText.size() || stem.compare(unitsDash - noteText.size(), noteText.size(), noteText) != 0) {
        return refuse();
    }
    return prefix + stem.substr(unitsDash - noteText.size());
}

// A line on stderr rewritten in place; only when a person is watching.
class TerminalProgress final : public ProgressSink {
public:
    void advance(std::int64_t done, std::int64_t total) override
    {
        std::fprintf(stderr, "\rcut %lld of %lld keysounds", static_cast<long long>(done), static_cast<long long>(total));
        m_shown = true;
    }
    ~TerminalProgress() override
    {
        if (m_shown) {
            std::fputc('\n', stderr);
        }
    }

private:
    bool m_shown = false;
};

}  // namespace

Command addCutCommand(CLI::App& app)
{
    struct Options {
        std::string recording;
        std::string chart;
        std::string name;
        std::string leadIn = "auto";
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("cut", "Cut a rendering of K-Midi.mid into one WAV file per keysound");
    auto* sub = command.app;
    sub->add_option("RECORDING", options->recording, "WAV rendering of K-Midi.mid")->required();
    sub->add_option("--chart", options->chart, "the chart written with K-Midi.mid; files go beside it")->required();
    // An empty name is a valid keysound name, so "--name=" must parse.
    sub->add_option("--name", options->name, "new keysound name, the prefix of every keysound file")
        ->expected(0, 1)
        ->default_str("");
    sub->add_option("--lead-in", options->leadIn,
                    "where the recording starts: first-note, file-start (time 0 of K-Midi.mid) or auto")
        ->check(CLI::IsMember({"auto", "first-note", "file-start"}));

    command.run = [options, sub] {
        const bool renaming = sub->count("--name") > 0;
        if (renaming) {
            convert::SettingsTexts texts;
            texts.keysoundName = options->name;
            if (auto checked = convert::parseSettings(texts); !checked) {
                reportError("--name: " + checked.error().message);
                return kExitBadInput;
            }
        }
        const std::filesystem::path chart = options->chart;
        const std::filesystem::path folder = chart.has_parent_path() ? chart.parent_path() : ".";
        auto stems = keysoundStemsOf(chart);
        if (!stems) {
            reportError(stems.error().message);
            return kExitBadInput;
        }

        // The gap the keysound file was written with is the time of its first Note On.
        const auto keysoundMidi = folder / kKeysoundMidiName;
        auto bytes = readWholeFile(keysoundMidi);
        if (!bytes) {
            reportError(bytes.error().message);
            return kExitBadInput;
        }
        NullProgress quiet;
        auto song = song::summarizeSong(*bytes, displayPath(keysoundMidi), quiet);
        if (!song) {
            reportError(song.error().message);
            return kExitBadInput;
        }
        const std::int64_t gapTicks = song->firstNoteTime.value_or(0);

        keysound::CutRequest request;
        request.recording = options->recording;
        request.outputFolder = folder;
        request.cuts = keysound::collectKeysoundCuts(*bytes, *song, 1, gapTicks);
        request.ticksPerQuarter = song->ticksPerQuarter;
        request.tempoMicros = song->tempoMicros;
        request.gapTicks = gapTicks;
        request.leadIn = options->leadIn == "first-note"   ? keysound::LeadIn::FirstNote
                         : options->leadIn == "file-start" ? keysound::LeadIn::FileStart
                                                           : keysound::LeadIn::Auto;
        request.keysoundStems = std::move(stems).value();
        if (renaming) {
            for (std::size_t i = 0; i < request.keysoundStems.size() && i < request.cuts.size(); ++i) {
                auto renamed = renamedStem(request.keysoundStems[i], request.cuts[i].note, options->name);
                if (!renamed) {
                    reportError(renamed.error().message);
                    return kExitBadInput;
                }
                request.keysoundStems[i] = std::move(renamed).value();
            }
        }

        auto report = [&] {
            if (::isatty(STDERR_FILENO) != 0) {
                TerminalProgress shown;
                return keysound::cutRecording(request, shown);
            }
            return keysound::cutRecording(request, quiet);
        }();
        if (!report) {
            reportError(report.error().message);
            return kExitBadInput;
        }
        for (const auto& warning : report->warnings) {
            reportWarning(warning);
        }
        std::fprintf(stderr, "lead-in: %s\n",
                     report->leadInUsed == keysound::LeadIn::FileStart ? "file start" : "first note");
        Output out;
        for (const auto& written : report->written) {
            out.write("wrote " + displayPath(written) + "\n");
        }
        out.write(std::to_string(report->written.size()) + " keysounds cut\n");
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli
