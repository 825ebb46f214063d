#include "core/audio/sound_comparison.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numbers>
#include <span>
#include <vector>

#include <kiss_fftr.h>

#include "core/base/job_runner.h"

namespace zentrowe::audio {

namespace {

constexpr std::size_t kWindow = 4096;  // long enough to tell neighbouring low notes apart
constexpr double kHopSeconds = 0.010;
constexpr int kLowestBandNote = 24;  // C1; lower bins fold into it
constexpr int kBandCount = 96;       // C1 to B8
// Frames quieter than this, against the loudest frame of either sound, count for nothing.
constexpr double kSilentFraction = 1e-4;

// The spectrum of kWindow real values by kissfft's real-input transform (Debian builds it in single
// precision: ample for band energies, and the window's values are single-precision samples).
class Transform {
public:
    Transform() : m_config(kiss_fftr_alloc(static_cast<int>(kWindow), 0, nullptr, nullptr)), m_spectrum(kWindow / 2 + 1)
    {
        if (m_config == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~Transform() { kiss_fftr_free(m_config); }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;

    // Bins 0 to kWindow / 2 of the kWindow values at `values`.
    std::span<const kiss_fft_cpx> run(const float* values)
    {
        kiss_fftr(m_config, values, m_spectrum.data());
        return m_spectrum;
    }

private:
    kiss_fftr_cfg m_config;
    std::vector<kiss_fft_cpx> m_spectrum;
};

// Band energies per hop, the square root taken so that quiet notes still weigh.
struct Bands {
    std::vector<std::vector<double>> frames;
    std::vector<double> loudness;  // amplitude of each frame: a quiet ring-out weighs little
};

Bands bandsOf(const StereoSound& sound, std::size_t hop, std::size_t frameCount, const std::vector<int>& bandOfBin)
{
    std::vector<double> mono(sound.frames());
    for (std::size_t i = 0; i < mono.size(); ++i) {
        mono[i] = 0.5 * (static_cast<double>(sound.samples[2 * i]) + sound.samples[2 * i + 1]);
    }
    std::vector<double> hann(kWindow);
    for (std::size_t i = 0; i < kWindow; ++i) {
        hann[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / kWindow);
    }
    Bands bands;
    bands.frames.assign(frameCount, std::vector<double>(kBandCount, 0.0));
    bands.loudness.assign(frameCount, 0.0);
    Transform transform;
    std::vector<float> windowed(kWindow);
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        // Centred on the hop, so that a sound is seen where it is, not a window early.
        const auto centre = static_cast<std::int64_t>(frame * hop);
        bool any = false;
        for (std::size_t i = 0; i < kWindow; ++i) {
            const std::int64_t at = centre - static_cast<std::int64_t>(kWindow / 2) + static_cast<std::int64_t>(i);
            const double value =
                at >= 0 && static_cast<std::size_t>(at) < mono.size() ? mono[static_cast<std::size_t>(at)] : 0.0;
            any = any || value != 0;
            windowed[i] = static_cast<float>(value * hann[i]);
        }
        if (!any) {
            continue;
        }
        const auto spectrum = transform.run(windowed.data());
        auto& out = bands.frames[frame];
        double power = 0;
        for (std::size_t bin = 1; bin < bandOfBin.size(); ++bin) {
            if (bandOfBin[bin] >= 0) {
                const double re = spectrum[bin].r;
                const double im = spectrum[bin].i;
                const double norm = re * re + im * im;
                out[static_cast<std::size_t>(bandOfBin[bin])] += norm;
                power += norm;
            }
        }
        for (auto& value : out) {
            value = std::sqrt(std::sqrt(value));  // magnitude, then its square root
        }
        bands.loudness[frame] = std::sqrt(power);
    }
    return bands;
}

// Each transform bin's band (a semitone from the lowest band's note), or -1 above the bands.
std::vector<int> bandsOfBins(int rate)
{
    std::vector<int> bandOfBin(kWindow / 2, -1);
    for (std::size_t bin = 1; bin < bandOfBin.size(); ++bin) {
        const double hertz = static_cast<double>(bin) * rate / kWindow;
        const auto note = static_cast<int>(std::lround(69 + 12 * std::log2(hertz / 440)));
        if (note < kLowestBandNote + kBandCount) {
            bandOfBin[bin] = std::max(note, kLowestBandNote) - kLowestBandNote;
        }
    }
    return bandOfBin;
}

// Per frame, how much it counts and how alike the two sounds' bands are (cosine).
struct FrameLikeness {
    std::vector<double> weight;
    std::vector<double> alike;
};

FrameLikeness frameLikeness(const Bands& one, const Bands& two, std::size_t frameCount)
{
    // Each sound's loudness against its own loudest frame: a mix turned down still weighs as much.
    const double loudestOne = std::max(*std::max_element(one.loudness.begin(), one.loudness.end()), 1e-12);
    const double loudestTwo = std::max(*std::max_element(two.loudness.begin(), two.loudness.end()), 1e-12);
    FrameLikeness likeness{std::vector<double>(frameCount), std::vector<double>(frameCount)};
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        const double w = std::max(one.loudness[frame] / loudestOne, two.loudness[frame] / loudestTwo);
        if (w < kSilentFraction) {
            continue;
        }
        double dot = 0;
        double normOne = 0;
        double normTwo = 0;
        for (int band = 0; band < kBandCount; ++band) {
            const double a = one.frames[frame][static_cast<std::size_t>(band)];
            const double b = two.frames[frame][static_cast<std::size_t>(band)];
            dot += a * b;
            normOne += a * a;
            normTwo += b * b;
        }
        likeness.weight[frame] = w;
        likeness.alike[frame] = normOne > 0 && normTwo > 0 ? dot / std::sqrt(normOne * normTwo) : 0.0;
    }
    return likeness;
}

// The second (100 hops) least alike, stepping a tenth of a second at a time.
void findWorstSecond(const FrameLikeness& likeness, SoundComparison& result)
{
    const std::size_t frameCount = likeness.weight.size();
    const std::size_t span = static_cast<std::size_t>(std::lround(1.0 / kHopSeconds));
    const std::size_t step = span / 10;
    for (std::size_t start = 0; start < frameCount; start += step) {
        const std::size_t end = std::min(start + span, frameCount);
        double w = 0;
        double a = 0;
        for (std::size_t frame = start; frame < end; ++frame) {
            w += likeness.weight[frame];
            a += likeness.weight[frame] * likeness.alike[frame];
        }
        // A stretch nearly silent in both (a cymbal ringing out past a keysound's end) says
        // little; it must weigh a tenth of a loud second.
        if (w < 0.1 * static_cast<double>(span)) {
            continue;
        }
        if (a / w < result.worstSimilarity) {
            result.worstSimilarity = a / w;
            result.worstSecond = static_cast<double>(start) * kHopSeconds;
        }
        if (end == frameCount) {
            break;
        }
    }
}

}  // namespace

SoundComparison compareSounds(const StereoSound& reference, const StereoSound& candidate)
{
    const int rate = std::max(reference.sampleRate, 1);
    // At least a frame: a rate under 50 Hz would otherwise make the hop 0.
    const auto hop = std::max<std::size_t>(static_cast<std::size_t>(std::lround(kHopSeconds * rate)), 1);
    const std::size_t frameCount = std::max(reference.frames(), candidate.frames()) / hop + 1;
    const std::vector<int> bandOfBin = bandsOfBins(rate);
    // The two sounds' bands on two threads: the transforms are nearly all of a comparison's time.
    const std::array<const StereoSound*, 2> sounds{&reference, &candidate};
    JobOptions options;
    options.threads = 2;
    options.work = "comparing";
    NullProgress progress;
    auto bands = runJobsFor<Bands>(
        2, [&](std::size_t i, JobContext&) -> Result<Bands> { return bandsOf(*sounds[i], hop, frameCount, bandOfBin); },
        options, progress);
    if (!bands) {
        throw std::bad_alloc();  // the only way a transform fails; the faces word it
    }
    const FrameLikeness likeness = frameLikeness((*bands)[0], (*bands)[1], frameCount);
    SoundComparison result;
    double weighted = 0;
    double total = 0;
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        weighted += likeness.weight[frame] * likeness.alike[frame];
        total += likeness.weight[frame];
    }
    result.similarity = total > 0 ? weighted / total : 1.0;
    findWorstSecond(likeness, result);
    return result;
}

}  // namespace zentrowe::audio
