#include "core/audio/compact_sound.h"

#include <algorithm>
#include <cmath>

namespace zentrowe::audio {

namespace {

constexpr std::size_t kStretch = kCompactStretchFrames * 2;  // samples of a stretch, both channels

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
        float peak = 0;
        for (const float sample : in) {
            peak = std::max(peak, std::fabs(sample));
        }
        std::int16_t* out = sound.samples.data() + stretch * kStretch;
        if (!(peak > 0) || !std::isfinite(peak)) {
            // Silent (a renderer gives no other non-finite sound).
            sound.steps[stretch] = 0;
            std::fill(out, out + in.size(), std::int16_t{0});
            continue;
        }
        const float step = peak / 32767;
        const float inverse = 1 / step;
        sound.steps[stretch] = step;
        for (std::size_t i = 0; i < in.size(); ++i) {
            out[i] = static_cast<std::int16_t>(std::clamp(std::lrint(in[i] * inverse), -32767L, 32767L));
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
