#include "core/audio/loudness.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include <ebur128.h>

namespace zentrowe::audio {

namespace {

constexpr unsigned kChannels = 2;
constexpr int kLowestRate = 1000;
constexpr int kHighestRate = 768000;
constexpr double kSilence = -std::numeric_limits<double>::infinity();

}  // namespace

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
    ~State()
    {
        if (meter != nullptr) {
            ebur128_destroy(&meter);
        }
    }
};

LoudnessMeter::LoudnessMeter(std::unique_ptr<State> state) : m_state(std::move(state))
{
}
LoudnessMeter::LoudnessMeter(LoudnessMeter&&) noexcept = default;
LoudnessMeter& LoudnessMeter::operator=(LoudnessMeter&&) noexcept = default;
LoudnessMeter::~LoudnessMeter() = default;

Result<LoudnessMeter> LoudnessMeter::open(int sampleRate, Measures measures)
{
    if (sampleRate < kLowestRate || sampleRate > kHighestRate) {
        return Error{ErrorCode::InvalidSetting,
                     "a loudness meter takes rates of 1 kHz to 768 kHz, not " + std::to_string(sampleRate) + " Hz"}
            .about("sampleRate")
            .withNumber(sampleRate);
    }
    auto state = std::make_unique<State>();
    const int mode = measures == Measures::Loudness   ? EBUR128_MODE_I
                     : measures == Measures::TruePeak ? EBUR128_MODE_TRUE_PEAK
                                                      : EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK;
    state->meter = ebur128_init(kChannels, static_cast<unsigned long>(sampleRate), mode);
    if (state->meter == nullptr) {
        throw std::bad_alloc();
    }
    return LoudnessMeter(std::move(state));
}

void LoudnessMeter::add(std::span<const float> interleaved)
{
    const std::size_t frames = interleaved.size() / kChannels;
    if (frames > 0) {
        ebur128_add_frames_float(m_state->meter, interleaved.data(), frames);
    }
}

LoudnessMeasure LoudnessMeter::measure() const
{
    LoudnessMeasure measured{kSilence, kSilence};
    double loudness = 0;
    // libebur128 reports -HUGE_VAL for a programme whose every block is gated away.
    if (ebur128_loudness_global(m_state->meter, &loudness) == EBUR128_SUCCESS && std::isfinite(loudness)) {
        measured.integratedLufs = loudness;
    }
    double peak = 0;
    for (unsigned channel = 0; channel < kChannels; ++channel) {
        double channelPeak = 0;
        if (ebur128_true_peak(m_state->meter, channel, &channelPeak) == EBUR128_SUCCESS) {
            peak = std::max(peak, channelPeak);
        }
    }
    if (peak > 0) {
        measured.truePeakDbtp = 20 * std::log10(peak);
    }
    return measured;
}

LoudnessGain normalisingGain(const LoudnessMeasure& measured, const LoudnessTarget& target)
{
    LoudnessGain gain;
    gain.after = measured;
    if (!std::isfinite(measured.integratedLufs) || !std::isfinite(measured.truePeakDbtp)) {
        return gain;
    }
    const double toLoudness = target.lufs - measured.integratedLufs;
    const double toPeak = target.truePeakLimitDbtp - measured.truePeakDbtp;
    gain.bound = toLoudness <= toPeak ? LoudnessBound::Loudness : LoudnessBound::TruePeak;
    gain.gainDb = std::min(toLoudness, toPeak);
    gain.after.integratedLufs += gain.gainDb;
    gain.after.truePeakDbtp += gain.gainDb;
    return gain;
}

double amplitudeOfDb(double db)
{
    return std::pow(10.0, db / 20.0);
}

}  // namespace zentrowe::audio
