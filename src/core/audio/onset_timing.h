#pragma once

#include "core/audio/stereo_sound.h"

namespace zentrowe::audio {

// How far a sound's note starts lie from a reference's: each reduced to an onset envelope (the
// rise of its level, in hops of 5 ms), the two cross-correlated over lags up to kLongestLagSeconds
// either way, for the whole and for each stretch of kTimingStretchSeconds (every half stretch)
// where both have note starts. A positive lag: the candidate sounds late.
inline constexpr double kLongestLagSeconds = 0.200;
inline constexpr double kTimingStretchSeconds = 10;

struct TimingComparison {
    bool measured = false;       // false: neither sound has a note start to go by
    double lagSeconds = 0;       // the whole
    double worstStretch = 0;     // start, in seconds, of the stretch whose lag is largest
    double worstLagSeconds = 0;  // that stretch's lag (the whole's when no stretch has notes)
    int stretches = 0;           // stretches measured
};

// Compares `candidate` with `reference` from their first frames, both at one sample rate (above
// 0). Among the lags whose match is nearly the best, the one nearest 0 is taken: notes evenly
// spaced match every period apart, and a sound in time must not read as a period late.
TimingComparison compareTiming(const StereoSound& reference, const StereoSound& candidate);

}  // namespace zentrowe::audio
