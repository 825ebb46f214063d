#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/output.h"
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
    sub->add_option("--quality", options->quality, "OGG Vorbis quality, 0 to 1")
        ->check(CLI::Validator(
            [](std::string& text) {
                // Not CLI::Range: "nan" compares false both ways and would pass it.
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                return end != text.c_str() && *end == '\0' && value >= 0 && value <= 1
                           ? std::string()
                           : "--quality " + text + " is not a number from 0 to 1";
            },
            "0 to 1"));
    sub->add_flag("--no-bgm", options->noBgm, "do not render the other tracks into bgm.ogg");
    sub->add_option("--title", options->title, "#TITLE of the chart (default: the MIDI file's base name)");
    sub->add_option("--artist", options->artist, "#ARTIST of the chart (default: none)");
    sub->add_flag("--verify", options->verify, "check that the folder sounds like the track; exit 1 if not");

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

        // Command-line users expect the output folder to be made for them.
        std::error_code error;
        const std::filesystem::path outFolder(options->out);
        if (std::filesystem::exists(outFolder, error) && !std::filesystem::is_directory(outFolder, error)) {
            reportError(displayPath(outFolder) + ": not a folder");
            return kExitBadInput;
        }
        std::filesystem::create_directories(outFolder, error);

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

        const auto outcome = workflow::runBuild(request, quiet);
        if (!outcome) {
            reportError(outcome.error().message);
            return kExitBadInput;
        }
        reportMerging(request.conversion.settings, outcome->conversion.keysounds);
        for (const auto& skipped : outcome->skipped) {
            reportWarning(skipped);
        }
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
                                 request.conversion.trackNumber, request.soundFont);
    };
    return command;
}

}  // namespace zentrowe::cli
