#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <utility>

#include "core/base/result.h"
#include "core/keysound/keysound_instruments.h"

namespace zentrowe::keysound {

// A soundfont's choke groups: the exclusiveClass generator of its instrument zones. A note of a
// class silences, quickly, whatever the same channel still sounds of that class: the open, closed
// and pedal hi-hat of every General MIDI drum kit, and any other group the soundfont defines, on
// drum kits and melodic presets alike.
class ExclusiveClasses {
public:
    using KeyClasses = std::array<std::uint16_t, 128>;  // per key; 0: no class

    // The class of `key` played by `instrument`, 0 for none. The preset is found as the
    // synthesiser finds it: a melodic program of `bank`, else of bank 0; a drum kit of bank 128,
    // else kit 0.
    std::uint16_t classOf(const KeysoundInstrument& instrument, std::uint8_t key) const;
    bool empty() const { return m_presets.empty(); }

    // Sets the classes of the preset `program` of `bank` (128 holds the drum kits).
    void setPreset(int bank, int program, const KeyClasses& classes);

private:
    const KeyClasses* preset(int bank, int program) const;

    std::map<std::pair<int, int>, KeyClasses> m_presets;  // only presets with a class
};

// Where a soundfont keeps its drum kits.
inline constexpr int kDrumKitBank = 128;

// The choke groups of the SoundFont 2 file `soundFont`, read from its preset and instrument
// zones (key ranges and the instrument and exclusiveClass generators; other generators, and the
// sample data, are left alone). Only the "pdta" list is read. CannotOpen if the file cannot be
// read or is not a RIFF "sfbk" file with a whole "pdta" list; a zone pointing past its tables is
// skipped, so a damaged soundfont gives the classes of its sound presets.
Result<ExclusiveClasses> readExclusiveClasses(const std::filesystem::path& soundFont);

// The same from the bytes of a "pdta" list's body (its sub-chunks phdr, pbag, pgen, inst, ibag,
// igen; others skipped). Nothing found where a table is missing.
ExclusiveClasses exclusiveClassesOf(std::span<const std::uint8_t> presetData);

}  // namespace zentrowe::keysound
