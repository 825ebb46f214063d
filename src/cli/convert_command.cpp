#include <algorithm>
#include <array>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "core/workflow/conversion.h"
#include "core/workflow/session_state.h"

namespace zentrowe::cli {

std::string settingOption(convert::SettingsField field)
{
    switch (field) {
    case convert::SettingsField::StartCode: return "--start-code";
    case convert::SettingsField::KeysoundName: return "--name";
    case convert::SettingsField::LongNoteMinimum: return "--long-min";
    case convert::SettingsField::Tempo: return "--bpm";
    case convert::SettingsField::Gap: return "--gap";
    case convert::SettingsField::VelocityStep: return "--velocity-step";
    case convert::SettingsField::LengthStep: return "--length-step";
    }
    return "";
}

void addLimitOptions(CLI::App& command, convert::SettingsTexts& texts)
{
    command
        .add_option_function<std::string>(
            "--codes", [&texts](const std::string& base) { texts.base62 = base == "62"; },
            "36 (codes up to ZZ) or 62 (codes up to zz, with a #BASE 62 line)")
        ->check(CLI::IsMember({"36", "62"}));
    command.add_option("--velocity-step", texts.velocityStep,
                       "velocities rounded to the nearest multiple of N before keysounds are told apart (1: off)");
    command.add_option("--length-step", texts.lengthStep,
                       "lengths rounded to the nearest U units of 1/192 measure before keysounds are told apart");
}

void reportMerging(const convert::ConversionSettings& settings, const convert::KeysoundTable& keysounds)
{
    if (settings.merge.active()) {
        std::cerr << "zentrowe-cli: merging saved " << keysounds.mergedAway() << " keysounds ("
                  << keysounds.size() + keysounds.mergedAway() << " became " << keysounds.size() << ")\n";
    }
}

Command addConvertCommand(CLI::App& app)
{
    struct Options {
        std::string file;
        std::string track;
        std::string out;
        std::string mode = "plain";
        std::string chartFormat = "bms";
        convert::SettingsTexts texts;
        std::string bpm;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("convert", "Convert one track into a BMS chart and K-Midi.mid");
    auto* sub = command.app;
    sub->add_option("FILE", options->file, "MIDI file")->required();
    addTrackOption(*sub, options->track);
    sub->add_option("--out", options->out, "output folder")->required();
    sub->add_option("--mode", options->mode, "plain, long or percussion")
        ->check(CLI::IsMember({"plain", "long", "percussion"}));
    sub->add_option("--chart-format", options->chartFormat, "bms, or bmson: exact times, no code or measure limit")
        ->check(CLI::IsMember({"bms", "bmson"}));
    sub->add_option("--start-code", options->texts.startCode, "code before the first keysound's, two characters in the codes' base");
    // An empty name is a valid keysound name: "--name=" and "--name ''" both give it.
    sub->add_option("--name", options->texts.keysoundName, "keysound name, the prefix of every keysound file")
        ->expected(0, 1)
        ->default_str("");
    sub->add_option("--long-min", options->texts.longNoteMinimum, "shortest long note, in 1/192 of a measure");
    sub->add_option("--bpm", options->bpm, "tempo of K-Midi.mid in beats per minute (default: the song's)");
    sub->add_option("--gap", options->texts.gap, "silence before each keysound in K-Midi.mid, in ticks (96 a beat)");
    addLimitOptions(*sub, options->texts);

    command.run = [options, sub] {
        if (refuseEmpty(options->out, "--out")) {
            return kExitUsage;
        }
        convert::SettingsTexts texts = options->texts;
        texts.longNotes = options->mode == "long";
        texts.percussion = options->mode == "percussion";
        texts.bmson = options->chartFormat == "bmson";
        texts.useCustomTempo = sub->count("--bpm") > 0;
        if (texts.useCustomTempo) {
            texts.tempo = options->bpm;
        }
        auto settings = convert::parseSettings(texts);
        if (!settings) {
            const auto field = convert::firstInvalidField(texts);
            reportError((field ? settingOption(*field) + ": " : std::string()) + settings.error().message);
            return kExitBadInput;
        }

        SignalStop stop;
        auto summary = song::readSongSummary(options->file, stop);
        if (!summary) {
            if (const auto stopped = SignalStop::exitCodeIfStopped()) {
                return *stopped;
            }
            reportError(summary.error().message);
            return kExitBadInput;
        }
        const auto track = song::trackNumberFromDigits(*summary, options->track, displayPath(options->file));
        if (!track) {
            reportError(track.error().message);
            return kExitBadInput;
        }
        if (summary->warning) {
            reportWarning(*summary->warning);
        }
        workflow::SongState state;
        state.outputFolder = options->out;
        workflow::openSong(state, options->file, std::move(summary).value());
        const auto request = workflow::conversionRequest(state, *track, std::move(settings).value());
        const auto outcome = workflow::runConversion(request, stop);
        if (const auto stopped = SignalStop::exitCodeIfStopped()) {
            return *stopped;
        }
        if (!outcome) {
            reportError(outcome.error().message);
            return kExitBadInput;
        }
        reportMerging(request.settings, outcome->keysounds);
        if (outcome->allNotesOnDrumChannel) {
            reportWarning("every note of this track is on channel 10 (drums): --mode percussion makes drum keysounds");
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
