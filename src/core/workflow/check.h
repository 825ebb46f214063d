#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/onset_timing.h"
#include "core/audio/sound_comparison.h"
#include "core/audio/synth_renderer.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/timed_chart.h"
#include "core/song/track_part.h"

namespace zentrowe::workflow {

// A folder passes when the whole sounds this much like the track, and no second falls below the
// second figure. Good folders (built, or converted, rendered by FluidSynth with its reverb and
// cut) score about 0.99 and 0.95; two keysounds swapped or one tempo 5% off leave the whole
// near 0.93 but some second below 0.7.
inline constexpr double kCheckPassSimilarity = 0.90;
inline constexpr double kCheckPassWorstSecond = 0.80;
// And when the chart's note starts lie within this of the track's, in seconds, overall and in
// every stretch of audio::kTimingStretchSeconds with notes: 20 ms late is heard as late.
inline constexpr double kCheckMostLagSeconds = 0.020;

struct CheckRequest {
    std::filesystem::path chartPath;
    std::filesystem::path midiPath;
    int trackNumber = 0;                     // 1-based
    int channel = 0;                         // 1 to 16: only that MIDI channel's notes of the track; 0: all
    std::vector<song::TrackPart> moreParts;  // further parts the chart's lanes draw on
    std::filesystem::path soundFont = audio::defaultSoundFont();
    unsigned jobs = 0;  // threads reading keysound files; 0: one per core
    // Compare with every track of the song rendered together; none: where the folder's build
    // manifest records the chart built with every note a keysound (its "bgm" setting
    // "keysounds"), whose background plays the other tracks note by note.
    std::optional<bool> wholeSong;
};

struct CheckOutcome {
    audio::SoundComparison comparison;
    audio::TimingComparison timing;
    bool passed = false;
    std::vector<std::string> missingKeysounds;  // as the mixer lists them
    std::vector<chart::ChartProblem> chartProblems;
    std::vector<std::string> silentLaneKeysounds;  // lane keysound files that decode to silence
    std::int64_t silentLaneNotes = 0;              // the lane notes that play them
    bool wholeSong = false;                        // compared with the whole song, not the track alone
};

// Renders track `trackNumber` of the MIDI file alone (only its channel `channel`, and with the
// further parts, when given; or, request.wholeSong, every track together) with the soundfont,
// mixes the chart from the files in its folder (without the BGM files a build adds, which are the
// other tracks; with every other note, for the whole song), lines the chart's first sound up with
// the track's first note and compares the two: their timbre (SoundComparison) and what timing is
// left after that (TimingComparison). A note the track still holds at its last event ends there,
// as a keysound does. The check fails too when a lane note plays a file that decodes to silence.
// CannotOpen, NotMidi and the like for the files; TrackOutOfRange; EmptyTrack for a track without
// notes; SilentRecording when the rendered track or the chart's mix is silent; Cancelled.
Result<CheckOutcome> runCheck(const CheckRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow
