#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/convert/keysound_variants.h"
#include "core/convert/settings.h"
#include "core/keysound/exclusive_classes.h"
#include "core/keysound/keysound_instruments.h"
#include "core/song/channel_state.h"
#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/timeline.h"
#include "core/song/track_part.h"

namespace zentrowe::keysound {

// One note start of a track as a synthesiser plays it: the state of its channel when it starts
// (an index into TrackNoteStarts::states), its length as the conversion pairs its Note Off (the
// oldest start of a key ends first), and how long it sounds. It sounds until the note-off that
// reaches it, or, while the sustain pedal is down, until the pedal comes up; a strike of the same
// key on the same channel cuts it short, as the synthesiser releases the key's earlier voice,
// unless the pedal is down: then it rings on until the pedal comes up. A later note of its choke group
// (ExclusiveClasses) on its channel silences it, note-off, pedal and ring alike: `chokeTicks` from its start.
struct NoteStart {
    static constexpr std::int64_t kNotChoked = -1;

    std::int64_t startTick = 0;
    std::int64_t lengthTicks = 0;
    std::int64_t soundingTicks = 0;
    std::uint32_t state = 0;
    std::uint8_t channel = 0;
    std::uint8_t note = 0;      // 1 to 126
    std::uint8_t velocity = 0;  // 1 to 127
    std::int64_t chokeTicks = kNotChoked;
};

struct TrackNoteStarts {
    std::vector<NoteStart> notes;            // in the order the conversion meets the note starts
    std::vector<song::ChannelState> states;  // each distinct state once
};

// The note starts of track `trackNumber` (1-based) that the conversion makes notes of (Note Ons
// of notes 1 to 126 with a velocity), each note still sounding at the track's end ending at its
// last event. The channel states are those the song played whole gives: controllers, programs,
// pressure and bend that other tracks send on the track's channels count too (a first track
// that sets up every channel is common). Nothing for a track out of range. Notes are choked
// by the choke groups of `classes` (none without).
TrackNoteStarts readNoteStarts(song::SongSource file, const song::SongSummary& song, int trackNumber,
                               const ExclusiveClasses* classes = nullptr);
// The same for the notes of several parts walked together (song::walkParts), in the order a
// conversion of those parts meets them. Nothing if a part's track is out of range.
TrackNoteStarts readNoteStarts(song::SongSource file, const song::SongSummary& song,
                               std::span<const song::TrackPart> parts, const ExclusiveClasses* classes = nullptr);

// What sets a keysound apart besides note, length and velocity, as merged.
struct KeysoundState {
    static constexpr std::int64_t kAsLong = -1;  // sounds for its note's length
    static constexpr std::int64_t kNotCut = -1;  // no note of its choke group silences it

    KeysoundInstrument instrument;
    std::uint8_t level = 100;  // volume × expression / 127, which together scale the sound
    std::uint8_t pan = 64;
    std::int32_t bendCents = 0;  // pitch bend through the bend range in force
    std::uint8_t modulation = 0;
    std::uint8_t pressure = 0;             // channel pressure
    std::int64_t soundingSlots = kAsLong;  // 1/192 measure, where it differs from the note's length
    std::int64_t cutSlots = kNotCut;       // 1/192 measure from its start to its choke
    std::uint8_t voice = 0;                // 1: the second file of its sound (CymbalVoices)

    friend bool operator==(const KeysoundState&, const KeysoundState&) = default;
};

// The parts of a state, as bits of a mask.
enum StatePart : unsigned {
    kInstrumentPart = 1u << 0,
    kLevelPart = 1u << 1,
    kPanPart = 1u << 2,
    kBendPart = 1u << 3,
    kModulationPart = 1u << 4,
    kPressurePart = 1u << 5,
    kSoundingPart = 1u << 6,
    kCutPart = 1u << 7,
    kVoicePart = 1u << 8,
};

// Players give each keysound one voice and cut its sound when it is struck again, but a cymbal
// rings for seconds and the synthesiser lets it ring over its next strike. So a cymbal of the
// General MIDI kit (crash, ride, china, ride bell, splash) struck again while its earlier strike
// at that velocity on that channel rings (less than this long before, not choked) takes the
// other of two files of its sound, and no player cuts what the song lets ring.
inline constexpr double kCymbalRingSeconds = 2.0;

// What a state adds to a keysound's file stem: for each part in `varying`, in this order, nothing
// at its default (melodic program 0 of bank 0, level 100, pan 64, no bend, modulation and
// pressure 0, as long as its note, not choked), else "-i" program ["b" bank] or "-k" kit (a drum
// kit), "-v" level, "-p" pan, "-b" signed cents, "-m" modulation, "-a" pressure, "-s" sounding
// length and "-c" length up to its choke in 1/192 measure, "-r2" for a second file of its sound:
// "-v60-p32-b+200-s96". Different values of a part never give the same text.
std::string stateSuffix(const KeysoundState& state, unsigned varying);

// How states merge: level, pan, modulation and pressure to the nearest multiple of the velocity
// step (level and velocity scale the sound along one curve, 40·log10(x/127) dB, so a step means
// the same loudness for both), sounding lengths as lengths by the length step; the pitch bend is
// kept to the cent, as a merged pitch is a wrong note.
struct StateMerge {
    StateMerge() = default;
    StateMerge(int velocity, std::int64_t length, std::int32_t measureTicks, bool drumStrikes,
               std::optional<song::Timeline> songTime = std::nullopt,
               std::uint32_t steadyTempo = song::kDefaultTempoMicros)
        : velocityStep(velocity),
          lengthStep(length),
          ticksPerMeasure(measureTicks),
          percussion(drumStrikes),
          timeline(std::move(songTime)),
          steadyTempoMicros(steadyTempo)
    {
    }

    int velocityStep = 0;
    std::int64_t lengthStep = 0;
    std::int32_t ticksPerMeasure = 192;
    bool percussion = false;  // every note a drum kit's strike, which rings out
    // The song's time and the one tempo of "K-Midi.mid", at which keysounds are rendered: a
    // note's sound lasts its seconds under every tempo it crosses, so its sounding length is
    // counted in ticks of that tempo (Timeline::ticksAtTempo). Without a timeline, in the song's
    // own ticks.
    std::optional<song::Timeline> timeline;
    std::uint32_t steadyTempoMicros = song::kDefaultTempoMicros;
};

// The one tempo of "K-Midi.mid" in microseconds a quarter: the custom tempo when one is asked
// for, else the song's last Set Tempo; the standard's 120 BPM for a tempo of 0.
std::uint32_t keysoundMidiTempo(const convert::ConversionSettings& settings, const song::SongSummary& song);

// A note's sounding length in ticks at merge.steadyTempoMicros (its own ticks without a timeline).
std::int64_t steadySoundingTicks(const NoteStart& note, const StateMerge& merge);

// A choke this long after its note's start, in seconds, silences nothing: a choked sound (an
// open hi-hat rings about two) has long died away, and its keysound needs no length of its own.
inline constexpr double kChokeHorizonSeconds = 4.0;

// A keysound's sound besides note, velocity and length: what the renderer plays it with.
struct VariantSound {
    KeysoundInstrument instrument;
    song::ChannelState channel;                 // the controllers, merged values put in
    std::optional<std::int64_t> soundingTicks;  // none: as long as its keysound
    std::optional<std::int64_t> cutTicks;       // where its choke silences it; none: never
};

// The variants of a track's notes: variant k is the k-th distinct state met. Parts equal for every
// note of the track are not in `varying`: they make no more keysounds and no longer names.
class KeysoundStates final : public convert::KeysoundVariants {
public:
    KeysoundStates() = default;
    KeysoundStates(const TrackNoteStarts& starts, const StateMerge& merge);

    std::uint32_t variantOf(std::uint64_t startOrder) const override;
    std::string suffixOf(std::uint32_t variant) const override;

    unsigned varying() const { return m_varying; }
    std::size_t variantCount() const { return m_states.size(); }
    const KeysoundState& state(std::uint32_t variant) const { return m_states[variant]; }
    // The sound of a variant; a default one for a variant no note has.
    VariantSound sound(std::uint32_t variant) const;

private:
    std::vector<std::uint32_t> m_variantOfStart;
    std::vector<KeysoundState> m_states;
    std::vector<VariantSound> m_sounds;
    unsigned m_varying = 0;
};

// How `settings` merge the states of `song`'s notes.
StateMerge stateMerge(const convert::ConversionSettings& settings, const song::SongSummary& song);

// The instrument of each keysound of a conversion of the parts whose notes `starts` holds: the
// instrument of the channel state its first note (the first start at the keysound's tick and
// note) starts with, the drum kit for every keysound when `percussion`. A keysound whose first
// note is not among them gets program 0.
std::vector<KeysoundInstrument> keysoundInstruments(const TrackNoteStarts& starts,
                                                    const convert::KeysoundTable& keysounds, bool percussion);

// readNoteStarts and KeysoundStates for a conversion of the track with `settings`, choked by
// the choke groups of `classes` (the soundfont's the keysounds are rendered with; none without).
KeysoundStates readKeysoundStates(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                                  const convert::ConversionSettings& settings,
                                  const ExclusiveClasses* classes = nullptr);
KeysoundStates readKeysoundStates(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                  std::span<const song::TrackPart> parts, const convert::ConversionSettings& settings,
                                  const ExclusiveClasses* classes = nullptr);

}  // namespace zentrowe::keysound
