#include "core/keysound/keysound_states.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "core/base/exact_ratio.h"
#include "core/convert/chart_lines.h"
#include "core/convert/keysound_table.h"
#include "core/convert/pending_note_table.h"
#include "core/song/channel_controls.h"
#include "core/song/track_part.h"
#include "core/song/track_walk.h"

namespace zentrowe::keysound {

namespace {

constexpr int kDrumChannel = 9;
constexpr std::uint8_t kSustainPedal = 64;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kAllNotesOff = 123;

// A channel state as one key, for finding it again.
std::pair<std::uint64_t, std::uint64_t> packed(const song::ChannelState& s)
{
    const std::uint64_t high = std::uint64_t{s.program} | std::uint64_t{s.bankMsb} << 8 |
                               std::uint64_t{s.bankLsb} << 16 | std::uint64_t{s.modulation} << 24 |
                               std::uint64_t{s.volume} << 32 | std::uint64_t{s.pan} << 40 |
                               std::uint64_t{s.expression} << 48 | std::uint64_t{s.sustain} << 56;
    const std::uint64_t low = std::uint64_t{s.pressure} | std::uint64_t{s.pitchBend} << 8 |
                              std::uint64_t{s.bendRangeSemitones} << 24 | std::uint64_t{s.bendRangeCents} << 32;
    return {high, low};
}

// Follows a track as the conversion pairs its notes and as the synthesiser sounds them.
struct StartWalk {
    TrackNoteStarts out;
    song::ChannelStates channels;
    std::array<std::uint32_t, 16> stateOf{};
    std::array<bool, 16> changed{};
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint32_t> known;
    convert::PendingNoteTable pending;
    // Per channel and key, the notes still sounding; `sustained` marks those whose note-off came
    // while the pedal was down.
    std::vector<std::vector<std::uint32_t>> sounding = std::vector<std::vector<std::uint32_t>>(16 * 128);
    std::vector<bool> sustained;
    std::int64_t lastTime = 0;
    // Per channel, the notes of a choke group not yet choked, with their group.
    const ExclusiveClasses* classes = nullptr;
    std::array<std::vector<std::pair<std::uint32_t, std::uint16_t>>, 16> inGroups;

    StartWalk() { changed.fill(true); }

    void release(std::uint32_t index, std::int64_t time)
    {
        out.notes[index].soundingTicks = time - out.notes[index].startTick;
    }

    // A note-off reaching every sounding voice of the key not already held by the pedal.
    void keyOff(std::int64_t time, std::size_t channel, std::size_t key)
    {
        auto& voices = sounding[channel * 128 + key];
        const bool pedal = channels[static_cast<int>(channel)].sustain;
        std::erase_if(voices, [&](std::uint32_t index) {
            if (sustained[index]) {
                return false;
            }
            if (pedal) {
                sustained[index] = true;
                return false;
            }
            release(index, time);
            return true;
        });
    }

    void releaseChannel(std::int64_t time, std::size_t channel, bool sustainedOnly)
    {
        for (std::size_t key = 0; key < 128; ++key) {
            std::erase_if(sounding[channel * 128 + key], [&](std::uint32_t index) {
                if (sustainedOnly && !sustained[index]) {
                    return false;
                }
                release(index, time);
                return true;
            });
        }
    }

    void noteStart(std::int64_t time, std::size_t channel, std::uint8_t note, std::uint8_t velocity)
    {
        if (changed[channel]) {
            const auto& state = channels[static_cast<int>(channel)];
            const auto [found, added] = known.try_emplace(packed(state), static_cast<std::uint32_t>(out.states.size()));
            if (added) {
                out.states.push_back(state);
            }
            stateOf[channel] = found->second;
            changed[channel] = false;
        }
        // A key struck again releases its earlier voices, unless the sustain pedal is down: the
        // synthesiser then keeps them sounding until the pedal comes up, as a piano's repeated
        // note rings under the pedal. Struck again at the same tick it is one note the file holds
        // twice, whose voices end together (one keysound, placed once by the chart set).
        auto& voices = sounding[channel * 128 + note];
        const bool pedal = channels[static_cast<int>(channel)].sustain;
        std::erase_if(voices, [&](std::uint32_t index) {
            if (out.notes[index].startTick == time) {
                return false;
            }
            if (pedal) {
                sustained[index] = true;
                return false;
            }
            release(index, time);
            return true;
        });
        const auto index = static_cast<std::uint32_t>(out.notes.size());
        out.notes.push_back({time, 0, 0, stateOf[channel], static_cast<std::uint8_t>(channel), note, velocity});
        sustained.push_back(false);
        voices.push_back(index);
        pending.push(static_cast<std::uint8_t>(channel), note, time, velocity);
        choke(time, channel, index);
    }

    // A note of a choke group silences the earlier notes of its group on its channel, as the
    // synthesiser kills their voices; notes struck at one tick sound together.
    void choke(std::int64_t time, std::size_t channel, std::uint32_t index)
    {
        if (classes == nullptr) {
            return;
        }
        const KeysoundInstrument instrument = channels.instrument(static_cast<int>(channel));
        const std::uint16_t group = classes->classOf(instrument, out.notes[index].note);
        if (group == 0) {
            return;
        }
        std::erase_if(inGroups[channel], [&](const std::pair<std::uint32_t, std::uint16_t>& ringing) {
            auto& earlier = out.notes[ringing.first];
            if (ringing.second != group || earlier.startTick == time) {
                return false;
            }
            earlier.chokeTicks = time - earlier.startTick;
            return true;
        });
        inGroups[channel].emplace_back(index, group);
    }

    void onEvent(std::int64_t time, std::uint32_t, const song::ChannelEvent& event)
    {
        lastTime = time;
        const std::size_t channel = event.channel();
        const std::uint8_t kind = event.kind();
        if (kind == 0x80 || kind == 0x90) {
            // As the conversion: notes 0 and 127 and above make no note, velocities clip to 127.
            const std::uint8_t note = event.data1;
            if (note == 0 || note >= 127) {
                return;
            }
            if (kind == 0x90 && event.data2 != 0) {
                noteStart(time, channel, note, std::min<std::uint8_t>(event.data2, 127));
                return;
            }
            if (const auto start = pending.pop(static_cast<std::uint8_t>(channel), note)) {
                out.notes[start->order].lengthTicks = time - start->startTime;
            }
            keyOff(time, channel, note);
            return;
        }
        const bool pedalWasDown = channels[static_cast<int>(channel)].sustain;
        channels.apply(event);
        changed[channel] = true;
        if (kind != 0xB0) {
            return;
        }
        const auto controller = static_cast<std::uint8_t>(event.data1 & 0x7F);
        if (controller == kSustainPedal && pedalWasDown && !channels[static_cast<int>(channel)].sustain) {
            releaseChannel(time, channel, true);
        } else if (controller == kAllNotesOff) {
            for (std::size_t key = 0; key < 128; ++key) {
                keyOff(time, channel, key);
            }
        } else if (controller == kAllSoundOff) {
            releaseChannel(time, channel, false);
        }
        // Reset All Controllers lifts the pedal without releasing what it holds, as the
        // synthesiser does: those notes sound until struck again or the track ends.
    }
    void onEvent(std::int64_t time, std::uint32_t, const song::MetaEvent&) { lastTime = time; }
    void onEvent(std::int64_t time, std::uint32_t, const song::SysExEvent&) { lastTime = time; }

    void trackEnd()
    {
        for (const auto& unended : pending.takeUnended()) {
            out.notes[unended.start.order].lengthTicks = lastTime - unended.start.startTime;
        }
        for (auto& voices : sounding) {
            for (const auto index : voices) {
                release(index, lastTime);
            }
            voices.clear();
        }
    }
};

// x to the nearest multiple of `step` (ties up) within 0..127; x itself for a step of 0 or 1.
std::uint8_t mergedSevenBits(int x, int step)
{
    if (step <= 1) {
        return static_cast<std::uint8_t>(std::clamp(x, 0, 127));
    }
    const int merged = (x + step / 2) / step * step;
    // A level, pan or controller that is on stays on: 0 is kept for what was 0.
    return static_cast<std::uint8_t>(std::clamp(merged == 0 && x > 0 ? std::max(step / 4, 1) : merged, 0, 127));
}

std::int64_t lengthSlots(std::int64_t ticks, const StateMerge& merge)
{
    const std::int64_t held = std::clamp<std::int64_t>(ticks, 0, convert::kLongestDurationTicks);
    return convert::keysoundLengthSlots(convert::mergedDuration(held, merge.lengthStep, merge.ticksPerMeasure),
                                        merge.ticksPerMeasure);
}

// A note's length from its start to its choke in ticks at merge.steadyTempoMicros, if a choke
// comes within kChokeHorizonSeconds.
std::optional<std::int64_t> steadyChokeTicks(const NoteStart& note, const StateMerge& merge)
{
    if (note.chokeTicks == NoteStart::kNotChoked) {
        return std::nullopt;
    }
    const std::int64_t held = std::clamp<std::int64_t>(note.chokeTicks, 0, convert::kLongestDurationTicks);
    if (!merge.timeline) {
        return held;
    }
    if (merge.timeline->seconds(note.startTick, note.startTick + held) > kChokeHorizonSeconds) {
        return std::nullopt;
    }
    return merge.timeline->ticksAtTempo(note.startTick, note.startTick + held, merge.steadyTempoMicros);
}

}  // namespace

std::uint32_t keysoundMidiTempo(const convert::ConversionSettings& settings, const song::SongSummary& song)
{
    const auto tempo = settings.useCustomTempo ? static_cast<std::uint32_t>(settings.customTempo) : song.tempoMicros;
    return tempo == 0 ? song::kDefaultTempoMicros : tempo;
}

std::int64_t steadySoundingTicks(const NoteStart& note, const StateMerge& merge)
{
    if (!merge.timeline) {
        return note.soundingTicks;
    }
    const std::int64_t held = std::clamp<std::int64_t>(note.soundingTicks, 0, convert::kLongestDurationTicks);
    return std::min(merge.timeline->ticksAtTempo(note.startTick, note.startTick + held, merge.steadyTempoMicros),
                    convert::kLongestDurationTicks);
}

namespace {

KeysoundState stateOf(const NoteStart& note, const song::ChannelState& channel, const StateMerge& merge)
{
    KeysoundState state;
    const bool drums = merge.percussion || note.channel == kDrumChannel;
    state.instrument = song::instrumentOf(channel, note.channel);
    if (merge.percussion && !state.instrument.drums) {
        // The drum kit, not the melodic program number, plays a percussion track's strikes.
        state.instrument = {0, 0, true};
    }
    const int level = static_cast<int>(std::lround(channel.volume * channel.expression / 127.0));
    state.level = mergedSevenBits(level, merge.velocityStep);
    state.pan = mergedSevenBits(channel.pan, merge.velocityStep);
    state.bendCents = static_cast<std::int32_t>(std::lround(channel.bendSemitones() * 100));
    state.modulation = mergedSevenBits(channel.modulation, merge.velocityStep);
    state.pressure = mergedSevenBits(channel.pressure, merge.velocityStep);
    // A drum rings out whatever its length, so how long it is held tells nothing.
    if (!drums && merge.ticksPerMeasure > 0) {
        const std::int64_t sounding = lengthSlots(steadySoundingTicks(note, merge), merge);
        if (sounding != lengthSlots(note.lengthTicks, merge)) {
            state.soundingSlots = sounding;
        }
    }
    if (const auto choke = steadyChokeTicks(note, merge); choke && merge.ticksPerMeasure > 0) {
        state.cutSlots = lengthSlots(*choke, merge);
    }
    return state;
}

// The voice of each cymbal strike: 0, or 1 where the strike before it still rings (kCymbalRingSeconds).
class CymbalVoices {
public:
    std::uint8_t voiceOf(const NoteStart& note, const KeysoundState& state, const StateMerge& merge)
    {
        constexpr std::array<std::uint8_t, 7> kCymbals{49, 51, 52, 53, 55, 57, 59};
        if (!state.instrument.drums || !merge.timeline ||
            std::find(kCymbals.begin(), kCymbals.end(), note.note) == kCymbals.end()) {
            return 0;
        }
        const auto key = std::uint32_t{note.channel} << 16 | std::uint32_t{note.note} << 8 | note.velocity;
        const auto [last, fresh] = m_last.try_emplace(key, note);
        if (fresh) {
            return 0;
        }
        const NoteStart& before = last->second.strike;
        const bool choked =
            before.chokeTicks != NoteStart::kNotChoked && before.startTick + before.chokeTicks <= note.startTick;
        const bool rings = !choked && before.startTick < note.startTick &&
                           merge.timeline->seconds(before.startTick, note.startTick) < kCymbalRingSeconds;
        const std::uint8_t voice = rings ? static_cast<std::uint8_t>(1 - last->second.voice) : 0;
        last->second = {note, voice};
        return voice;
    }

private:
    struct Last {
        NoteStart strike;
        std::uint8_t voice = 0;

        Last(const NoteStart& note) : strike(note) { }
        Last(const NoteStart& note, std::uint8_t v) : strike(note), voice(v) { }
    };
    std::unordered_map<std::uint32_t, Last> m_last;
};

unsigned partsDiffering(const KeysoundState& a, const KeysoundState& b)
{
    unsigned parts = 0;
    parts |= a.instrument == b.instrument ? 0u : kInstrumentPart;
    parts |= a.level == b.level ? 0u : kLevelPart;
    parts |= a.pan == b.pan ? 0u : kPanPart;
    parts |= a.bendCents == b.bendCents ? 0u : kBendPart;
    parts |= a.modulation == b.modulation ? 0u : kModulationPart;
    parts |= a.pressure == b.pressure ? 0u : kPressurePart;
    parts |= a.soundingSlots == b.soundingSlots ? 0u : kSoundingPart;
    parts |= a.cutSlots == b.cutSlots ? 0u : kCutPart;
    parts |= a.voice == b.voice ? 0u : kVoicePart;
    return parts;
}

struct StateHash {
    std::size_t operator()(const KeysoundState& s) const
    {
        std::size_t h =
            (std::hash<std::int64_t>{}(s.soundingSlots) * 31 + std::hash<std::int64_t>{}(s.cutSlots)) * 31 + s.voice;
        for (const std::int64_t part :
             {std::int64_t{s.instrument.bank}, std::int64_t{s.instrument.program}, std::int64_t{s.instrument.drums},
              std::int64_t{s.level}, std::int64_t{s.pan}, std::int64_t{s.bendCents}, std::int64_t{s.modulation},
              std::int64_t{s.pressure}}) {
            h = h * 131 + static_cast<std::size_t>(part);
        }
        return h;
    }
};

// The chosen track's events, with the other tracks' controls on its channels put in where the
// song, played whole, has them: before the chosen track's events of a later tick, and at one
// tick in file order.
struct MergedWalk {
    StartWalk& walk;
    const std::vector<song::PlacedControl>& controls;
    std::size_t track;
    std::size_t next = 0;

    void feedUntil(std::int64_t time)
    {
        for (; next < controls.size() &&
               (controls[next].tick < time || (controls[next].tick == time && controls[next].track < track));
             ++next) {
            walk.onEvent(controls[next].tick, 0, controls[next].event);
        }
    }
    template <typename Event>
    void onEvent(std::int64_t time, std::uint32_t delta, const Event& event)
    {
        feedUntil(time);
        walk.onEvent(time, delta, event);
    }
};

}  // namespace

TrackNoteStarts readNoteStarts(song::SongSource file, const song::SongSummary& song, int trackNumber,
                               const ExclusiveClasses* classes)
{
    const song::TrackPart whole{trackNumber, 0};
    return readNoteStarts(file, song, std::span<const song::TrackPart>(&whole, 1), classes);
}

TrackNoteStarts readNoteStarts(song::SongSource file, const song::SongSummary& song,
                               std::span<const song::TrackPart> parts, const ExclusiveClasses* classes)
{
    const auto inSong = [&](const song::TrackPart& part) {
        return part.trackNumber >= 1 && static_cast<std::size_t>(part.trackNumber) <= song.tracks.size();
    };
    if (parts.empty() || !std::all_of(parts.begin(), parts.end(), inSong)) {
        return {};
    }
    const auto isChosen = [&](std::size_t track) {
        return std::any_of(parts.begin(), parts.end(), [&](const song::TrackPart& part) {
            return static_cast<std::size_t>(part.trackNumber) == track + 1;
        });
    };
    const auto controls = song::sharedControls(
        file, song, [&](std::size_t track) { return !isChosen(track); }, song::reachOf(file, song, isChosen));
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    StartWalk walk;
    walk.classes = classes;
    MergedWalk merged{walk, controls, static_cast<std::size_t>(parts.front().trackNumber - 1)};
    song::walkParts(file, song, parts, merged, throttle,
                    [&](std::size_t part) { merged.track = static_cast<std::size_t>(parts[part].trackNumber - 1); });
    walk.trackEnd();
    return std::move(walk.out);
}

std::string stateSuffix(const KeysoundState& state, unsigned varying)
{
    std::string suffix;
    const auto add = [&](unsigned part, bool atDefault, const std::string& text) {
        if ((varying & part) != 0 && !atDefault) {
            suffix += text;
        }
    };
    const auto& instrument = state.instrument;
    add(kInstrumentPart, !instrument.drums && instrument.program == 0 && instrument.bank == 0,
        instrument.drums ? "-k" + std::to_string(instrument.program)
                         : "-i" + std::to_string(instrument.program) +
                               (instrument.bank != 0 ? "b" + std::to_string(instrument.bank) : std::string()));
    add(kLevelPart, state.level == 100, "-v" + std::to_string(state.level));
    add(kPanPart, state.pan == 64, "-p" + std::to_string(state.pan));
    add(kBendPart, state.bendCents == 0, (state.bendCents > 0 ? "-b+" : "-b") + std::to_string(state.bendCents));
    add(kModulationPart, state.modulation == 0, "-m" + std::to_string(state.modulation));
    add(kPressurePart, state.pressure == 0, "-a" + std::to_string(state.pressure));
    add(kSoundingPart, state.soundingSlots == KeysoundState::kAsLong, "-s" + std::to_string(state.soundingSlots));
    add(kCutPart, state.cutSlots == KeysoundState::kNotCut, "-c" + std::to_string(state.cutSlots));
    add(kVoicePart, state.voice == 0, "-r2");
    return suffix;
}

KeysoundStates::KeysoundStates(const TrackNoteStarts& starts, const StateMerge& merge)
{
    std::unordered_map<KeysoundState, std::uint32_t, StateHash> variantOfState;
    CymbalVoices voices;
    m_variantOfStart.reserve(starts.notes.size());
    for (const auto& note : starts.notes) {
        const auto& channel = starts.states[note.state];
        KeysoundState state = stateOf(note, channel, merge);
        state.voice = voices.voiceOf(note, state, merge);
        const auto [found, added] = variantOfState.try_emplace(state, static_cast<std::uint32_t>(m_states.size()));
        if (added) {
            if (!m_states.empty()) {
                m_varying |= partsDiffering(m_states.front(), state);
            }
            m_states.push_back(state);
            // Rendered as the first note of the variant played it, with the merged values in
            // place of its own.
            VariantSound sound{state.instrument, channel, std::nullopt, std::nullopt};
            if (merge.velocityStep > 1) {
                sound.channel.volume = state.level;
                sound.channel.expression = 127;
                sound.channel.pan = state.pan;
                sound.channel.modulation = state.modulation;
                sound.channel.pressure = state.pressure;
            }
            if (state.soundingSlots != KeysoundState::kAsLong) {
                sound.soundingTicks =
                    merge.lengthStep > 0
                        ? roundRatioHalfEven(state.soundingSlots * merge.ticksPerMeasure, convert::kSlots)
                        : steadySoundingTicks(note, merge);
            }
            if (state.cutSlots != KeysoundState::kNotCut) {
                sound.cutTicks = merge.lengthStep > 0
                                     ? roundRatioHalfEven(state.cutSlots * merge.ticksPerMeasure, convert::kSlots)
                                     : steadyChokeTicks(note, merge).value_or(0);
            }
            m_sounds.push_back(sound);
        }
        m_variantOfStart.push_back(found->second);
    }
}

std::uint32_t KeysoundStates::variantOf(std::uint64_t startOrder) const
{
    return startOrder < m_variantOfStart.size() ? m_variantOfStart[static_cast<std::size_t>(startOrder)] : 0;
}

std::string KeysoundStates::suffixOf(std::uint32_t variant) const
{
    return variant < m_states.size() ? stateSuffix(m_states[variant], m_varying) : std::string();
}

VariantSound KeysoundStates::sound(std::uint32_t variant) const
{
    return variant < m_sounds.size() ? m_sounds[variant] : VariantSound{};
}

StateMerge stateMerge(const convert::ConversionSettings& settings, const song::SongSummary& song)
{
    return StateMerge{settings.merge.velocityStep, settings.percussion ? 0 : settings.merge.lengthStep,
                      song.ticksPerMeasure,        settings.percussion,
                      song::Timeline(song),        keysoundMidiTempo(settings, song)};
}

std::vector<KeysoundInstrument> keysoundInstruments(const TrackNoteStarts& starts,
                                                    const convert::KeysoundTable& keysounds, bool percussion)
{
    // Each keysound's first note as (tick, note, index), looked up once per note start.
    std::vector<std::tuple<std::int64_t, std::uint8_t, std::size_t>> wanted;
    wanted.reserve(keysounds.size());
    for (std::size_t k = 0; k < keysounds.size(); ++k) {
        wanted.emplace_back(keysounds.entries()[k].startTime, keysounds.entries()[k].note, k);
    }
    std::sort(wanted.begin(), wanted.end());
    std::vector<std::optional<KeysoundInstrument>> found(keysounds.size());
    for (const auto& start : starts.notes) {
        auto at = std::lower_bound(wanted.begin(), wanted.end(),
                                   std::make_tuple(start.startTick, start.note, std::size_t{0}));
        for (; at != wanted.end() && std::get<0>(*at) == start.startTick && std::get<1>(*at) == start.note; ++at) {
            auto& instrument = found[std::get<2>(*at)];
            if (!instrument) {
                instrument = song::instrumentOf(starts.states[start.state], start.channel);
            }
        }
    }
    std::vector<KeysoundInstrument> instruments;
    instruments.reserve(keysounds.size());
    for (const auto& instrument : found) {
        // The drum kit, not the melodic program number, plays a percussion track's strikes.
        instruments.push_back(percussion && !instrument.value_or(KeysoundInstrument{}).drums
                                  ? KeysoundInstrument{0, 0, true}
                                  : instrument.value_or(KeysoundInstrument{}));
    }
    return instruments;
}

KeysoundStates readKeysoundStates(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                                  const convert::ConversionSettings& settings, const ExclusiveClasses* classes)
{
    const song::TrackPart whole{trackNumber, 0};
    return readKeysoundStates(file, song, std::span<const song::TrackPart>(&whole, 1), settings, classes);
}

KeysoundStates readKeysoundStates(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                  std::span<const song::TrackPart> parts, const convert::ConversionSettings& settings,
                                  const ExclusiveClasses* classes)
{
    return KeysoundStates(readNoteStarts(file, song, parts, classes), stateMerge(settings, song));
}

}  // namespace zentrowe::keysound
