#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/audio/song_sequence.h"
#include "core/audio/synth_renderer.h"
#include "core/chart/chart_model.h"
#include "core/convert/keysound_table.h"
#include "core/song/song_summary.h"
#include "core/song/timeline.h"

namespace zentrowe::workflow {

// How a build plays the tracks other than the chosen one.
enum class BgmMode {
    Keysounds,  // every note its own keysound on the background channel at its own tick (background_keysounds.h)
    Slices,     // keysounds on the background channel, each a run of whole measures (bgm-001.ogg, ...)
    One,        // one file from measure 000 (bgm.ogg)
    None,       // no BGM
};

// Why the build left the BGM out, or kept it in one file.
enum class SkipReason {
    NoCodeForBgm,      // the keysounds use every code up to ZZ (or zz with base 62)
    NoOtherNotes,      // the other tracks have no notes
    NoCodesForSlices,  // the slices would need codes past ZZ (or zz): the BGM is one file instead
};

// The longest stretch of note starts one slice holds: its last notes then have 25 s to sound and
// ring before the slice file is cut at 45 s (sound_length_rule.h), under the events' minute.
inline constexpr std::int64_t kLongestSliceFrames = 20LL * audio::kSampleRate;

// One BGM slice: the notes that start in its measures, each with its whole tail, from a
// synthesiser set as the song has its channels when the slice starts.
struct BgmSlice {
    std::int32_t measure = 0;     // the chart measure whose first slot starts it
    std::int64_t startFrame = 0;  // where it starts in the rendering of the whole song
    // From the slice's start: the channel state the events before it leave (programs, banks,
    // controllers, bend, pressure, as audio::ChannelPrelude keeps them) all at frame 0, then its
    // notes, their ends and every channel event up to the last of those ends.
    std::vector<audio::TimedEvent> events;
};

// Cuts the other tracks' events (as audio::sequenceTracks places them) into slices of whole
// measures (`ticksPerMeasure` ticks from tick 0, timed by `timeline`): a slice starts at the first
// measure with a note start not yet taken and takes the measures after it while they end within
// kLongestSliceFrames of its start (a longer measure alone is a slice). A note ends at its Note
// Off or when its key is struck again on its channel, as the synthesiser cuts it there. No slice
// starts after `lastStartMeasure` (the chart's last measure): the last one takes the rest.
// Measures without note starts get no slice; events without notes give none at all.
std::vector<BgmSlice> sliceBgm(std::span<const audio::TimedEvent> events, const song::Timeline& timeline,
                               std::int32_t ticksPerMeasure, std::int32_t lastStartMeasure);

// One BGM file a build renders and where the chart starts it.
struct BgmFile {
    std::string name;
    chart::ChartCode code = 0;
    std::int32_t measure = 0;
    std::vector<audio::TimedEvent> events;
};

struct BgmPlan {
    std::vector<BgmFile> files;
    std::optional<SkipReason> skipped;
    std::size_t slicesWanted = 0;  // the slices asked for, when they did not fit
};

// The files that play `events` (the other tracks, with notes) as `mode` asks, each under a code
// after the keysounds' (bmson: the next numbers): slices when every one has a code, else one file
// from measure 000 if one code is left (NoCodesForSlices), else none (NoCodeForBgm). BMS slices
// start no later than measure 999.
BgmPlan planBgm(BgmMode mode, std::vector<audio::TimedEvent> events, const song::SongSummary& song,
                const convert::KeysoundTable& keysounds, bool bmson, const std::string& extension);

// The file name of slice `index` (0-based): "bgm-001" and on, then the extension.
std::string bgmSliceName(std::size_t index, const std::string& extension);

// True for the name of a file a build made of the other tracks: "bgm" or "bgm-" and three or
// more digits, any extension, any case.
bool isBgmFileName(const std::string& name);

}  // namespace zentrowe::workflow
