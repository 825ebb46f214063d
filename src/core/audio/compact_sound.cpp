#include "core/audio/compact_sound.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

namespace zentrowe::audio {

namespace {

constexpr std::size_t kStretch = kCompactStretchFrames * 2;  // samples of a stretch, both channels

// The largest magnitude of `in`, as the bits of a float: below 0x7F800000 (infinity) the bits of
// magnitudes are in the order of their values, and a NaN's are above it. Whole numbers make a
// loop that becomes vector instructions, where a maximum of floats, which must mind NaN, does not.
std::uint32_t peakBits(std::span<const float> in)
{
    std::uint32_t peak = 0;
    for (const float sample : in) {
        peak = std::max(peak, std::bit_cast<std::uint32_t>(sample) & 0x7FFFFFFFU);
    }
    return peak;
}

// lrint's rounding (to the nearest whole number, ties to even) of `x`, |x| < 2^22: adding 1.5 *
// 2^23 leaves no bits for a fraction, and taking it away again is exact. Unlike a call of lrint,
// a loop of it becomes vector instructions.
float roundToWhole(float x)
{
    constexpr float kShift = 12582912.0F;
    return (x + kShift) - kShift;
}

}  // namespace

std::size_t compactSoundBytes(std::size_t samples)
{
    return samples * sizeof(std::int16_t) + (samples / kStretch + 1) * sizeof(float);
}

CompactSound compactSound(std::span<const float> interleaved, ChunkArena& memory)
{
    CompactSound sound;
    sound.samples = {memory.allocateArray<std::int16_t>(interleaved.size()), interleaved.size()};
    const std::size_t stretches = (interleaved.size() + kStretch - 1) / kStretch;
    sound.steps = {memory.allocateArray<float>(stretches), stretches};
    for (std::size_t stretch = 0; stretch < sound.steps.size(); ++stretch) {
        const auto in =
            interleaved.subspan(stretch * kStretch, std::min(kStretch, interleaved.size() - stretch * kStretch));
        const std::uint32_t bits = peakBits(in);
        const float step = std::bit_cast<float>(bits) / 32767;
        const float inverse = 1 / step;
        std::int16_t* out = sound.samples.data() + stretch * kStretch;
        if (bits >= std::bit_cast<std::uint32_t>(std::numeric_limits<float>::infinity()) || !std::isfinite(inverse)) {
            // Silent, not a sound (a renderer gives no other non-finite sound), or so quiet that
            // its step has no inverse.
            sound.steps[stretch] = 0;
            std::fill(out, out + in.size(), std::int16_t{0});
            continue;
        }
        sound.steps[stretch] = step;
        for (std::size_t i = 0; i < in.size(); ++i) {
            out[i] = static_cast<std::int16_t>(std::clamp(roundToWhole(in[i] * inverse), -32767.0F, 32767.0F));
        }
    }
    return sound;
}

void expandSound(const CompactSound& sound, std::size_t from, std::span<float> out, float gain, bool add)
{
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t at = from + i;
        const float step = sound.steps[at / kStretch] * gain;
        const std::size_t end = std::min(out.size(), i + kStretch - at % kStretch);
        const std::int16_t* in = sound.samples.data() + from;
        if (add) {
            for (; i < end; ++i) {
                out[i] += static_cast<float>(in[i]) * step;
            }
        } else {
            for (; i < end; ++i) {
                out[i] = static_cast<float>(in[i]) * step;
            }
        }
    }
}

}  // namespace zentrowe::audio
