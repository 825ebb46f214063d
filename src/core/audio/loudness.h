#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "core/base/result.h"

namespace zentrowe::audio {

// Loudness of a whole programme as EBU R128 measures it. Silence (or a programme shorter than
// one 400 ms gating block) has no loudness: -infinity, as has the true peak of digital silence.
struct LoudnessMeasure {
    double integratedLufs = 0;  // gated integrated loudness, LUFS
    double truePeakDbtp = 0;    // the highest inter-sample peak of either channel, dBTP
};

// Feeds interleaved stereo float sound, in as many pieces as convenient, to an EBU R128 meter.
class LoudnessMeter {
public:
    // What a meter measures; the true peak (four times oversampled) costs the most.
    enum class Measures { LoudnessAndTruePeak, Loudness, TruePeak };

    // InvalidSetting for a rate outside 1 kHz..768 kHz; OutOfMemory if the meter cannot be made.
    // What it does not measure, measure() gives as -infinity.
    static Result<LoudnessMeter> open(int sampleRate, Measures measures = Measures::LoudnessAndTruePeak);

    LoudnessMeter(LoudnessMeter&&) noexcept;
    LoudnessMeter& operator=(LoudnessMeter&&) noexcept;
    ~LoudnessMeter();

    // `interleaved` holds whole left/right frames; a trailing odd sample is ignored.
    void add(std::span<const float> interleaved);
    LoudnessMeasure measure() const;

private:
    struct State;
    explicit LoudnessMeter(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// What a normalisation aims for: the loudness to reach, and the true peak not to pass.
struct LoudnessTarget {
    double lufs = -14;              // what streaming services play at
    double truePeakLimitDbtp = -1;  // headroom for lossy encoding's overshoot
};

enum class LoudnessBound {
    Loudness,  // the programme reaches the target loudness
    TruePeak,  // its true peak would pass the limit first, so it stays quieter
    Silent,    // nothing to measure: no gain
};

struct LoudnessGain {
    double gainDb = 0;
    LoudnessBound bound = LoudnessBound::Silent;
    LoudnessMeasure after;  // the measure once the gain is applied
};

// The one gain that brings `measured` to the target loudness without its true peak passing the
// limit, whichever bound is met first. A gain applies to loudness and peak alike, so the result
// is exact without measuring again.
LoudnessGain normalisingGain(const LoudnessMeasure& measured, const LoudnessTarget& target);

// 10^(dB/20).
double amplitudeOfDb(double db);

}  // namespace zentrowe::audio
