#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::audio {

// Converts interleaved stereo from one rate to another by band-limited interpolation, a block at
// a time, so that a long sound never has to be held whole at its own rate. The converter takes
// ratios up to 256 either way; a larger one (a 100 Hz sound mixed at 44,100 Hz) goes through
// equal steps, each within that. Onsets stay where they were.
class StreamResampler {
public:
    // InvalidSetting for a rate of 0 or less; CannotOpen with the converter's reason if it
    // cannot be set up.
    static Result<StreamResampler> open(int fromRate, int toRate);

    StreamResampler(StreamResampler&&) noexcept;
    StreamResampler& operator=(StreamResampler&&) noexcept;
    ~StreamResampler();

    // Appends to `out` what `in` converts to; `last` for the final block (which may be empty)
    // drains what the converter still holds. An error carries the converter's reason.
    Status process(std::span<const float> in, bool last, std::vector<float>& out);

private:
    struct Stage;
    explicit StreamResampler(std::vector<std::unique_ptr<Stage>> stages);

    std::vector<std::unique_ptr<Stage>> m_stages;
};

// A whole sound converted in one go (see StreamResampler); the same samples when the rates agree.
Result<std::vector<float>> resampleStereo(std::span<const float> samples, int fromRate, int toRate);

}  // namespace zentrowe::audio
