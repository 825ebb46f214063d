#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/base/chunk_arena.h"

namespace zentrowe::audio {

// A rendered sound kept in half the memory of floats: 16-bit samples, each stretch of
// kCompactStretchFrames frames scaled to its own peak, so the rounding stays 96 dB below the
// stretch's peak, under the step of any 16-bit file a later gain can make.
struct CompactSound {
    std::span<std::int16_t> samples;  // interleaved stereo
    std::span<float> steps;           // per stretch, the value of one step of its samples
};

inline constexpr std::size_t kCompactStretchFrames = 1024;

// The bytes a CompactSound of `samples` interleaved samples takes.
std::size_t compactSoundBytes(std::size_t samples);

// `interleaved` (stereo floats) packed into memory taken from `memory`. A stretch whose peak is
// zero or not finite (a NaN among its samples too), or too small for its step to have an inverse
// (below 1e-34), is kept as silence.
CompactSound compactSound(std::span<const float> interleaved, ChunkArena& memory);

// Samples [from, from + out.size()) of `sound`, each times `gain`, written over `out` or added
// to it. The range must lie within the sound.
void expandSound(const CompactSound& sound, std::size_t from, std::span<float> out, float gain, bool add);

}  // namespace zentrowe::audio
