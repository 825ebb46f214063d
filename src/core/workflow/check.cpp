#include "core/workflow/check.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/audio/chart_mixer.h"
#include "core/chart/chart_file.h"
#include "core/audio/song_sequence.h"
#include "core/base/file_reading.h"
#include "core/song/song_summary.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/build.h"

namespace zentrowe::workflow {

namespace {

constexpr std::int64_t kTailFrames = 10LL * audio::kSampleRate;  // the longest release let ring
// A sound whose every sample stays under this (-60 dBFS) is taken for silence: silence would
// match silence, and a check must not pass on nothing.
constexpr float kAudibleLevel = 0.001F;

bool silent(const audio::StereoSound& sound)
{
    return std::none_of(sound.samples.begin(), sound.samples.end(),
                        [](float sample) { return std::fabs(sample) >= kAudibleLevel; });
}

}  // namespace

Result<CheckOutcome> runCheck(const CheckRequest& request, ProgressSink& progress)
{
    auto renderer = audio::SynthRenderer::open(request.soundFont);
    if (!renderer) {
        return renderer.error();
    }
    auto song = song::readSongSummary(request.midiPath, progress);
    if (!song) {
        return song.error();
    }
    if (request.trackNumber < 1 || static_cast<std::size_t>(request.trackNumber) > song->tracks.size()) {
        return Error{ErrorCode::TrackOutOfRange, "track " + std::to_string(request.trackNumber) +
                                                     " does not exist; the song has " +
                                                     std::to_string(song->tracks.size()) + " tracks"}
            .withNumber(request.trackNumber);
    }
    const auto source = readFileBytes(request.midiPath);
    if (!source) {
        return source.error();
    }
    const auto events = audio::sequenceTrack(source->bytes(), *song, request.trackNumber);
    const auto firstNote = std::find_if(events.begin(), events.end(), [](const audio::TimedEvent& event) {
        return (event.status & 0xF0) == 0x90 && event.data2 != 0;
    });
    if (firstNote == events.end()) {
        return Error{ErrorCode::EmptyTrack, "track " + std::to_string(request.trackNumber) + " has no notes to compare with"}
            .withNumber(request.trackNumber);
    }
    progress.beginStage(ProgressStage::Rendering);
    auto rendered = renderer->renderEvents(events, kTailFrames, progress);
    if (!rendered) {
        return rendered.error();
    }
    audio::StereoSound track{audio::kSampleRate, std::move(rendered).value()};
    const auto skipped = static_cast<std::size_t>(firstNote->frame) * audio::kChannelCount;
    track.samples.erase(track.samples.begin(),
                        track.samples.begin() + static_cast<std::ptrdiff_t>(std::min(skipped, track.samples.size())));

    if (silent(track)) {
        return Error{ErrorCode::SilentRecording, "track " + std::to_string(request.trackNumber) +
                                                     " renders as silence with " + displayPath(request.soundFont) +
                                                     "; there is nothing to compare"}
            .inFile(displayPath(request.soundFont))
            .withNumber(request.trackNumber);
    }

    auto chart = chart::readChartFile(request.chartPath);
    if (!chart) {
        return chart.error();
    }
    // A build's BGM (whole or in slices) plays the other tracks, which the track alone does not.
    std::erase_if(chart->objects, [&](const chart::ChartObject& object) {
        return object.kind == chart::ObjectKind::Background && isBgmFileName(chart->keysoundNames[object.code]);
    });
    audio::MixOptions options;
    options.sampleRate = audio::kSampleRate;
    options.fromSeconds = chart::firstSoundSeconds(*chart);
    options.threads = request.jobs;
    const auto folder = request.chartPath.has_parent_path() ? request.chartPath.parent_path() : std::filesystem::path(".");
    progress.beginStage(ProgressStage::Mixing);
    auto mix = audio::mixChart(*chart, folder, options, progress);
    if (!mix) {
        return mix.error();
    }

    if (silent(mix->sound)) {
        return Error{ErrorCode::SilentRecording, displayPath(request.chartPath) +
                                                     ": the chart's keysounds mix to silence; there is nothing to compare" +
                                                     (mix->missing.empty() ? std::string()
                                                                           : " (" + std::to_string(mix->missing.size()) +
                                                                                 " keysound files missing or unreadable)")}
            .inFile(displayPath(request.chartPath));
    }

    CheckOutcome outcome;
    outcome.comparison = audio::compareSounds(track, mix->sound);
    outcome.passed = outcome.comparison.similarity >= kCheckPassSimilarity &&
                     outcome.comparison.worstSimilarity >= kCheckPassWorstSecond;
    outcome.missingKeysounds = std::move(mix->missing);
    outcome.chartProblems = std::move(chart->problems);
    return outcome;
}

}  // namespace zentrowe::workflow
