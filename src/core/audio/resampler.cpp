#include "core/audio/resampler.h"

#include <samplerate.h>

#include <cmath>

namespace zentrowe::audio {

std::vector<float> resampleStereo(std::span<const float> samples, int fromRate, int toRate)
{
    if (fromRate <= 0 || toRate <= 0) {
        return {};
    }
    if (fromRate == toRate) {
        return {samples.begin(), samples.end()};
    }
    constexpr int kChannels = 2;
    const double ratio = static_cast<double>(toRate) / fromRate;
    const auto inputFrames = static_cast<long>(samples.size() / kChannels);
    const auto outputFrames = static_cast<long>(std::ceil(static_cast<double>(inputFrames) * ratio));
    std::vector<float> out(static_cast<std::size_t>(outputFrames) * kChannels);
    if (inputFrames == 0 || outputFrames == 0) {
        return out;
    }
    SRC_DATA data{};
    data.data_in = samples.data();
    data.data_out = out.data();
    data.input_frames = inputFrames;
    data.output_frames = outputFrames;
    data.end_of_input = 1;
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, kChannels) != 0) {
        return {};
    }
    out.resize(static_cast<std::size_t>(data.output_frames_gen) * kChannels);
    return out;
}

}  // namespace zentrowe::audio
