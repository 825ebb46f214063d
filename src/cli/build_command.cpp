#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/conversion_options.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/song/chart_file_name.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "core/workflow/build.h"

namespace zentrowe::cli {

namespace {

// What --loudness accepts, in LUFS: quieter is inaudible beside other songs, louder cannot be
// reached without the true peak passing -1 dBTP on any real music.
constexpr double kLowestLoudness = -70;
constexpr double kHighestLoudness = -5;

// "loudness -14.0 LUFS, peak -2.3 dBTP": what the build brought the autoplay to.
std::string loudnessLine(const audio::LoudnessGain& gain)
{
    if (gain.bound == audio::LoudnessBound::Silent) {
        return "loudness: the autoplay is silent, no gain applied";
    }
    char line[96];
    std::snprintf(line, sizeof line, "loudness %.1f LUFS, peak %.1f dBTP", gain.after.integratedLufs,
                  gain.after.truePeakDbtp);
    return line;
}

// Above this many keysound files the listing gives their count instead of one line each.
constexpr std::size_t kListedFiles = 20;

std::string instrumentText(const audio::Instrument& instrument)
{
    if (instrument.drums) {
        return "drum kit " + std::to_string(instrument.program);
    }
    return "bank " + std::to_string(instrument.bank) + " program " + std::to_string(instrument.program);
}

std::string skipSentence(workflow::SkipReason reason, const workflow::BuildOutcome& outcome)
{
    const bool base62 = outcome.base62;
    switch (reason) {
    case workflow::SkipReason::NoCodesForSlices:
        return "the BGM is one file: its " + std::to_string(outcome.bgmSlicesWanted) + " slices need codes past " +
               (base62 ? "zz" : "ZZ") + "; they would fit as a bmson chart (--chart-format bmson)" +
               (base62 ? "" : ", with base-62 codes (--codes 62)") +
               " or with fewer keysounds (--velocity-step, --length-step)";
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
        reportWarning(skipSentence(reason, outcome));
    }
    for (const auto& missing : outcome.missingInstruments) {
        const std::string who = missing.inBgm ? "the BGM's notes" : "keysounds";
        reportWarning(soundFont + " has no " + instrumentText(missing.instrument) + ": " +
                      (missing.playedBy ? who + " play " + instrumentText(*missing.playedBy) + " instead"
                                        : who + " using it are silent"));
    }
    for (const auto& file : outcome.longSoundFiles) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", file.seconds);
        reportWarning(displayPath(file.path) + " lasts " + seconds +
                      " s: events accept no sound file of 60 s or more; --bgm slices (the default) keeps every "
                      "file under 45 s");
    }
    if (!outcome.silentKeysounds.empty()) {
        // One warning for them all: a drum kit without the track's sounds can leave hundreds out.
        std::int64_t notes = 0;
        std::string which;
        for (const auto& silent : outcome.silentKeysounds) {
            notes += silent.noteCount;
            which += (which.empty() ? "" : "; ") + std::string("note ") + std::to_string(silent.note) + " of " +
                     instrumentText(silent.instrument) + ", " + std::to_string(silent.noteCount) + " notes (" +
                     workflow::silenceCauseText(silent.cause) + ")";
        }
        reportWarning(std::to_string(notes) + " notes sound nothing with " + soundFont +
                      " and are left out of every chart, their keysounds unwritten: " + which);
    }
    if (outcome.conversion.allNotesOnDrumChannel) {
        reportWarning("every note of this track is on channel 10 (drums): --mode percussion makes drum keysounds");
    }
    for (const auto& removed : outcome.removedFiles) {
        std::fprintf(stderr, "removed %s (the earlier build's, no longer named)\n", displayPath(removed).c_str());
    }
    for (const auto& replaced : outcome.replacedFiles) {
        std::fprintf(stderr, "replaced %s (no build had made it; --replace)\n", displayPath(replaced).c_str());
    }
}

// A track played in rather than written to the beat: its notes fall off every grid, and its
// charts read badly unless they are moved to one.
void reportOffGrid(const workflow::BuildOutcome& outcome, std::uint32_t quantizeGrid)
{
    if (outcome.charts.empty() || !outcome.charts.front().report.grid.performance) {
        return;
    }
    const auto& off = outcome.charts.front().report.grid.offShare;
    char shares[160];
    std::snprintf(shares, sizeof shares,
                  "%.0f %% of its notes are off the 16ths, %.0f %% off the 16th triplets and %.0f %% off the 32nds",
                  100 * off[0], 100 * off[1], 100 * off[2]);
    reportWarning(std::string("the track was played in, not written to the beat: ") + shares +
                  (quantizeGrid > 0 ? "; its notes were moved to the nearest of " + std::to_string(quantizeGrid) +
                                          " lines a measure (--quantize)"
                                    : "; --quantize 16, 24 or 32 moves them to the nearest line of that grid"));
}

// What became of the commit a killed build left unfinished in `folder`.
void reportRecovery(base::Recovery recovery, const std::filesystem::path& folder)
{
    if (recovery == base::Recovery::Completed) {
        reportWarning("the last build into " + displayPath(folder) +
                      " was stopped while moving its files in, after its chart was in place: its move was finished");
    } else if (recovery == base::Recovery::Undone) {
        reportWarning("the last build into " + displayPath(folder) +
                      " was stopped while moving its files in: the files it had replaced were put back");
    }
}

// What the level counts, in notes per second: "  level 8.4/s = density 6.4 + repeats 0.8 (12 %
// within 250 ms) + chords 0.3 (20 %) + long notes 0.0 (0 %) + stamina 0.9 (6.0/s busiest minute);
// strain per key 0.40, overall 7.2".
std::string levelTermsLine(const chartset::ChartReport& report)
{
    const auto& terms = report.terms;
    char line[320];
    std::snprintf(line, sizeof line,
                  "  level %.1f/s = density %.1f + repeats %.1f (%.0f %% within 250 ms) + chords %.1f (%.0f %%) + "
                  "long notes %.1f (%.0f %%) + stamina %.1f (%.1f/s busiest minute); strain per key %.2f, overall "
                  "%.1f\n",
                  terms.total(), terms.density, terms.repeats, 100 * report.repeatShare, terms.chords,
                  100 * report.chordShare, terms.longNotes, 100 * report.longNoteShare, terms.stamina,
                  report.staminaDensity, report.keyStrain, report.overallStrain);
    return line;
}

// One chart of the set, as a player would judge it before playing: "song_H.bms [HYPER]: level 7,
// 812 notes, 6.4/s average, 11.5/s peak, chords up to 3, 140 in the background"; drawn on several
// parts, what each gives: "...; lane notes from track 4: 500, track 2: 220".
std::string chartLine(const workflow::BuiltChart& chart, const std::vector<song::TrackPart>& parts)
{
    const auto& report = chart.report;
    char figures[160];
    std::snprintf(figures, sizeof figures, ": level %d, %lld notes, %.1f/s average, %.1f/s peak, chords up to %d, ",
                  report.level, static_cast<long long>(report.notes), report.averageDensity, report.peakDensity,
                  report.largestChord);
    std::string byPart;
    for (std::size_t k = 0; parts.size() > 1 && k < parts.size(); ++k) {
        const std::int64_t notes = k < report.notesByPart.size() ? report.notesByPart[k] : 0;
        byPart += (k == 0 ? "; lane notes from " : ", ") + song::partName(parts[k]) + ": " + std::to_string(notes);
    }
    return chart.path.filename().string() + " " + std::string(chartset::difficultySubtitle(report.difficulty)) +
           figures + std::to_string(report.backgroundNotes) + " in the background" + byPart + "\n" +
           levelTermsLine(report);
}

}  // namespace

Command addBuildCommand(CLI::App& app)
{
    struct Options : ConversionOptions {
        std::string soundFont = audio::defaultSoundFont().string();
        std::string format = "ogg";
        double quality = 0.5;
        bool noBgm = false;
        std::string bgm = "slices";
        std::string loudness = "-14";
        std::string title;
        std::string artist;
        std::string genre;
        std::string lanes = "playable";
        std::string difficulties;
        bool verify = false;
        unsigned jobs = 0;
        bool replace = false;
        double previewFrom = 0;
        std::string quantize;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand(
        "build", "Convert one track, render its keysounds and the rest of the song: a folder that plays");
    auto* sub = command.app;
    addConversionOptions(*sub, *options);
    sub->add_option("--soundfont", options->soundFont, "General MIDI soundfont to render with")->type_name("SF2");
    sub->add_option("--format", options->format, "ogg or wav")
        ->check(CLI::IsMember({"ogg", "wav"}).description(""))
        ->type_name("ogg|wav");
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
            "0 to 1"))
        ->type_name("Q");
    sub->add_option("--bgm", options->bgm,
                    "the other tracks as slices of whole measures (bgm-001.ogg...), as one bgm.ogg, or none")
        ->check(CLI::IsMember({"slices", "one", "none"}).description(""))
        ->type_name("slices|one|none");
    sub->add_flag("--no-bgm", options->noBgm, "the same as --bgm none");
    sub->add_option("--loudness", options->loudness,
                    "loudness of the whole autoplay in LUFS, true peak at most -1 dBTP (default -14), or off")
        ->check(CLI::Validator(
            [](std::string& text) {
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                return text == "off" || (end != text.c_str() && *end == '\0' && value >= kLowestLoudness &&
                                         value <= kHighestLoudness)
                           ? std::string()
                           : "--loudness " + text + " is neither a loudness in LUFS from -70 to -5 nor off";
            },
            "LUFS or off"))
        ->type_name("LUFS|off");
    sub->add_option("--lanes", options->lanes,
                    "playable (pitch order, chords spread, no fast jacks) or seed (convert's lanes)")
        ->check(CLI::IsMember({"playable", "seed"}).description(""))
        ->type_name("playable|seed");
    sub->add_option("--difficulties", options->difficulties,
                    "charts to write, from beginner,normal,hyper,another,insane (default: normal,hyper,another, "
                    "and insane when another leaves notes out)")
        ->type_name("LIST");
    sub->add_option("--title", options->title, "#TITLE of the charts (default: the song's own name)")
        ->type_name("TEXT");
    sub->add_option("--artist", options->artist,
                    "#ARTIST of the charts (default: the author the song's texts name, else its copyright holder)")
        ->type_name("TEXT");
    sub->add_option("--genre", options->genre, "#GENRE of the charts (default: MIDI)")->type_name("TEXT");
    sub->add_option("--preview-from", options->previewFrom,
                    "seconds into the song preview.ogg starts (default: where the song is fullest)")
        ->check(CLI::Range(0.0, 86400.0))
        ->type_name("SECONDS");
    sub->add_option("--quantize", options->quantize,
                    "move the track's notes and their keysounds to the nearest line of 16, 24 or 32 a measure "
                    "(16ths, 16th triplets, 32nds), for a track played in rather than written to the beat")
        ->check(CLI::IsMember({"16", "24", "32"}).description(""))
        ->type_name("16|24|32");
    sub->add_flag("--verify", options->verify, "check that the folder sounds like the track; exit 1 if not");
    sub->add_option("--jobs", options->jobs, "rendering threads (default: one per core, at most 8)")
        ->check(CLI::Range(1u, audio::kMostRenderThreads));
    sub->add_flag(
        "--replace", options->replace,
        "replace the other song (or track) the output folder holds, removing its files, or files no build made");

    command.run = [options, sub] {
        if (refuseEmpty(options->out, "--out")) {
            return kExitUsage;
        }
        std::vector<chartset::Difficulty> difficulties;
        if (sub->count("--difficulties") > 0) {
            auto parsed = chartset::parseDifficulties(options->difficulties);
            if (!parsed) {
                reportError("--difficulties: " + parsed.error().message);
                return kExitUsage;
            }
            difficulties = std::move(parsed).value();
        }
        // A long-note length with its unit is the set's to apply, by time: the conversion then
        // hands over every held note.
        const auto longNoteLength = chartset::parseLongNoteLength(options->texts.longNoteMinimum);
        ConversionOptions conversion = *options;
        if (longNoteLength) {
            conversion.texts.longNoteMinimum = "1";
        }
        auto settings = conversionSettings(*sub, conversion);
        if (!settings) {
            return kExitBadInput;
        }
        NullProgress quiet;
        auto summary = song::readSongSummary(options->file, quiet);
        if (!summary) {
            reportError(summary.error().message);
            return kExitBadInput;
        }
        int exitCode = kExitBadInput;
        const auto parts = readTrackParts(*summary, options->track, displayPath(options->file), exitCode);
        if (!parts) {
            return exitCode;
        }
        if (summary->warning) {
            reportWarning(*summary->warning);
        }

        workflow::BuildRequest request;
        request.conversion.sourceMidiPath = options->file;
        request.conversion.song = std::move(summary).value();
        request.conversion.chartFileName = song::deriveChartFileName(options->file);
        request.conversion.outputFolder = options->out;
        request.conversion.trackNumber = parts->front().trackNumber;
        request.conversion.channel = parts->front().channel;
        request.conversion.moreParts.assign(parts->begin() + 1, parts->end());
        request.conversion.settings = std::move(settings).value();
        request.soundFont = options->soundFont;
        request.format = options->format == "wav" ? audio::SoundFormat::Wave : audio::SoundFormat::OggVorbis;
        request.quality = options->quality;
        request.bgm = options->noBgm || options->bgm == "none" ? workflow::BgmMode::None
                      : options->bgm == "one"                  ? workflow::BgmMode::One
                                                               : workflow::BgmMode::Slices;
        request.loudness = options->loudness == "off"
                               ? std::nullopt
                               : std::optional<double>(std::strtod(options->loudness.c_str(), nullptr));
        request.title = options->title;
        if (sub->count("--artist") > 0) {
            request.artist = options->artist;
        }
        request.charts.lanes = options->lanes == "seed" ? chartset::LaneRule::Seed : chartset::LaneRule::Playable;
        request.charts.difficulties = std::move(difficulties);
        request.charts.genre = options->genre;
        request.charts.quantizeGrid = chartset::parseQuantizeGrid(options->quantize).value_or(0);
        request.charts.longNoteMinimum = longNoteLength.value_or(chartset::LongNoteLength{});
        if (sub->count("--preview-from") > 0) {
            request.previewFrom = options->previewFrom;
        }
        request.threads = options->jobs;
        request.replace = options->replace;
        request.replaceUnlisted = options->replace;

        // The output folder is made for command-line users (and removed again if the build is
        // refused before writing anything).
        const auto outcome = runStoppable("converting", "bytes of the track",
                                          [&](ProgressSink& stop) { return workflow::runBuild(request, stop); });
        if (SignalStop::received()) {
            // Once the commit has begun the build finishes it (or undoes it): say which.
            std::string state = "the folder's earlier files are untouched";
            if (outcome) {
                reportRecovery(outcome->recovery, request.conversion.outputFolder);
                reportBuildWarnings(*outcome, displayPath(request.soundFont));
                state = "the signal came after the new build was in place in " +
                        displayPath(request.conversion.outputFolder) + ", and the build is complete";
            } else if (outcome.error().code != ErrorCode::Cancelled) {
                state = outcome.error().message;
            }
            return *SignalStop::exitCodeIfStopped(state.c_str());
        }
        if (!outcome) {
            const bool replaceable =
                outcome.error().code == ErrorCode::WouldReplaceChart && outcome.error().subject != "folder";
            reportError(outcome.error().message + (replaceable ? " (--replace builds it anyway)" : ""));
            return kExitBadInput;
        }
        reportRecovery(outcome->recovery, request.conversion.outputFolder);
        reportMerging(request.conversion.settings, outcome->conversion.keysounds);
        reportBuildWarnings(*outcome, displayPath(request.soundFont));
        reportOffGrid(*outcome, request.charts.quantizeGrid);
        if (outcome->loudness) {
            std::fprintf(stderr, "%s\n", loudnessLine(*outcome->loudness).c_str());
        }
        Output out;
        for (const auto& chart : outcome->charts) {
            out.write("wrote " + displayPath(chart.path) + "\n");
        }
        out.write("wrote " + displayPath(outcome->conversion.keysoundMidiPath) + "\n");
        if (outcome->keysoundFiles.size() <= kListedFiles) {
            for (const auto& file : outcome->keysoundFiles) {
                out.write("wrote " + displayPath(file) + "\n");
            }
        } else {
            out.write("wrote " + std::to_string(outcome->keysoundFiles.size()) + " keysound files in " +
                      displayPath(request.conversion.outputFolder) + "\n");
        }
        if (outcome->bgmFiles.size() == 1) {
            out.write("wrote " + displayPath(outcome->bgmFiles.front()) + "\n");
        } else if (!outcome->bgmFiles.empty()) {
            out.write("wrote " + std::to_string(outcome->bgmFiles.size()) + " BGM slices, " +
                      outcome->bgmFiles.front().filename().string() + " to " +
                      outcome->bgmFiles.back().filename().string() + "\n");
        }
        if (outcome->previewFile) {
            out.write("wrote " + displayPath(*outcome->previewFile) + "\n");
        }
        out.write(std::to_string(outcome->conversion.keysounds.size()) + " keysounds" +
                  (outcome->silentKeysounds.empty()
                       ? std::string()
                       : ", " + std::to_string(outcome->silentKeysounds.size()) + " of them silent and not written") +
                  "\n");
        for (const auto& chart : outcome->charts) {
            out.write(chartLine(chart, *parts));
        }
        // The release checklist on what was written; its findings inform, the build stands.
        if (const auto audit = runAudit(request.conversion.outputFolder)) {
            writeFindings(out, *audit);
        } else {
            reportWarning(audit.error().message);
        }
        const int written = out.finishWithExitCode();
        if (written != kExitDone || !options->verify) {
            return written;
        }
        // The first chart is rendered and compared; every other one must play the same objects
        // from the same files, which mix to the same sound.
        const auto& first = outcome->charts.front().path;
        std::fputs(("checking " + displayPath(first) + "\n").c_str(), stdout);
        const int verified =
            runAndReportCheck(first, request.conversion.sourceMidiPath, *parts, request.soundFont, request.threads);
        // The build itself is whole and committed: a failed check says so, not just that it failed.
        const auto inPlace = [&](const std::string& why) {
            reportError("the build is written and stays in " + displayPath(request.conversion.outputFolder) + ", but " +
                        why);
        };
        if (verified != kExitDone) {
            inPlace(displayPath(first) + " fails the check above");
            return verified;
        }
        for (std::size_t k = 1; k < outcome->charts.size(); ++k) {
            const auto& path = outcome->charts[k].path;
            const auto same = chartset::chartsPlayTheSame(first, path);
            if (!same) {
                reportError(same.error().message);
                return kExitBadInput;
            }
            const std::string line = "checking " + displayPath(path) + "\n" +
                                     (*same ? "passes: it plays what " : "FAILS: it does not play what ") +
                                     displayPath(first) + " plays\n";
            std::fputs(line.c_str(), stdout);
            if (!*same) {
                inPlace(displayPath(path) + " does not play what " + displayPath(first) + " plays");
                return kExitBadInput;
            }
        }
        return std::fflush(stdout) == 0 ? kExitDone : kExitBadInput;
    };
    return command;
}

}  // namespace zentrowe::cli
