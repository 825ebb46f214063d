#include "core/workflow/loudness_pass.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "core/audio/chart_mixer.h"
#include "core/audio/float_wave.h"
#include "core/audio/programme_loudness.h"
#include "core/audio/synth_renderer.h"
#include "core/base/file_error.h"
#include "core/base/file_system.h"
#include "core/base/job_runner.h"
#include "core/chart/timed_chart.h"

namespace zentrowe::workflow {

namespace {

// The longest autoplay measured, in seconds: a day, past any song; the mix is read in blocks and
// never held whole.
constexpr double kLongestMeasuredSeconds = 24 * 3600;

// Polled by a runner's calling thread for the caller's sink; remembers a stop for the threads
// that cannot poll it.
class LatchedStop final : public ProgressSink {
public:
    explicit LatchedStop(ProgressSink& sink) : m_sink(sink) { }
    void advance(std::int64_t, std::int64_t) override { }
    bool stopRequested() const override
    {
        if (m_sink.stopRequested()) {
            m_stopped = true;
        }
        return m_stopped;
    }
    bool stopped() const { return m_stopped; }

private:
    ProgressSink& m_sink;
    mutable std::atomic<bool> m_stopped{false};
};

}  // namespace

std::filesystem::path LoudnessPass::spillPath(const std::filesystem::path& target) const
{
    return m_folder / (target.stem().string() + ".wav");
}

const audio::CompactSound* LoudnessPass::find(const std::string& stem) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_held.find(stem);
    return found != m_held.end() ? &found->second : nullptr;  // map nodes stay where they are
}

std::int64_t LoudnessPass::heldFrames(const std::string& stem) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_held.find(stem);
    if (found == m_held.end()) {
        return 0;
    }
    const auto frames = static_cast<std::int64_t>(found->second.samples.size() / 2);
    const auto encoded = m_encodedFrames.find(stem);
    return encoded != m_encodedFrames.end() ? std::min(frames, encoded->second) : frames;
}

// The kept sounds as a mix plays them, each times one amplitude.
class LoudnessPass::Kept final : public audio::HeldSounds {
public:
    Kept(const LoudnessPass& pass, float amplitude) : m_pass(pass), m_amplitude(amplitude) { }

    bool holds(const std::string& stem) const override { return m_pass.find(stem) != nullptr; }

    std::int64_t frames(const std::string& stem) const override { return m_pass.heldFrames(stem); }

    void addTo(const std::string& stem, std::int64_t from, std::span<float> out) const override
    {
        const audio::CompactSound* sound = m_pass.find(stem);
        const auto first = static_cast<std::size_t>(std::max<std::int64_t>(from, 0)) * 2;
        const auto end = static_cast<std::size_t>(m_pass.heldFrames(stem)) * 2;
        if (sound == nullptr || first >= end) {
            return;
        }
        audio::expandSound(*sound, first, out.first(std::min(out.size(), end - first)), m_amplitude, true);
    }

private:
    const LoudnessPass& m_pass;
    float m_amplitude;
};

std::unique_ptr<audio::HeldSounds> LoudnessPass::soundsAtGain(double gainDb) const
{
    return std::make_unique<Kept>(*this, static_cast<float>(audio::amplitudeOfDb(gainDb)));
}

audio::SoundWriter LoudnessPass::keeper()
{
    return [this](const std::filesystem::path& target, std::span<const float> interleaved) -> Status {
        const std::size_t bytes = audio::compactSoundBytes(interleaved.size());
        bool keep = false;
        {
            std::lock_guard lock(m_mutex);
            keep = bytes <= m_heldBytes - m_heldSoFar;
            if (keep) {
                m_heldSoFar += bytes;
            }
        }
        if (!keep) {
            return audio::writeFloatWave(spillPath(target), interleaved);
        }
        auto sound = audio::compactSound(interleaved, m_memory);  // outside the lock: threads do this at once
        std::lock_guard lock(m_mutex);
        m_held.insert_or_assign(target.stem().string(), std::move(sound));
        return {};
    };
}

Result<audio::LoudnessGain> LoudnessPass::measure(const chart::Chart& chart, const audio::LoudnessTarget& target,
                                                  unsigned threads, ProgressSink& progress) const
{
    const auto timed = chart::timeChart(chart::ChartReading{chart, 0, {}});
    const Kept kept(*this, 1);
    audio::MixOptions options;
    options.sampleRate = audio::kSampleRate;
    options.threads = threads;
    options.held = &kept;
    // Read through once, never put together: a song of slices may last past the hour a whole mix holds.
    options.longestSeconds = kLongestMeasuredSeconds;
    auto mix = audio::mixKeysoundBlocks(audio::chartStrikes(timed), timed.keysoundNames, m_folder, options, progress);
    if (!mix) {
        return mix.error();
    }
    // Read a few seconds at a time, so that a stop asked for is seen soon: the sink is polled on
    // this thread only, by the meter's runner, and the reading threads see the flag it leaves.
    LatchedStop stop(progress);
    const auto read = [&](std::int64_t from, std::int64_t to, const audio::SoundBlockSink& take) {
        constexpr std::int64_t kPollFrames = 4 * audio::kSampleRate;
        for (std::int64_t at = from; at < to && !stop.stopped(); at += kPollFrames) {
            mix->sound.read(at, std::min(to, at + kPollFrames), take);
        }
    };
    const auto measured = audio::measureProgramme(read, mix->sound.frames(), audio::kSampleRate, threads, stop);
    if (stop.stopped() || progress.stopRequested()) {
        return Error{ErrorCode::Cancelled, "mixing stopped"};
    }
    if (!measured) {
        return measured.error();
    }
    return audio::normalisingGain(*measured, target);
}

Status LoudnessPass::encode(std::span<const std::filesystem::path> targets, double gainDb,
                            const audio::SoundWriter& writer, unsigned threads, ProgressSink& progress)
{
    const auto amplitude = static_cast<float>(audio::amplitudeOfDb(gainDb));
    // One buffer per thread: fresh memory is slow to come by.
    std::vector<std::vector<float>> buffers(jobThreadCount(threads, targets.size()));
    const auto encodeOne = [&](std::size_t i, JobContext& context) -> Status {
        auto& samples = buffers[context.worker()];
        // Kept after encoding too, for soundsAtGain().
        const audio::CompactSound* held = find(targets[i].stem().string());
        const bool spilled = held == nullptr;
        if (held != nullptr) {
            samples.resize(held->samples.size());
            audio::expandSound(*held, 0, samples, amplitude, false);
        } else {
            auto read = audio::readFloatWave(spillPath(targets[i]));
            if (!read) {
                return read.error();
            }
            samples = std::move(read).value();
            for (auto& sample : samples) {
                sample *= amplitude;
            }
        }
        const std::size_t frames = audio::audibleFrames(samples, audio::kRingOutFloor);
        samples.resize(frames * 2);
        if (!spilled) {
            std::lock_guard lock(m_mutex);
            m_encodedFrames.insert_or_assign(targets[i].stem().string(), static_cast<std::int64_t>(frames));
        }
        if (auto written = writer(targets[i], samples); !written) {
            return written.error();
        }
        if (spilled) {
            realFileSystem().remove(spillPath(targets[i]));
        }
        return {};
    };
    JobOptions options;
    options.threads = threads;
    options.work = "encoding";
    options.nameOf = [&](std::size_t i) { return displayPath(targets[i]); };
    return runJobs(targets.size(), encodeOne, options, progress);
}

}  // namespace zentrowe::workflow
