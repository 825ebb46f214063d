#pragma once

#include <cstddef>
#include <vector>

namespace zentrowe::audio {

// Sound as the mixer works with it: interleaved left/right float samples, full scale at ±1.
struct StereoSound {
    int sampleRate = 0;
    std::vector<float> samples;

    std::size_t frames() const { return samples.size() / 2; }
};

}  // namespace zentrowe::audio
