#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/convert/keysound_table.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_states.h"
#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::workflow {

// What a background keysound's stem carries after the keysound name, so that it never takes the
// name of a lane keysound (whose stem goes on with the note's digits): "Abg60-48-100-i25".
inline constexpr const char* kBackgroundStemMark = "bg";

// One note of the tracks outside the lanes, played from the background channel as a keysound of
// its own at its own tick.
struct BackgroundNote {
    std::int64_t tick = 0;
    std::size_t keysound = 0;  // in BackgroundKeysounds::table
};

// The track (1-based) and MIDI channel (0-based) a background keysound's first note came from.
struct NoteSource {
    int track = 0;
    std::uint8_t channel = 0;
};

// Every note of the tracks outside the lanes as keysounds: notes alike in note, length, velocity
// and the channel state they are played with (merged as the settings ask, as the lanes' notes
// are) share one keysound, whatever track plays them.
struct BackgroundKeysounds {
    convert::KeysoundTable table;                 // no code limit; each entry's variant indexes `sounds`
    std::vector<keysound::KeysoundState> states;  // per variant
    std::vector<keysound::VariantSound> sounds;   // per variant: what the renderer plays it with
    std::vector<NoteSource> sources;              // per keysound
    std::vector<BackgroundNote> notes;            // in time order
    std::int64_t doubledNotes = 0;                // notes struck again on one channel and key at one tick, placed once

    // The file stem of keysound `index`: the keysound name, kBackgroundStemMark, then as a lane
    // keysound's, with its whole channel state (keysound::stateSuffix of every part).
    std::string stem(const std::string& keysoundName, std::size_t index, std::int32_t ticksPerMeasure) const;
};

// The note starts of one track (1-based) read alone, as keysound::readNoteStarts reads a track.
struct TrackStarts {
    int trackNumber = 0;
    keysound::TrackNoteStarts starts;
};

// Of every track that no part of `laneParts` takes whole, its note starts (keysound::readNoteStarts:
// notes 1 to 126, each with its channel's state in the song played whole), choked by the choke
// groups of `classes` (none without): what the other tracks' keysounds are made of. A track the
// lanes take a channel of keeps that channel's notes too, as its states are met in the track's
// own order. Bytes that end early give the notes before the damage.
std::vector<TrackStarts> readOtherTrackStarts(song::SongSource file, const song::SongSummary& song,
                                              std::span<const song::TrackPart> laneParts,
                                              const keysound::ExclusiveClasses* classes = nullptr);

// The notes of every track and channel that no part of `laneParts` takes (a part of the lanes may
// be one channel of a track: the track's other channels play from the background), from the note
// starts of the other tracks (`otherTracks`, readOtherTrackStarts) and of the lanes' parts
// (`laneNotes`), as background keysounds. A drum channel's strike (channel 10) is as long as
// percussion mode makes it, as a drum rings out whatever its length. A note struck more than once
// on one channel and key at one tick, here or in the lanes' parts, sounds once: the longest of
// them, then the loudest, unless the lanes play it. A note its choke group silences is a keysound
// up to its choke. Nothing for a song whose other parts have no notes.
BackgroundKeysounds collectBackgroundKeysounds(std::span<const TrackStarts> otherTracks,
                                               const keysound::TrackNoteStarts& laneNotes,
                                               std::span<const song::TrackPart> laneParts,
                                               const song::SongSummary& song,
                                               const convert::ConversionSettings& settings);

// Puts the background keysounds into `chart`: a definition for each under the codes from
// `firstCode` on (keysound k: firstCode + k, its file `fileNames[k]`), then each note on the
// background channel at its tick: a line a measure at a slot a tick (chart::fitLineSlots
// shortens it), and a further line where an earlier one of the measure holds the slot, as the
// background channel's lines are layers that all sound.
void addBackgroundKeysounds(chart::Chart& chart, const BackgroundKeysounds& background,
                            std::span<const std::string> fileNames, chart::ChartCode firstCode,
                            std::int32_t ticksPerMeasure);

// What the keysound codes of a BMS chart number: the lanes' keysounds from the start code on,
// then the background's (`backgroundCount`, 0 when the other tracks are no keysounds).
struct CodeDemand {
    std::size_t laneKeysounds = 0;
    std::size_t backgroundKeysounds = 0;
    int startValue = 0;
    bool base62 = false;
    bool bmson = false;
};

// Ways out offered when the codes run out, each with the keysounds it leaves: found by the
// caller, who can count them (a coarser merging of both kinds of keysounds).
struct CodeRelief {
    int velocityStep = 0;
    std::int64_t lengthStep = 0;
    std::size_t keysounds = 0;
};

// Nothing when every keysound has a code (bmson charts number any); else CodesExhausted, one
// sentence naming how many keysounds there are (of the lanes and of the other tracks), the last
// code and the ways that would fit: base-62 codes, a bmson chart, `relief` if given, or the other
// tracks in BGM slices, which take a code each few measures rather than one per sound.
std::optional<Error> codesExhausted(const CodeDemand& demand, const std::optional<CodeRelief>& relief);

// The coarser mergings tried, mildest first, for CodeRelief: (velocity step, length step).
// Velocities stay within 32 (four levels at least) while coarser lengths are left to try.
inline constexpr std::pair<int, std::int64_t> kReliefSteps[] = {{4, 1},   {8, 1},   {8, 2},   {16, 2},  {16, 4},
                                                                {16, 8},  {32, 6},  {32, 12}, {32, 24}, {32, 48},
                                                                {64, 24}, {64, 48}, {32, 96}, {64, 96}};

// How many keysounds `table` would hold merged again with the coarser steps (lengths and
// velocities as kept, each state as it is).
std::size_t keysoundsMergedAgain(const convert::KeysoundTable& table, const convert::KeysoundMerge& merge,
                                 std::int32_t ticksPerMeasure);

}  // namespace zentrowe::workflow
