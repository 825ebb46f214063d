#include "core/workflow/check.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "core/audio/chart_mixer.h"
#include "core/audio/onset_timing.h"
#include "core/audio/song_sequence.h"
#include "core/audio/sound_file_reader.h"
#include "core/base/file_reading.h"
#include "core/chart/chart_file.h"
#include "core/song/song_summary.h"
#include "core/workflow/bgm_slices.h"
#include "core/workflow/build.h"
#include "core/workflow/build_manifest.h"

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

// The track as its keysounds sound: a note still held at the track's last event (a pedal never
// let go) ends there, as its keysound does, and rings out. Drums are left to ring as struck.
std::vector<audio::TimedEvent> releasedAtTheEnd(std::vector<audio::TimedEvent> events)
{
    if (events.empty()) {
        return events;
    }
    const std::int64_t end = events.back().frame;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (channel == 9) {
            continue;
        }
        const auto status = static_cast<std::uint8_t>(0xB0 | channel);
        events.push_back({end, status, 64, 0});   // sustain pedal up
        events.push_back({end, status, 66, 0});   // sostenuto up
        events.push_back({end, status, 123, 0});  // all notes off
    }
    return events;
}

// The lane keysounds of the chart whose files decode to silence (or to nothing), and how many
// lane notes play them: a player would strike those and hear nothing. Files that cannot be read
// are the mixer's to report.
void findSilentLaneKeysounds(const chart::TimedChart& chart, const std::filesystem::path& folder, CheckOutcome& outcome)
{
    std::map<chart::ChartCode, std::int64_t> laneCodes;
    for (const auto& object : chart.objects) {
        if (object.kind == chart::ObjectKind::Note || object.kind == chart::ObjectKind::LongNoteStart) {
            ++laneCodes[object.code];
        }
    }
    for (const auto& [code, notes] : laneCodes) {
        const std::string& name = code < chart.keysoundNames.size() ? chart.keysoundNames[code] : std::string();
        if (name.empty()) {
            continue;
        }
        bool heard = false;
        const auto read = audio::streamSoundFile(
            folder / name, audio::kSampleRate, audio::kLongestRenderFrames, [&](std::span<const float> block) {
                heard = heard || std::any_of(block.begin(), block.end(),
                                             [](float sample) { return std::fabs(sample) >= kAudibleLevel; });
            });
        if (read && !heard) {
            outcome.silentLaneKeysounds.push_back(name);
            outcome.silentLaneNotes += notes;
        }
    }
}

// True if the folder's build manifest records the chart built with every note a keysound.
bool builtWithKeysoundBackground(const std::filesystem::path& chartPath)
{
    const auto folder = chartPath.has_parent_path() ? chartPath.parent_path() : std::filesystem::path(".");
    const auto manifest = readBuildManifest(folder);
    const auto* record = manifest.find(chartPath.filename().string());
    if (record == nullptr) {
        return false;
    }
    return record->options.bgm == BgmMode::Keysounds;
}

// Whether the figures pass: timbre close enough over the whole and in its worst second, timing
// within the most lag allowed, and no lane note that sounds nothing.
bool passes(const CheckOutcome& outcome)
{
    return outcome.comparison.similarity >= kCheckPassSimilarity &&
           outcome.comparison.worstSimilarity >= kCheckPassWorstSecond &&
           std::fabs(outcome.timing.lagSeconds) <= kCheckMostLagSeconds &&
           std::fabs(outcome.timing.worstLagSeconds) <= kCheckMostLagSeconds && outcome.silentLaneNotes == 0;
}

Status checkPartsExist(const std::vector<song::TrackPart>& parts, const song::SongSummary& song)
{
    for (const auto& part : parts) {
        if (part.trackNumber < 1 || static_cast<std::size_t>(part.trackNumber) > song.tracks.size()) {
            return Error{ErrorCode::TrackOutOfRange, "track " + std::to_string(part.trackNumber) +
                                                         " does not exist; the song has " +
                                                         std::to_string(song.tracks.size()) + " tracks"}
                .withNumber(part.trackNumber);
        }
    }
    return {};
}

// The track (or the whole song) rendered from its first note on.
Result<audio::StereoSound> renderTrack(audio::SynthRenderer& renderer, const CheckRequest& request,
                                       const song::SongSummary& song, const std::vector<song::TrackPart>& parts,
                                       bool wholeSong, ProgressSink& progress)
{
    const auto source = readFileBytes(request.midiPath);
    if (!source) {
        return source.error();
    }
    const auto events = wholeSong ? audio::sequenceTracks(source->bytes(), song, 0)
                                  : audio::sequenceParts(source->bytes(), song, parts);
    const auto firstNote = std::find_if(events.begin(), events.end(), [](const audio::TimedEvent& event) {
        return (event.status & 0xF0) == 0x90 && event.data2 != 0;
    });
    if (firstNote == events.end()) {
        return Error{ErrorCode::EmptyTrack, song::partsName(parts) + " has no notes to compare with"}.withNumber(
            request.trackNumber);
    }
    progress.beginStage(ProgressStage::Rendering);
    auto rendered = renderer.renderEvents(releasedAtTheEnd(events), kTailFrames, progress);
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
    return track;
}

// The chart's keysounds mixed from its first sound on.
Result<audio::ChartMix> mixCheckedChart(const CheckRequest& request, chart::TimedChart& chart,
                                        const std::filesystem::path& folder, bool wholeSong, ProgressSink& progress)
{
    // A build's BGM (whole or in slices) plays the other tracks, which the track alone does not.
    std::erase_if(chart.objects, [&](const chart::ChartObject& object) {
        return !wholeSong && object.kind == chart::ObjectKind::Background &&
               isBgmFileName(chart.keysoundNames[object.code]);
    });
    audio::MixOptions options;
    options.sampleRate = audio::kSampleRate;
    options.fromSeconds = chart::firstSoundSeconds(chart);
    options.threads = request.jobs;
    progress.beginStage(ProgressStage::Mixing);
    auto mix = audio::mixChart(chart, folder, options, progress);
    if (!mix) {
        return mix.error();
    }
    if (silent(mix->sound)) {
        return Error{ErrorCode::SilentRecording,
                     displayPath(request.chartPath) +
                         ": the chart's keysounds mix to silence; there is nothing to compare" +
                         (mix->missing.empty()
                              ? std::string()
                              : " (" + std::to_string(mix->missing.size()) + " keysound files missing or unreadable)")}
            .inFile(displayPath(request.chartPath));
    }
    return mix;
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
    const auto parts = song::requestedParts(request.trackNumber, request.channel, request.moreParts);
    if (auto exist = checkPartsExist(parts, *song); !exist) {
        return exist.error();
    }
    const bool wholeSong = request.wholeSong.value_or(builtWithKeysoundBackground(request.chartPath));
    auto track = renderTrack(*renderer, request, *song, parts, wholeSong, progress);
    if (!track) {
        return track.error();
    }
    auto chart = chart::readChartFile(request.chartPath);
    if (!chart) {
        return chart.error();
    }
    const auto folder =
        request.chartPath.has_parent_path() ? request.chartPath.parent_path() : std::filesystem::path(".");
    auto mix = mixCheckedChart(request, *chart, folder, wholeSong, progress);
    if (!mix) {
        return mix.error();
    }
    CheckOutcome outcome;
    outcome.wholeSong = wholeSong;
    outcome.comparison = audio::compareSounds(*track, mix->sound);
    // After the first sounds are lined up: what is left is the chart's own timing.
    outcome.timing = audio::compareTiming(*track, mix->sound);
    findSilentLaneKeysounds(*chart, folder, outcome);
    outcome.passed = passes(outcome);
    outcome.missingKeysounds = std::move(mix->missing);
    outcome.chartProblems = std::move(chart->problems);
    return outcome;
}

}  // namespace zentrowe::workflow
