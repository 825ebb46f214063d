#include "core/keysound/keysound_midi_writer.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "core/base/exact_ratio.h"

namespace zentrowe::keysound {

namespace {

constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kProgramChange = 0xC0;
constexpr std::uint8_t kBankSelect = 0x00;  // controller 0: bank select, most significant part
constexpr std::uint8_t kMelodicChannel = 0;
constexpr std::uint8_t kDrumChannel = 9;  // channel 10, the General MIDI drum kit
constexpr int kTicksPerQuarter = 96;

// Byte by byte: GCC 12 at -O3 reports false overflows for range inserts into byte vectors.
void appendBytes(std::vector<std::uint8_t>& out, std::initializer_list<std::uint8_t> bytes)
{
    for (const std::uint8_t byte : bytes) {
        out.push_back(byte);
    }
}

void appendBytes(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes)
{
    for (const std::uint8_t byte : bytes) {
        out.push_back(byte);
    }
}

}  // namespace

std::vector<std::uint8_t> encodeVarLen(std::uint64_t value)
{
    std::array<std::uint8_t, 10> groups{};  // least significant group first
    std::size_t count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(count);
    while (count > 1) {
        bytes.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    }
    bytes.push_back(groups[0]);
    return bytes;
}

std::array<std::uint8_t, 4> encodeLongBytes(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::uint64_t keysoundMidiDuration(std::int64_t durationTicks, std::int32_t ticksPerQuarter)
{
    assert(durationTicks >= 0 && ticksPerQuarter > 0);
    const std::int64_t held = std::min(durationTicks, convert::kLongestDurationTicks);
    return static_cast<std::uint64_t>(roundRatioHalfEven(held * kTicksPerQuarter, ticksPerQuarter));
}

Result<std::vector<std::uint8_t>> buildKeysoundMidi(const convert::KeysoundTable& keysounds,
                                                    std::span<const KeysoundInstrument> instruments,
                                                    std::int32_t ticksPerQuarter,
                                                    std::array<std::uint8_t, 3> tempoBytes, std::int32_t gapTicks)
{
    assert(gapTicks >= 0 && static_cast<std::uint64_t>(gapTicks) <= kLongestDeltaTicks);
    assert(instruments.empty() || instruments.size() == keysounds.size());
    for (const auto& entry : keysounds.entries()) {
        if (keysoundMidiDuration(entry.duration, ticksPerQuarter) > kLongestDeltaTicks) {
            return Error{ErrorCode::NoteTooLong,
                         "the note at tick " + std::to_string(entry.startTime) +
                             " lasts longer than K-Midi.mid can hold: " + std::to_string(kLongestDeltaTicks) +
                             " of its ticks (96 a quarter note), the most a MIDI delta time counts"}
                .withNumber(entry.startTime);
        }
    }
    const auto gap = encodeVarLen(static_cast<std::uint64_t>(gapTicks));
    std::vector<std::uint8_t> file;
    file.reserve(64 + (keysounds.size() + 1) * (gap.size() + 22));
    appendBytes(file,
                {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, kTicksPerQuarter, 'M', 'T', 'r', 'k', 0, 0, 0, 0});
    constexpr std::size_t kTrackStart = 22;
    appendBytes(file, {0x00, 0xFF, 0x51, 0x03, tempoBytes[0], tempoBytes[1], tempoBytes[2]});

    // An empty table still writes the pair of a cleared entry: note 0, velocity 0, duration 0.
    static const convert::KeysoundEntry kSilent{};
    const std::size_t count = keysounds.empty() ? 1 : keysounds.size();
    KeysoundInstrument previous;
    for (std::size_t k = 0; k < count; ++k) {
        const auto& entry = keysounds.empty() ? kSilent : keysounds[k];
        const KeysoundInstrument instrument = instruments.empty() ? KeysoundInstrument{} : instruments[k];
        const std::uint8_t channel = instrument.drums ? kDrumChannel : kMelodicChannel;
        const bool changed = k == 0 || instrument != previous;
        if (changed) {
            // At the end of the previous note, a whole gap before this one: the synthesiser has
            // switched before the Note On, and the earlier note's release keeps its own sound.
            appendBytes(file, {0x00, static_cast<std::uint8_t>(kControlChange | channel), kBankSelect,
                               static_cast<std::uint8_t>(instrument.bank & 0x7F), 0x00,
                               static_cast<std::uint8_t>(kProgramChange | channel),
                               static_cast<std::uint8_t>(instrument.program & 0x7F)});
            previous = instrument;
        }
        appendBytes(file, gap);
        if (changed) {
            file.push_back(static_cast<std::uint8_t>(kNoteOn | channel));  // later notes rely on running status
        }
        appendBytes(file, {entry.note, entry.velocity});
        const auto duration = encodeVarLen(keysoundMidiDuration(entry.duration, ticksPerQuarter));
        appendBytes(file, duration);
        appendBytes(file, {entry.note, 0x00});  // the note ends with a Note On of velocity 0
    }
    appendBytes(file, gap);
    appendBytes(file, {0xFF, 0x2F, 0x00});

    const auto length = encodeLongBytes(static_cast<std::uint32_t>(file.size() - kTrackStart));
    for (std::size_t i = 0; i < length.size(); ++i) {
        file[kTrackStart - 4 + i] = length[i];
    }
    return file;
}

}  // namespace zentrowe::keysound
