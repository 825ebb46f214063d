#include "core/audio/programme_loudness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "core/base/job_runner.h"

namespace zentrowe::audio {

namespace {

constexpr double kAbsoluteGateLufs = -70;
constexpr double kRelativeGateLu = -10;
constexpr double kLoudnessOffset = -0.691;  // BS.1770: loudness = -0.691 + 10 log10(energy)
constexpr int kSubBlocksPerBlock = 4;       // gating blocks of 400 ms, one every 100 ms
constexpr double kSettleSeconds = 1;        // the K-weighting's slowest pole has died away by then
constexpr std::int64_t kPeakContext = 256;  // frames around a loud stretch, past the interpolator's reach

// A second-order section, transposed direct form II.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1 = 0, s2 = 0;

    double run(double x)
    {
        const double y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
};

// The K-weighting of BS.1770 at any rate: the high shelf of the head, then the RLB high-pass,
// from the analogue prototypes the recommendation's 48 kHz coefficients come from.
std::array<Biquad, 2> kWeighting(int rate)
{
    Biquad shelf;
    {
        const double f0 = 1681.974450955533;
        const double gainDb = 3.999843853973347;
        const double q = 0.7071752369554196;
        const double k = std::tan(std::numbers::pi * f0 / rate);
        const double vh = std::pow(10.0, gainDb / 20);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1 + k / q + k * k;
        shelf.b0 = (vh + vb * k / q + k * k) / a0;
        shelf.b1 = 2 * (k * k - vh) / a0;
        shelf.b2 = (vh - vb * k / q + k * k) / a0;
        shelf.a1 = 2 * (k * k - 1) / a0;
        shelf.a2 = (1 - k / q + k * k) / a0;
    }
    Biquad highPass;
    {
        const double f0 = 38.13547087602444;
        const double q = 0.5003270373238773;
        const double k = std::tan(std::numbers::pi * f0 / rate);
        const double a0 = 1 + k / q + k * k;
        highPass.b0 = 1;
        highPass.b1 = -2;
        highPass.b2 = 1;
        highPass.a1 = 2 * (k * k - 1) / a0;
        highPass.a2 = (1 - k / q + k * k) / a0;
    }
    return {shelf, highPass};
}

// The 4x oversampling interpolator of the true peak: a 48-tap windowed sinc cut off at the
// original Nyquist frequency, as four phases of 12 taps.
constexpr int kPhases = 4;
constexpr int kTapsPerPhase = 12;

std::array<std::array<float, kTapsPerPhase>, kPhases> interpolator()
{
    constexpr int kTaps = kPhases * kTapsPerPhase;
    std::array<std::array<float, kTapsPerPhase>, kPhases> phases{};
    for (int n = 0; n < kTaps; ++n) {
        const double t = (n - (kTaps - 1) / 2.0) / kPhases;
        const double sinc = t == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
        const double window = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * (n + 0.5) / kTaps) +
                              0.08 * std::cos(4 * std::numbers::pi * (n + 0.5) / kTaps);  // Blackman
        phases[static_cast<std::size_t>(n % kPhases)][static_cast<std::size_t>(n / kPhases)] =
            static_cast<float>(sinc * window);
    }
    return phases;
}

// What one thread measures of its stretch: per 100 ms, the K-weighted energy (summed over both
// channels) and the highest sample.
struct Stretch {
    std::int64_t firstSubBlock = 0;
    std::vector<double> energy;
    std::vector<float> peaks;
};

void measureStretch(const ProgrammeReader& read, std::int64_t frames, int rate, std::int64_t subFrames,
                    Stretch& stretch)
{
    auto filters = std::array{kWeighting(rate), kWeighting(rate)};  // one pair per channel
    const std::int64_t start = stretch.firstSubBlock * subFrames;
    const std::int64_t end =
        std::min(frames, (stretch.firstSubBlock + static_cast<std::int64_t>(stretch.peaks.size())) * subFrames);
    const std::int64_t from = std::max<std::int64_t>(0, start - static_cast<std::int64_t>(kSettleSeconds * rate));
    std::int64_t at = from;
    read(from, end, [&](std::span<const float> piece) {
        std::size_t i = 0;
        // Settling: filtered, not counted.
        for (; i + 1 < piece.size() && at < start; i += 2, ++at) {
            filters[0][1].run(filters[0][0].run(piece[i]));
            filters[1][1].run(filters[1][0].run(piece[i + 1]));
        }
        while (i + 1 < piece.size()) {
            const auto sub = static_cast<std::size_t>(at / subFrames - stretch.firstSubBlock);
            const std::int64_t subEnd = (at / subFrames + 1) * subFrames;
            double energy = 0;
            float peak = 0;
            for (; i + 1 < piece.size() && at < subEnd; i += 2, ++at) {
                const double left = filters[0][1].run(filters[0][0].run(piece[i]));
                const double right = filters[1][1].run(filters[1][0].run(piece[i + 1]));
                energy += left * left + right * right;
                peak = std::max({peak, std::fabs(piece[i]), std::fabs(piece[i + 1])});
            }
            stretch.energy[sub] += energy;
            stretch.peaks[sub] = std::max(stretch.peaks[sub], peak);
        }
    });
}

double gatedLoudness(const std::vector<double>& subEnergy, std::int64_t subFrames)
{
    // Blocks of four whole sub-blocks; a trailing part of one counts in none.
    std::vector<double> blocks;
    const double blockFrames = static_cast<double>(subFrames) * kSubBlocksPerBlock;
    for (std::size_t last = kSubBlocksPerBlock - 1; last < subEnergy.size(); ++last) {
        double sum = 0;
        for (std::size_t k = last + 1 - kSubBlocksPerBlock; k <= last; ++k) {
            sum += subEnergy[k];
        }
        blocks.push_back(sum / blockFrames);
    }
    const auto energyOf = [](double lufs) { return std::pow(10.0, (lufs - kLoudnessOffset) / 10); };
    const auto meanAbove = [&](double gate) {
        double sum = 0;
        std::size_t count = 0;
        for (const double block : blocks) {
            if (block >= gate) {
                sum += block;
                ++count;
            }
        }
        return count == 0 ? 0.0 : sum / static_cast<double>(count);
    };
    const double absoluteGate = energyOf(kAbsoluteGateLufs);
    const double ungated = meanAbove(absoluteGate);
    if (ungated <= 0) {
        return -std::numeric_limits<double>::infinity();
    }
    const double relativeGate = ungated * std::pow(10.0, kRelativeGateLu / 10);
    const double gated = meanAbove(std::max(absoluteGate, relativeGate));
    return gated > 0 ? kLoudnessOffset + 10 * std::log10(gated) : -std::numeric_limits<double>::infinity();
}

// The highest interpolated magnitude of frames [from, to), both channels. Each piece is laid out
// per channel after the last samples of the one before, so every phase is a plain sum of
// products over it (which the compiler turns into vector instructions).
float truePeakOf(const ProgrammeReader& read, std::int64_t from, std::int64_t to)
{
    constexpr std::size_t kHistory = kTapsPerPhase - 1;
    const auto phases = interpolator();
    std::array<std::vector<float>, 2> channels{std::vector<float>(kHistory, 0.0F), std::vector<float>(kHistory, 0.0F)};
    std::vector<float> sum;
    float highest = 0;
    read(from, to, [&](std::span<const float> piece) {
        const std::size_t n = piece.size() / 2;
        sum.resize(n);
        for (std::size_t c = 0; c < 2; ++c) {
            auto& x = channels[c];
            // Keep the last kHistory samples in front, then this piece.
            std::copy(x.end() - kHistory, x.end(), x.begin());
            x.resize(kHistory + n);
            for (std::size_t i = 0; i < n; ++i) {
                x[kHistory + i] = piece[2 * i + c];
            }
            for (const auto& phase : phases) {
                std::fill(sum.begin(), sum.end(), 0.0F);
                for (std::size_t k = 0; k < kTapsPerPhase; ++k) {
                    const float tap = phase[k];
                    const float* in = x.data() + kHistory - k;
                    for (std::size_t i = 0; i < n; ++i) {
                        sum[i] += tap * in[i];
                    }
                }
                for (const float y : sum) {
                    highest = std::max(highest, std::fabs(y));
                }
            }
        }
    });
    return highest;
}

// Loudness and the highest sample of every 100 ms, a stretch per thread, in the programme's order.
Status measureSubBlocks(const ProgrammeReader& read, std::int64_t frames, int sampleRate, std::int64_t subFrames,
                        const JobOptions& options, ProgressSink& stop, std::vector<double>& energy,
                        std::vector<float>& peaks)
{
    const std::int64_t subBlocks = (std::max<std::int64_t>(frames, 0) + subFrames - 1) / subFrames;
    const unsigned count = options.threads;
    std::vector<Stretch> stretches(count);
    for (unsigned t = 0; t < count; ++t) {
        const std::int64_t first = subBlocks * t / count;
        const std::int64_t last = subBlocks * (t + 1) / count;
        stretches[t].firstSubBlock = first;
        stretches[t].energy.assign(static_cast<std::size_t>(last - first), 0.0);
        stretches[t].peaks.assign(static_cast<std::size_t>(last - first), 0.0F);
    }
    const auto measureOne = [&](std::size_t t, JobContext&) -> Status {
        measureStretch(read, frames, sampleRate, subFrames, stretches[t]);
        return {};
    };
    if (auto status = runJobs(count, measureOne, options, stop); !status) {
        return status.error();
    }
    for (const auto& stretch : stretches) {
        energy.insert(energy.end(), stretch.energy.begin(), stretch.energy.end());
        peaks.insert(peaks.end(), stretch.peaks.begin(), stretch.peaks.end());
    }
    return {};
}

// The runs of 100 ms blocks at least half as high as the highest, in frames, from a little before
// to a little past each (zeros past the programme's end), so the interpolation starts and ends
// on quieter samples.
std::vector<std::pair<std::int64_t, std::int64_t>> loudRuns(const std::vector<float>& peaks, float highest,
                                                            std::int64_t subFrames)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> runs;
    for (std::size_t k = 0; k < peaks.size();) {
        if (peaks[k] < highest / 2) {
            ++k;
            continue;
        }
        std::size_t end = k + 1;
        while (end < peaks.size() && peaks[end] >= highest / 2) {
            ++end;
        }
        runs.emplace_back(std::max<std::int64_t>(static_cast<std::int64_t>(k) * subFrames - kPeakContext, 0),
                          static_cast<std::int64_t>(end) * subFrames + kPeakContext);
        k = end;
    }
    return runs;
}

// The true peak of each run, the runs shared among the threads.
Result<std::vector<float>> truePeaksOfRuns(const ProgrammeReader& read, std::int64_t frames,
                                           const std::vector<std::pair<std::int64_t, std::int64_t>>& runs,
                                           const JobOptions& options, ProgressSink& stop)
{
    std::vector<float> runPeaks(runs.size(), 0.0F);
    const auto peakOfRun = [&](std::size_t r, JobContext&) -> Status {
        const auto [from, to] = runs[r];
        runPeaks[r] = truePeakOf(
            [&](std::int64_t a, std::int64_t b, const SoundBlockSink& take) {
                read(a, std::min(b, frames), take);
                if (b > frames) {
                    const std::vector<float> silence(static_cast<std::size_t>(b - std::max(a, frames)) * 2, 0.0F);
                    take(silence);
                }
            },
            from, to);
        return {};
    };
    if (auto status = runJobs(runs.size(), peakOfRun, options, stop); !status) {
        return status.error();
    }
    return runPeaks;
}

}  // namespace

Result<LoudnessMeasure> measureProgramme(const ProgrammeReader& read, std::int64_t frames, int sampleRate,
                                         unsigned threads)
{
    NullProgress never;
    return measureProgramme(read, frames, sampleRate, threads, never);
}

Result<LoudnessMeasure> measureProgramme(const ProgrammeReader& read, std::int64_t frames, int sampleRate,
                                         unsigned threads, const ProgressSink& stop)
{
    if (sampleRate < 8000 || sampleRate > 768000) {
        return Error{ErrorCode::InvalidSetting,
                     "a programme meter takes rates of 8 kHz to 768 kHz, not " + std::to_string(sampleRate) + " Hz"};
    }
    const std::int64_t subFrames = (sampleRate + 5) / 10;
    const std::int64_t subBlocks = (std::max<std::int64_t>(frames, 0) + subFrames - 1) / subFrames;
    // A stretch per thread, each at least 10 s: the second before each is read twice.
    StopOnlyProgress stopOnly(stop);  // a meter's stretches are not a unit the caller counts
    JobOptions options;
    options.threads = jobThreadCount(threads, static_cast<std::size_t>(subBlocks / 100));
    options.work = "metering";
    std::vector<double> energy;
    std::vector<float> peaks;
    if (auto status = measureSubBlocks(read, frames, sampleRate, subFrames, options, stopOnly, energy, peaks);
        !status) {
        return status.error();
    }
    if (frames % subFrames != 0 && !energy.empty()) {
        energy.pop_back();  // the last 100 ms are not whole
    }
    LoudnessMeasure measured{gatedLoudness(energy, subFrames), -std::numeric_limits<double>::infinity()};
    const float highest = peaks.empty() ? 0.0F : *std::max_element(peaks.begin(), peaks.end());
    if (highest == 0) {
        return measured;
    }
    const auto runPeaks = truePeaksOfRuns(read, frames, loudRuns(peaks, highest, subFrames), options, stopOnly);
    if (!runPeaks) {
        return runPeaks.error();
    }
    const float truePeak = std::max(highest, *std::max_element(runPeaks->begin(), runPeaks->end()));
    measured.truePeakDbtp = 20 * std::log10(static_cast<double>(truePeak));
    return measured;
}

}  // namespace zentrowe::audio
