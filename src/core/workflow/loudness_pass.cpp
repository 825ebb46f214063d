#include "core/workflow/loudness_pass.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <limits>
#include <system_error>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "core/audio/chart_mixer.h"
#include "core/audio/programme_loudness.h"
#include "core/base/file_error.h"
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
    if (!file.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)))) {
        return fileError(ErrorCode::WriteFailed, path, "read", EIO);
    }
    return samples;
}

}  // namespace

LoudnessPass::Compact LoudnessPass::compact(std::span<const float> interleaved)
{
    constexpr std::size_t kStretch = kStretchFrames * 2;
    Compact sound;
    sound.samples = {m_memory.allocateArray<std::int16_t>(interleaved.size()), interleaved.size()};
    const std::size_t stretches = (interleaved.size() + kStretch - 1) / kStretch;
    sound.steps = {m_memory.allocateArray<float>(stretches), stretches};
    for (std::size_t stretch = 0; stretch < sound.steps.size(); ++stretch) {
        const auto in = interleaved.subspan(stretch * kStretch, std::min(kStretch, interleaved.size() - stretch * kStretch));
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
        const std::size_t bytes = interleaved.size() * sizeof(std::int16_t) +
                                  (interleaved.size() / (kStretchFrames * 2) + 1) * sizeof(float);
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
    // this thread only, the others see the flag.
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> stop{false};
    const auto read = [&](std::int64_t from, std::int64_t to, const audio::SoundBlockSink& take) {
        constexpr std::int64_t kPollFrames = 4 * audio::kSampleRate;
        for (std::int64_t at = from; at < to && !stop; at += kPollFrames) {
            mix->sound.read(at, std::min(to, at + kPollFrames), take);
            if (std::this_thread::get_id() == caller && progress.stopRequested()) {
                stop = true;
            }
        }
    };
    const auto measured = audio::measureProgramme(read, mix->sound.frames(), audio::kSampleRate, threads);
    if (stop || progress.stopRequested()) {
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
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t finished = 0;
    std::optional<Error> failure;
    const auto fail = [&](Error error) {
        std::lock_guard lock(mutex);
        if (!failure) {
            failure = std::move(error);
        }
        stop = true;
        changed.notify_one();
    };
    const auto work = [&] {
        // Nothing thrown here may leave the thread: it would end the whole process.
        try {
            std::vector<float> samples;  // one buffer for the thread: fresh memory is slow to come by
            for (std::size_t i = next++; i < targets.size() && !stop; i = next++) {
                std::optional<Compact> held;
                {
                    std::lock_guard lock(m_mutex);
                    if (auto found = m_held.find(targets[i].stem().string()); found != m_held.end()) {
                        held = std::move(found->second);
                        m_held.erase(found);
                    }
                }
                const bool spilled = !held;
                if (held) {
                    samples.resize(held->samples.size());
                    expand(*held, 0, samples, amplitude, false);
                    held.reset();
                } else {
                    auto read = readFloatWave(spillPath(targets[i]));
                    if (!read) {
                        fail(read.error());
                        return;
                    }
                    samples = std::move(read).value();
                    for (auto& sample : samples) {
                        sample *= amplitude;
                    }
                }
                if (auto written = writer(targets[i], samples); !written) {
                    fail(written.error());
                    return;
                }
                if (spilled) {
                    std::error_code ignored;
                    std::filesystem::remove(spillPath(targets[i]), ignored);
                }                std::lock_guard lock(mutex);
                ++finished;
                changed.notify_one();
            }
        } catch (const std::bad_alloc&) {
            fail(Error{ErrorCode::OutOfMemory, "not enough memory to encode the sounds"});
        } catch (const std::exception& exception) {
            fail(Error{ErrorCode::WriteFailed, std::string("cannot encode the sounds: ") + exception.what()});
        }
        std::lock_guard lock(mutex);
        changed.notify_one();
    };
    std::vector<std::thread> workers;
    const unsigned count = audio::renderThreadCount(threads, targets.size());
    try {
        for (unsigned t = 0; t < count; ++t) {
            workers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        if (workers.empty()) {
            return Error{ErrorCode::OutOfMemory, "cannot start an encoding thread"};
        }
    }
    const auto total = static_cast<std::int64_t>(targets.size());
    bool cancelled = false;
    {
        std::unique_lock lock(mutex);
        while (finished < targets.size() && !stop) {
            changed.wait_for(lock, std::chrono::milliseconds(50));
            const auto done = static_cast<std::int64_t>(finished);
            lock.unlock();
            progress.advance(done, total);
            if (progress.stopRequested()) {
                cancelled = true;
                stop = true;
            }
            lock.lock();
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    if (failure) {
        return *failure;
    }
    if (cancelled || finished < targets.size()) {
        return Error{ErrorCode::Cancelled, "encoding cancelled"};
    }
    progress.advance(total, total);
    return {};
}

}  // namespace zentrowe::workflow
