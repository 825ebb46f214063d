#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/convert/keysound_variants.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_instruments.h"
#include "core/song/channel_state.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::keysound {

// One note start of a track as a synthesiser plays it: the state of its channel when it starts
// (an index into TrackNoteStarts::states), its length as the conversion pairs its Note Off (the
// oldest start of a key ends first), and how long it sounds. It sounds until the note-off that
// reaches it, or, while the sustain pedal is down, until the pedal comes up; a strike of the same
// key on the same channel cuts it short whatever the pedal does, as the synthesiser releases the
// key's earlier voice.
struct NoteStart {
    std::int64_t startTick = 0;
    std::int64_t lengthTicks = 0;
    std::int64_t soundingTicks = 0;
    std::uint32_t state = 0;
    std::uint8_t channel = 0;
    std::uint8_t note = 0;      // 1 to 126
    std::uint8_t velocity = 0;  // 1 to 127
};

struct TrackNoteStarts {
    std::vector<NoteStart> notes;            // in the order the conversion meets the note starts
    std::vector<song::ChannelState> states;  // each distinct state once
};

// The note starts of track `trackNumber` (1-based) that the conversion makes notes of (Note Ons
// of notes 1 to 126 with a velocity), each note still sounding at the track's end ending at its
// last event. The channel states are those the song played whole gives: controllers, programs,
// pressure and bend that other tracks send on the track's channels count too (a first track
// that sets up every channel is common). Nothing for a track out of range.
TrackNoteStarts readNoteStarts(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber);
// The same for the notes of several parts walked together (song::walkParts), in the order a
// conversion of those parts meets them. Nothing if a part's track is out of range.
TrackNoteStarts readNoteStarts(std::span<const std::uint8_t> file, const song::SongSummary& song,
                               std::span<const song::TrackPart> parts);

// What sets a keysound apart besides note, length and velocity, as merged.
struct KeysoundState {
    static constexpr std::int64_t kAsLong = -1;  // sounds for its note's length

    KeysoundInstrument instrument;
    std::uint8_t level = 100;  // volume × expression / 127, which together scale the sound
    std::uint8_t pan = 64;
    std::int32_t bendCents = 0;  // pitch bend through the bend range in force
    std::uint8_t modulation = 0;
    std::uint8_t pressure = 0;             // channel pressure
    std::int64_t soundingSlots = kAsLong;  // 1/192 measure, where it differs from the note's length

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
};

// What a state adds to a keysound's file stem: for each part in `varying`, in this order, nothing
// at its default (melodic program 0 of bank 0, level 100, pan 64, no bend, modulation and
// pressure 0, as long as its note), else "-i" program ["b" bank] or "-k" kit (a drum kit), "-v"
// level, "-p" pan, "-b" signed cents, "-m" modulation, "-a" pressure, "-s" sounding length in
// 1/192 measure: "-v60-p32-b+200-s96". Different values of a part never give the same text.
std::string stateSuffix(const KeysoundState& state, unsigned varying);

// How states merge: level, pan, modulation and pressure to the nearest multiple of the velocity
// step (level and velocity scale the sound along one curve, 40·log10(x/127) dB, so a step means
// the same loudness for both), sounding lengths as lengths by the length step; the pitch bend is
// kept to the cent, as a merged pitch is a wrong note.
struct StateMerge {
    int velocityStep = 0;
    std::int64_t lengthStep = 0;
    std::int32_t ticksPerMeasure = 192;
    bool percussion = false;  // every note a drum kit's strike, which rings out
};

// A keysound's sound besides note, velocity and length: what the renderer plays it with.
struct VariantSound {
    KeysoundInstrument instrument;
    song::ChannelState channel;                 // the controllers, merged values put in
    std::optional<std::int64_t> soundingTicks;  // none: as long as its keysound
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

// readNoteStarts and KeysoundStates for a conversion of the track with `settings`.
KeysoundStates readKeysoundStates(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                                  const convert::ConversionSettings& settings);
KeysoundStates readKeysoundStates(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                  std::span<const song::TrackPart> parts, const convert::ConversionSettings& settings);

}  // namespace zentrowe::keysound
