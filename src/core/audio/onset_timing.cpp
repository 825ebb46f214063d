#include "core/audio/onset_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zentrowe::audio {

namespace {

constexpr double kHopSeconds = 0.005;
// Power below this (-60 dBFS) counts as silence, so that noise at the bottom of a fade is no onset.
constexpr double kPowerFloor = 1e-6;
// A lag whose match is at least this share of the best one is a candidate.
constexpr double kNearlyBest = 0.9;
// A stretch whose onsets add up to less than this share of the busiest stretch's is left out:
// a lone soft note does not make a lag of its own.
constexpr double kLeastStretchShare = 0.05;

// The rise of the level from one hop to the next, in natural log units of power.
std::vector<double> onsetEnvelope(const StereoSound& sound, std::size_t hopFrames)
{
    const std::size_t hops = sound.frames() / hopFrames + 1;
    std::vector<double> level(hops, std::log(kPowerFloor));
    for (std::size_t hop = 0; hop < hops; ++hop) {
        const std::size_t from = hop * hopFrames;
        const std::size_t to = std::min(from + hopFrames, sound.frames());
        if (from >= to) {
            break;
        }
        double power = 0;
        for (std::size_t frame = from; frame < to; ++frame) {
            const double mid = 0.5 * (sound.samples[2 * frame] + sound.samples[2 * frame + 1]);
            power += mid * mid;
        }
        level[hop] = std::log(std::max(power / static_cast<double>(to - from), kPowerFloor));
    }
    std::vector<double> onsets(hops, 0.0);
    for (std::size_t hop = 1; hop < hops; ++hop) {
        onsets[hop] = std::max(0.0, level[hop] - level[hop - 1]);
    }
    return onsets;
}

// The candidate's lag, in hops (a fraction between two), over reference hops [from, to); none
// when either has no onset there.
struct Lag {
    bool found = false;
    double hops = 0;
};

Lag bestLag(const std::vector<double>& reference, const std::vector<double>& candidate, std::size_t from,
            std::size_t to, int longestLag)
{
    double referenceSum = 0;
    double candidateSum = 0;
    for (std::size_t i = from; i < to && i < reference.size(); ++i) {
        referenceSum += reference[i];
    }
    for (std::size_t i = from; i < to && i < candidate.size(); ++i) {
        candidateSum += candidate[i];
    }
    if (referenceSum <= 0 || candidateSum <= 0) {
        return {};
    }
    const auto size = static_cast<std::int64_t>(candidate.size());
    std::vector<double> match(static_cast<std::size_t>(2 * longestLag + 1), 0.0);
    for (int lag = -longestLag; lag <= longestLag; ++lag) {
        double sum = 0;
        for (std::size_t i = from; i < to && i < reference.size(); ++i) {
            const std::int64_t j = static_cast<std::int64_t>(i) + lag;
            if (j >= 0 && j < size && reference[i] > 0) {
                sum += reference[i] * candidate[static_cast<std::size_t>(j)];
            }
        }
        match[static_cast<std::size_t>(lag + longestLag)] = sum;
    }
    const double best = *std::max_element(match.begin(), match.end());
    if (best <= 0) {
        return {};
    }
    // The local peaks nearly as good as the best; the one nearest 0 wins.
    std::size_t chosen = match.size();
    for (std::size_t k = 0; k < match.size(); ++k) {
        const bool peak = (k == 0 || match[k] >= match[k - 1]) && (k + 1 == match.size() || match[k] >= match[k + 1]);
        if (!peak || match[k] < kNearlyBest * best) {
            continue;
        }
        const auto distance = [&](std::size_t at) { return std::abs(static_cast<int>(at) - longestLag); };
        if (chosen == match.size() || distance(k) < distance(chosen)) {
            chosen = k;
        }
    }
    // A parabola through the peak and its neighbours places it between hops.
    double offset = 0;
    if (chosen > 0 && chosen + 1 < match.size()) {
        const double left = match[chosen - 1];
        const double centre = match[chosen];
        const double right = match[chosen + 1];
        const double curve = left - 2 * centre + right;
        if (curve < 0) {
            offset = std::clamp(0.5 * (left - right) / curve, -0.5, 0.5);
        }
    }
    return {true, static_cast<double>(chosen) - longestLag + offset};
}

}  // namespace

TimingComparison compareTiming(const StereoSound& reference, const StereoSound& candidate)
{
    TimingComparison out;
    const int rate = reference.sampleRate;
    const auto hopFrames = static_cast<std::size_t>(std::max(1L, std::lround(kHopSeconds * rate)));
    const double hopSeconds = static_cast<double>(hopFrames) / rate;
    const int longestLag = static_cast<int>(std::lround(kLongestLagSeconds / hopSeconds));
    const auto referenceOnsets = onsetEnvelope(reference, hopFrames);
    const auto candidateOnsets = onsetEnvelope(candidate, hopFrames);

    const Lag whole = bestLag(referenceOnsets, candidateOnsets, 0, referenceOnsets.size(), longestLag);
    if (!whole.found) {
        return out;
    }
    out.measured = true;
    out.lagSeconds = whole.hops * hopSeconds;
    out.worstLagSeconds = out.lagSeconds;

    const auto stretchHops = static_cast<std::size_t>(std::lround(kTimingStretchSeconds / hopSeconds));
    const std::size_t step = stretchHops / 2;
    std::vector<std::pair<std::size_t, double>> strengths;  // start hop, onsets of the reference there
    double busiest = 0;
    for (std::size_t from = 0; from < referenceOnsets.size(); from += step) {
        const std::size_t to = std::min(from + stretchHops, referenceOnsets.size());
        double strength = 0;
        for (std::size_t i = from; i < to; ++i) {
            strength += referenceOnsets[i];
        }
        strengths.emplace_back(from, strength);
        busiest = std::max(busiest, strength);
        if (to == referenceOnsets.size()) {
            break;
        }
    }
    bool first = true;
    for (const auto& [from, strength] : strengths) {
        if (strength < kLeastStretchShare * busiest) {
            continue;
        }
        const Lag lag = bestLag(referenceOnsets, candidateOnsets, from, from + stretchHops, longestLag);
        if (!lag.found) {
            continue;
        }
        ++out.stretches;
        const double seconds = lag.hops * hopSeconds;
        if (first || std::fabs(seconds) > std::fabs(out.worstLagSeconds)) {
            out.worstLagSeconds = seconds;
            out.worstStretch = static_cast<double>(from) * hopSeconds;
            first = false;
        }
    }
    return out;
}

}  // namespace zentrowe::audio
