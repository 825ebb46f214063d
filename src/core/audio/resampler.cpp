#include "core/audio/resampler.h"

#include <samplerate.h>

#include <cmath>
#include <string>

namespace zentrowe::audio {

namespace {

constexpr int kChannels = 2;
constexpr double kLargestStepRatio = 256;  // SRC_MAX_RATIO of the converter
constexpr long kOutputBlockFrames = 4096;

}  // namespace

struct StreamResampler::Stage {
    SRC_STATE* state = nullptr;
    double ratio = 1;

    ~Stage()
    {
        if (state != nullptr) {
            src_delete(state);
        }
    }
};

StreamResampler::StreamResampler(std::vector<std::unique_ptr<Stage>> stages) : m_stages(std::move(stages))
{
}
StreamResampler::StreamResampler(StreamResampler&&) noexcept = default;
StreamResampler& StreamResampler::operator=(StreamResampler&&) noexcept = default;
StreamResampler::~StreamResampler() = default;

Result<StreamResampler> StreamResampler::open(int fromRate, int toRate)
{
    if (fromRate <= 0 || toRate <= 0) {
        return Error{ErrorCode::InvalidSetting, "a sample rate must be above 0"};
    }
    std::vector<std::unique_ptr<Stage>> stages;
    if (fromRate == toRate) {
        return StreamResampler(std::move(stages));
    }
    const double ratio = static_cast<double>(toRate) / fromRate;
    int steps = 1;
    while (std::fabs(std::log(ratio)) / steps > std::log(kLargestStepRatio)) {
        ++steps;
    }
    for (int step = 0; step < steps; ++step) {
        auto stage = std::make_unique<Stage>();
        int error = 0;
        stage->state = src_new(SRC_SINC_MEDIUM_QUALITY, kChannels, &error);
        if (stage->state == nullptr) {
            return Error{ErrorCode::CannotOpen, std::string("the resampler failed: ") + src_strerror(error)};
        }
        stage->ratio = std::pow(ratio, 1.0 / steps);
        stages.push_back(std::move(stage));
    }
    return StreamResampler(std::move(stages));
}

Status StreamResampler::process(std::span<const float> in, bool last, std::vector<float>& out)
{
    if (m_stages.empty()) {
        out.insert(out.end(), in.begin(), in.end());
        return {};
    }
    std::vector<float> between;
    std::vector<float> next;
    std::span<const float> input = in;
    for (std::size_t s = 0; s < m_stages.size(); ++s) {
        Stage& stage = *m_stages[s];
        std::vector<float>& target = s + 1 == m_stages.size() ? out : next;
        long remaining = static_cast<long>(input.size() / kChannels);
        // The converter takes no input pointer as "no data" and then never drains; an empty
        // block still points somewhere.
        static constexpr float kNothing[kChannels] = {};
        const float* at = input.empty() ? kNothing : input.data();
        // Until the input is taken and, on the last block, until the converter has nothing left.
        for (;;) {
            const std::size_t start = target.size();
            target.resize(start + static_cast<std::size_t>(kOutputBlockFrames) * kChannels);
            SRC_DATA data{};
            data.data_in = at;
            data.input_frames = remaining;
            data.data_out = target.data() + start;
            data.output_frames = kOutputBlockFrames;
            data.end_of_input = last ? 1 : 0;
            data.src_ratio = stage.ratio;
            if (const int error = src_process(stage.state, &data); error != 0) {
                target.resize(start);
                return Error{ErrorCode::CannotOpen, std::string("the resampler failed: ") + src_strerror(error)};
            }
            target.resize(start + static_cast<std::size_t>(data.output_frames_gen) * kChannels);
            at += data.input_frames_used * kChannels;
            remaining -= data.input_frames_used;
            if (remaining == 0 && (!last || data.output_frames_gen == 0)) {
                break;
            }
            if (data.input_frames_used == 0 && data.output_frames_gen == 0 && !last) {
                break;  // the converter keeps the rest for the next block
            }
        }
        if (s + 1 < m_stages.size()) {
            between.swap(next);
            next.clear();
            input = between;
        }
    }
    return {};
}

Result<std::vector<float>> resampleStereo(std::span<const float> samples, int fromRate, int toRate)
{
    auto resampler = StreamResampler::open(fromRate, toRate);
    if (!resampler) {
        return resampler.error();
    }
    std::vector<float> out;
    if (auto done = resampler->process(samples, true, out); !done) {
        return done.error();
    }
    return out;
}

}  // namespace zentrowe::audio
