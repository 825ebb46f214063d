#include "core/workflow/loudness_pass.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <vector>

#include "core/audio/chart_mixer.h"
#include "core/audio/programme_loudness.h"
#include "core/base/file_error.h"
#include "core/base/job_runner.h"
#include "core/chart/chart_file.h"

namespace zentrowe::workflow {

namespace {

static_assert(std::endian::native == std::endian::little, "spilled samples are written as the machine holds them");

constexpr std::size_t kWaveHeaderBytes = 44;
// The longest autoplay measured, in seconds: a day, past any song; the mix is read in blocks and
// never held whole.
constexpr double kLongestMeasuredSeconds = 24 * 3600;

void putLittle(std::array<char, kWaveHeaderBytes>& header, std::size_t at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        header[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A plain RIFF WAVE of IEEE floats (format 3): what the mixer's reader decodes without loss.
Status writeFloatWave(const std::filesystem::path& path, std::span<const float> interleaved)
{
    const auto dataBytes = static_cast<std::uint32_t>(interleaved.size() * sizeof(float));
    std::array<char, kWaveHeaderBytes> header{};
    std::memcpy(header.data(), "RIFF", 4);
    putLittle(header, 4, 36 + dataBytes, 4);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    putLittle(header, 16, 16, 4);
    putLittle(header, 20, 3, 2);
    putLittle(header, 22, audio::kChannelCount, 2);
    putLittle(header, 24, audio::kSampleRate, 4);
    putLittle(header, 28, audio::kSampleRate * audio::kChannelCount * 4, 4);
    putLittle(header, 32, audio::kChannelCount * 4, 2);
    putLittle(header, 34, 32, 2);
    std::memcpy(header.data() + 36, "data", 4);
    putLittle(header, 40, dataBytes, 4);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(header.data(), header.size());
    file.write(reinterpret_cast<const char*>(interleaved.data()), static_cast<std::streamsize>(dataBytes));
    file.close();
    if (!file) {
        const int error = errno;
        return fileError(ErrorCode::WriteFailed, path, "write", error != 0 ? error : EIO);
    }
    return {};
}

Result<std::vector<float>> readFloatWave(const std::filesystem::path& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    std::ifstream file(path, std::ios::binary);
    if (error || size < kWaveHeaderBytes || !file.seekg(kWaveHeaderBytes)) {
        return fileError(ErrorCode::WriteFailed, path, "read", error ? error.value() : EIO);
    }
    std::vector<float> samples((size - kWaveHeaderBytes) / sizeof(float));
    if (!file.read(reinterpret_cast<char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof(float)))) {
        return fileError(ErrorCode::WriteFailed, path, "read", EIO);
    }
    return samples;
}

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

LoudnessPass::Compact LoudnessPass::compact(std::span<const float> interleaved)
{
    constexpr std::size_t kStretch = kStretchFrames * 2;
    Compact sound;
    sound.samples = {m_memory.allocateArray<std::int16_t>(interleaved.size()), interleaved.size()};
    const std::size_t stretches = (interleaved.size() + kStretch - 1) / kStretch;
    sound.steps = {m_memory.allocateArray<float>(stretches), stretches};
    for (std::size_t stretch = 0; stretch < sound.steps.size(); ++stretch) {
        const auto in =
            interleaved.subspan(stretch * kStretch, std::min(kStretch, interleaved.size() - stretch * kStretch));
        float peak = 0;
        for (const float sample : in) {
            peak = std::max(peak, std::fabs(sample));
        }
        std::int16_t* out = sound.samples.data() + stretch * kStretch;
        if (!(peak > 0) || !std::isfinite(peak)) {
            // Silent (a renderer gives no other non-finite sound).
            sound.steps[stretch] = 0;
            std::fill(out, out + in.size(), std::int16_t{0});
            continue;
        }
        const float step = peak / 32767;
        const float inverse = 1 / step;
        sound.steps[stretch] = step;
        for (std::size_t i = 0; i < in.size(); ++i) {
            out[i] = static_cast<std::int16_t>(std::clamp(std::lrint(in[i] * inverse), -32767L, 32767L));
        }
    }
    return sound;
}

void LoudnessPass::expand(const Compact& sound, std::size_t from, std::span<float> out, float gain, bool add)
{
    constexpr std::size_t kStretch = kStretchFrames * 2;
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t at = from + i;
        const float step = sound.steps[at / kStretch] * gain;
        const std::size_t end = std::min(out.size(), i + kStretch - at % kStretch);
        const std::int16_t* in = sound.samples.data() + from;
        if (add) {
            for (; i < end; ++i) {
                out[i] += static_cast<float>(in[i]) * step;
            }
        } else {
            for (; i < end; ++i) {
                out[i] = static_cast<float>(in[i]) * step;
            }
        }
    }
}

std::filesystem::path LoudnessPass::spillPath(const std::filesystem::path& target) const
{
    return m_folder / (target.stem().string() + ".wav");
}

const LoudnessPass::Compact* LoudnessPass::find(const std::string& stem) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_held.find(stem);
    return found != m_held.end() ? &found->second : nullptr;  // map nodes stay where they are
}

bool LoudnessPass::holds(const std::string& stem) const
{
    return find(stem) != nullptr;
}

std::int64_t LoudnessPass::frames(const std::string& stem) const
{
    const Compact* sound = find(stem);
    return sound != nullptr ? static_cast<std::int64_t>(sound->samples.size() / 2) : 0;
}

void LoudnessPass::addTo(const std::string& stem, std::int64_t from, std::span<float> out) const
{
    const Compact* sound = find(stem);
    const auto first = static_cast<std::size_t>(std::max<std::int64_t>(from, 0)) * 2;
    if (sound == nullptr || first >= sound->samples.size()) {
        return;
    }
    expand(*sound, first, out.first(std::min(out.size(), sound->samples.size() - first)), 1, true);
}

audio::SoundWriter LoudnessPass::keeper()
{
    return [this](const std::filesystem::path& target, std::span<const float> interleaved) -> Status {
        const std::size_t bytes =
            interleaved.size() * sizeof(std::int16_t) + (interleaved.size() / (kStretchFrames * 2) + 1) * sizeof(float);
        bool keep = false;
        {
            std::lock_guard lock(m_mutex);
            keep = bytes <= m_heldBytes - m_heldSoFar;
            if (keep) {
                m_heldSoFar += bytes;
            }
        }
        if (!keep) {
            return writeFloatWave(spillPath(target), interleaved);
        }
        auto sound = compact(interleaved);  // outside the lock: threads do this at once
        std::lock_guard lock(m_mutex);
        m_held.insert_or_assign(target.stem().string(), std::move(sound));
        return {};
    };
}

Result<audio::LoudnessGain> LoudnessPass::measure(const std::filesystem::path& chartPath,
                                                  const audio::LoudnessTarget& target, unsigned threads,
                                                  ProgressSink& progress) const
{
    auto chart = chart::readChartFile(chartPath);
    if (!chart) {
        return chart.error();
    }
    audio::MixOptions options;
    options.sampleRate = audio::kSampleRate;
    options.threads = threads;
    options.held = this;
    // Read through once, never put together: a song of slices may last past the hour a whole mix holds.
    options.longestSeconds = kLongestMeasuredSeconds;
    auto mix = audio::mixKeysoundBlocks(audio::chartStrikes(*chart), chart->keysoundNames, m_folder, options, progress);
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
        std::optional<Compact> held;
        {
            std::lock_guard lock(m_mutex);
            if (auto found = m_held.find(targets[i].stem().string()); found != m_held.end()) {
                held = found->second;
                m_held.erase(found);
            }
        }
        const bool spilled = !held;
        if (held) {
            samples.resize(held->samples.size());
            expand(*held, 0, samples, amplitude, false);
        } else {
            auto read = readFloatWave(spillPath(targets[i]));
            if (!read) {
                return read.error();
            }
            samples = std::move(read).value();
            for (auto& sample : samples) {
                sample *= amplitude;
            }
        }
        if (auto written = writer(targets[i], samples); !written) {
            return written.error();
        }
        if (spilled) {
            std::error_code ignored;
            std::filesystem::remove(spillPath(targets[i]), ignored);
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
