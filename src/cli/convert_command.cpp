#include <algorithm>
#include <array>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/output.h"
#include "core/base/file_error.h"
#include "core/song/song_summary.h"
#include "core/workflow/conversion.h"
#include "core/workflow/session_state.h"

namespace zentrowe::cli {

namespace {

std::string optionName(convert::SettingsField field)
{
    switch (field) {
    case convert::SettingsField::StartCode: return "--start-code";
    case convert::SettingsField::KeysoundName: return "--name";
    case convert::SettingsField::LongNoteMinimum: return "--long-min";
    case convert::SettingsField::Tempo: return "--bpm";
    case convert::SettingsField::Gap: return "--gap";
    }
    return "";
}

// A track number the window could pass: the digits are checked by the option's validator, a
// value too large for any song is simply out of range.
int trackNumberFrom(const std::string& digits)
{
    const auto significant = digits.find_first_not_of('0');
    if (significant == std::string::npos) {
        return 0;
    }
    if (digits.size() - significant > 6) {
        return 1000000;
    }
    return std::stoi(digits.substr(significant));
}

// The output folder as command-line users expect it: made (with its parents) when missing;
// WriteFailed if it cannot be made or something other than a folder has its name.
Status makeOutputFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    const auto status = std::filesystem::status(folder, error);
    if (std::filesystem::exists(status)) {
        if (std::filesystem::is_directory(status)) {
            return {};
        }
        return fileError(ErrorCode::WriteFailed, folder, "write into it", "it is not a folder");
    }
    std::filesystem::create_directories(folder, error);
    if (error) {
        return fileError(ErrorCode::WriteFailed, folder, "create the folder", error.value());
    }
    return {};
}

}  // namespace

Command addConvertCommand(CLI::App& app)
{
    struct Options {
        std::string file;
        std::string track;
        std::string out;
        std::string mode = "plain";
        convert::SettingsTexts texts;
        std::string bpm;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("convert", "Convert one track into a BMS chart and K-Midi.mid");
    auto* sub = command.app;
    sub->add_option("FILE", options->file, "MIDI file")->required();
    sub->add_option("--track", options->track, "track number, from 1")
        ->required()
        ->check(CLI::Validator(
            [](std::string& value) {
                const bool digits = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
                    return c >= '0' && c <= '9';
                });
                return digits ? std::string() : "a track number is written in digits";
            },
            "DIGITS"));
    sub->add_option("--out", options->out, "output folder")->required();
    sub->add_option("--mode", options->mode, "plain, long or percussion")
        ->check(CLI::IsMember({"plain", "long", "percussion"}));
    sub->add_option("--start-code", options->texts.startCode, "code before the first keysound's, two base-36 characters");
    sub->add_option("--name", options->texts.keysoundName, "keysound name, the prefix of every keysound file");
    sub->add_option("--long-min", options->texts.longNoteMinimum, "shortest long note, in 1/192 of a measure");
    sub->add_option("--bpm", options->bpm, "tempo of K-Midi.mid in beats per minute (default: the song's)");
    sub->add_option("--gap", options->texts.gap, "silence before each keysound in K-Midi.mid, in ticks (96 a beat)");

    command.run = [options, sub] {
        convert::SettingsTexts texts = options->texts;
        texts.longNotes = options->mode == "long";
        texts.percussion = options->mode == "percussion";
        texts.useCustomTempo = sub->count("--bpm") > 0;
        if (texts.useCustomTempo) {
            texts.tempo = options->bpm;
        }
        auto settings = convert::parseSettings(texts);
        if (!settings) {
            const auto field = convert::firstInvalidField(texts);
            reportError((field ? optionName(*field) + ": " : std::string()) + settings.error().message);
            return kExitBadInput;
        }

        NullProgress quiet;
        auto summary = song::readSongSummary(options->file, quiet);
        if (!summary) {
            reportError(summary.error().message);
            return kExitBadInput;
        }
        if (summary->warning) {
            reportWarning(*summary->warning);
        }
        if (auto folder = makeOutputFolder(options->out); !folder) {
            reportError(folder.error().message);
            return kExitBadInput;
        }
        workflow::SongState state;
        state.outputFolder = options->out;
        workflow::openSong(state, options->file, std::move(summary).value());
        const auto request =
            workflow::conversionRequest(state, trackNumberFrom(options->track), std::move(settings).value());
        const auto outcome = workflow::runConversion(request, quiet);
        if (!outcome) {
            reportError(outcome.error().message);
            return kExitBadInput;
        }
        Output out;
        out.write("wrote " + displayPath(outcome->chartPath) + "\n");
        out.write("wrote " + displayPath(outcome->keysoundMidiPath) + "\n");
        out.write(std::to_string(outcome->keysounds.size()) + " keysounds\n");
        return out.finishWithExitCode();
    };
    return command;
}

}  // namespace zentrowe::cli
