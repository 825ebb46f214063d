#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/loaded_track.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "core/workflow/check.h"
#include "core/workflow/conversion.h"

namespace zentrowe::cli {

namespace {

// Missing keysounds, then lane notes whose keysounds sound nothing.
void reportCheckWarnings(const workflow::CheckOutcome& outcome)
{
    for (const auto& missing : outcome.missingKeysounds) {
        reportWarning("missing keysound: " + missing);
    }
    if (outcome.silentLaneNotes > 0) {
        std::string names;
        for (const auto& name : outcome.silentLaneKeysounds) {
            names += (names.empty() ? "" : ", ") + name;
        }
        reportWarning(std::to_string(outcome.silentLaneNotes) +
                      " lane notes play keysounds that sound nothing: " + names);
    }
}

// Each figure beside the least it needs, the verdict first so that no line reads as a pass when
// the folder fails; then the timing in milliseconds, late positive: what a player would feel.
std::string figureLines(const workflow::CheckOutcome& outcome)
{
    const auto& figures = outcome.comparison;
    char line[200];
    std::snprintf(line, sizeof line, "%s: similarity %.3f, needs %.2f; worst second at %.1f s: %.3f, needs %.2f\n",
                  outcome.passed ? "passes" : "FAILS", figures.similarity, workflow::kCheckPassSimilarity,
                  figures.worstSecond, figures.worstSimilarity, workflow::kCheckPassWorstSecond);
    const auto& timing = outcome.timing;
    char timingLine[200];
    if (timing.measured) {
        std::snprintf(
            timingLine, sizeof timingLine,
            "timing: notes %+.1f ms against the track, needs within %.0f; worst stretch at %.1f s: %+.1f ms\n",
            timing.lagSeconds * 1000, workflow::kCheckMostLagSeconds * 1000, timing.worstStretch,
            timing.worstLagSeconds * 1000);
    } else {
        std::snprintf(timingLine, sizeof timingLine, "timing: no note starts to measure\n");
    }
    return std::string(line) + timingLine;
}

// "the chart sounds like ..." or "the chart does not sound like ...: why".
std::string verdictLine(const workflow::CheckOutcome& outcome, const std::vector<song::TrackPart>& parts)
{
    const auto& timing = outcome.timing;
    std::string why;
    if (std::fabs(timing.lagSeconds) > workflow::kCheckMostLagSeconds ||
        std::fabs(timing.worstLagSeconds) > workflow::kCheckMostLagSeconds) {
        why = outcome.wholeSong ? ": its notes are off the song's times" : ": its notes are off the track's times";
    } else if (outcome.silentLaneNotes > 0) {
        why = ": some lane notes sound nothing";
    }
    const std::string heard = outcome.wholeSong ? "the whole song" : song::partsName(parts);
    return (outcome.passed ? "the chart sounds like " : "the chart does not sound like ") + heard +
           (outcome.passed ? "" : why) + "\n";
}

}  // namespace

int runAndReportCheck(const std::filesystem::path& chart, const std::filesystem::path& midi,
                      const std::vector<song::TrackPart>& parts, const std::filesystem::path& soundFont, unsigned jobs)
{
    workflow::CheckRequest request;
    request.chartPath = chart;
    request.midiPath = midi;
    request.trackNumber = parts.front().trackNumber;
    request.channel = parts.front().channel;
    request.moreParts.assign(parts.begin() + 1, parts.end());
    request.soundFont = soundFont;
    request.jobs = jobs;
    const auto outcome = runStoppable("reading", "bytes of the song",
                                      [&](ProgressSink& stop) { return workflow::runCheck(request, stop); });
    if (const auto stopped = SignalStop::exitCodeIfStopped("nothing was written")) {
        return *stopped;
    }
    if (!outcome) {
        reportError(outcome.error().message);
        return kExitBadInput;
    }
    reportCheckWarnings(*outcome);
    // Plain stdio: `build --verify` calls this with its own Output still holding stdout.
    std::fputs(figureLines(*outcome).c_str(), stdout);
    std::fputs(verdictLine(*outcome, parts).c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        reportError("cannot write to standard output");
        return kExitBadInput;
    }
    return outcome->passed ? kExitDone : kExitBadInput;
}

Command addCheckCommand(CLI::App& app)
{
    struct Options {
        std::string chart;
        std::string midi;
        std::string track;
        std::string soundFont = audio::defaultSoundFont().string();
        unsigned jobs = 0;
    };
    auto options = std::make_shared<Options>();
    Command command;
    command.app = app.add_subcommand("check", "Tell whether a chart folder sounds like the MIDI track it came from");
    auto* sub = command.app;
    sub->add_option("CHART", options->chart, "the chart, its keysound files beside it")->required();
    sub->add_option("--against", options->midi, "the MIDI file")->required();
    addTrackOption(*sub, options->track);
    sub->add_option("--soundfont", options->soundFont, "General MIDI soundfont to render the track with");
    sub->add_option("--jobs", options->jobs, "threads reading keysound files (default: one per core, at most 8)")
        ->check(CLI::Range(1u, 8u));

    command.run = [options] {
        NullProgress quiet;
        const auto loaded = loadTrack(options->midi, options->track, quiet);
        if (!loaded) {
            return loaded.exitCode;
        }
        return runAndReportCheck(utf8Path(options->chart), utf8Path(options->midi), loaded.parts,
                                 utf8Path(options->soundFont), options->jobs);
    };
    return command;
}

}  // namespace zentrowe::cli
