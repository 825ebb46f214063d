#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/song/chart_file_name.h"
#include "core/workflow/build.h"

namespace zentrowe::cli {

namespace {

// Above this many keysound files the listing gives their count instead of one line each.
constexpr std::size_t kListedFiles = 20;

int buildTrackNumber(const std::string& digits)
{
    const auto significant = digits.find_first_not_of('0');
    if (significant == std::string::npos) {
        return 0;
    }
    return digits.size() - significant > 6 ? 1000000 : std::stoi(digits.substr(significant));
}

std::string instrumentText(const audio::Instrument& instrument)
{
    if (instrument.drums) {
        return "drum kit " + std::to_string(instrument.program);
    }
    return "bank " + std::to_string(instrument.bank) + " program " + std::to_string(instrument.program);
}

std::string skipSentence(workflow::SkipReason reason, bool base62)
{
    switch (reason) {
    case workflow::SkipReason::NoCodeForBgm:
        return base62 ? "no BGM: the keysounds use every code up to zz"
                      : "no BGM: the keysounds use every code up to ZZ";
    case workflow::SkipReason::NoOtherNotes:
        return "no BGM: the other tracks have no notes";
    }
    return "no BGM";
}

void reportBuildWarnings(const workflow::BuildOutcome& outcome, const std::string& soundFont)
{
    for (const auto reason : outcome.skipped) {
        reportWarning(skipSentence(reason, outcome.base62));
    }
    for (const auto& missing : outcome.missingInstruments) {
        const std::string who = missing.inBgm ? "the BGM's notes" : "keysounds";
        reportWarning(soundFont + " has no " + instrumentText(missing.instrument) + ": " +
                      (missing.playedBy ? who + " play " + instrumentText(*missing.playedBy) + " instead"
                                        : who + " using it are silent"));
    }
    if (outcome.conversion.allNotesOnDrumChannel) {
        reportWarning("every note of this track is on channel 10 (drums): --mode percussion makes drum keysounds");
    }
    for (const auto& removed : outcome.removedFiles) {
        std::fprintf(stderr, "removed %s (the earlier build's, no longer named)\n", displayPath(removed).c_str());
    }
}

}  // namespace

Command addBuildCommand(CLI::App& app)
{
    struct Options {
        std::string file;
        std::string track;
        std::string out;
        std::string mode = "plain";
        std::string chartFormat = "bms";
        convert::SettingsTexts texts;
        std::string bpm;
        std::string soundFont = audio::kDefaultSoundFont;
        std::string format = "ogg";
        double quality = 0.5;
        bool noBgm = false;
        std::string title;
        std::string artist;
        bool verify = false;
        unsigned jobs = 0;
        bool replace = false;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand(
        "build", "Convert one track, render its keysounds and the rest of the song: a folder that plays");
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
    sub->add_option("--chart-format", options->chartFormat, "bms, or bmson: exact times, no code or measure limit")
        ->check(CLI::IsMember({"bms", "bmson"}));
    sub->add_option("--start-code", options->texts.startCode, "code before the first keysound's, two characters in the codes' base");
    sub->add_option("--name", options->texts.keysoundName, "keysound name, the prefix of every keysound file");
    sub->add_option("--long-min", options->texts.longNoteMinimum, "shortest long note, in 1/192 of a measure");
    sub->add_option("--bpm", options->bpm, "tempo of K-Midi.mid in beats per minute (default: the song's)");
    sub->add_option("--gap", options->texts.gap, "silence after each keysound, in ticks of K-Midi.mid (96 a beat)");
    addLimitOptions(*sub, options->texts);
    sub->add_option("--soundfont", options->soundFont, "General MIDI soundfont to render with");
    sub->add_option("--format", options->format, "ogg or wav")->check(CLI::IsMember({"ogg", "wav"}));
    sub->add_option("--quality", options->quality, "OGG Vorbis quality, 0 to 1")->check(CLI::Range(0.0, 1.0));
    sub->add_flag("--no-bgm", options->noBgm, "do not render the other tracks into bgm.ogg");
    sub->add_option("--title", options->title, "#TITLE of the chart (default: the MIDI file's base name)");
    sub->add_option("--artist", options->artist, "#ARTIST of the chart (default: none)");
    sub->add_flag("--verify", options->verify, "check that the folder sounds like the track; exit 1 if not");
    sub->add_option("--jobs", options->jobs, "rendering threads (default: one per core, at most 8)")
        ->check(CLI::Range(1u, audio::kMostRenderThreads));
    sub->add_flag("--replace", options->replace, "replace a chart an earlier build made from another song or track");

    command.run = [options, sub] {
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
        NullProgress quiet;
        auto summary = song::readSongSummary(options->file, quiet);
        if (!summary) {
            reportError(summary.error().message);
            return kExitBadInput;
        }
        if (summary->warning) {
            reportWarning(*summary->warning);
        }

        workflow::BuildRequest request;
        request.conversion.sourceMidiPath = options->file;
        request.conversion.song = std::move(summary).value();
        request.conversion.chartFileName = song::deriveChartFileName(options->file);
        request.conversion.outputFolder = options->out;
        request.conversion.trackNumber = buildTrackNumber(options->track);
        request.conversion.settings = std::move(settings).value();
        request.soundFont = options->soundFont;
        request.format = options->format == "wav" ? audio::SoundFormat::Wave : audio::SoundFormat::OggVorbis;
        request.quality = options->quality;
        request.backgroundMusic = !options->noBgm;
        request.title = options->title;
        if (sub->count("--artist") > 0) {
            request.artist = options->artist;
        }
        request.threads = options->jobs;
        request.replace = options->replace;

        // The output folder is made for command-line users (and removed again if the build is
        // refused before writing anything).
        const auto outcome = [&] {
            if (::isatty(STDERR_FILENO) != 0) {
                TerminalProgress shown("converting", "bytes of the track");
                SignalStop stop(&shown);
                return workflow::runBuild(request, stop);
            }
            SignalStop stop;
            return workflow::runBuild(request, stop);
        }();
        if (const auto stopped = SignalStop::exitCodeIfStopped("the folder's earlier files are untouched")) {
            return *stopped;
        }
        if (!outcome) {
            const bool replaceable = outcome.error().code == ErrorCode::WouldReplaceChart;
            reportError(outcome.error().message + (replaceable ? " (--replace builds it anyway)" : ""));
            return kExitBadInput;
        }
        reportMerging(request.conversion.settings, outcome->conversion.keysounds);
        reportBuildWarnings(*outcome, displayPath(request.soundFont));
        Output out;
        out.write("wrote " + displayPath(outcome->conversion.chartPath) + "\n");
        out.write("wrote " + displayPath(outcome->conversion.keysoundMidiPath) + "\n");
        if (outcome->keysoundFiles.size() <= kListedFiles) {
            for (const auto& file : outcome->keysoundFiles) {
                out.write("wrote " + displayPath(file) + "\n");
            }
        } else {
            out.write("wrote " + std::to_string(outcome->keysoundFiles.size()) + " keysound files in " +
                      displayPath(request.conversion.outputFolder) + "\n");
        }
        if (outcome->bgmFile) {
            out.write("wrote " + displayPath(*outcome->bgmFile) + "\n");
        }
        if (outcome->previewFile) {
            out.write("wrote " + displayPath(*outcome->previewFile) + "\n");
        }
        out.write(std::to_string(outcome->conversion.keysounds.size()) + " keysounds\n");
        const int written = out.finishWithExitCode();
        if (written != kExitDone || !options->verify) {
            return written;
        }
        return runAndReportCheck(outcome->conversion.chartPath, request.conversion.sourceMidiPath,
                                 request.conversion.trackNumber, request.soundFont, request.threads);
    };
    return command;
}

}  // namespace zentrowe::cli
