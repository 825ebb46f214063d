#pragma once

#include <cstdint>
#include <string>

namespace zentrowe::convert {

// Tells keysounds apart by more than note, length and velocity: a build renders each note with
// the channel state in force when it starts, so two notes alike in those three but played at
// another volume, pan, pitch bend or sounding length are two keysounds. `convert` has none, and
// every note is variant 0.
class KeysoundVariants {
public:
    virtual ~KeysoundVariants() = default;
    // The variant of the track's note start number `startOrder` (0-based, counting the Note Ons
    // the conversion makes notes of, in track order).
    virtual std::uint32_t variantOf(std::uint64_t startOrder) const = 0;
    // What the variant adds to a keysound's file stem; empty where it adds nothing.
    virtual std::string suffixOf(std::uint32_t variant) const = 0;
};

}  // namespace zentrowe::convert
