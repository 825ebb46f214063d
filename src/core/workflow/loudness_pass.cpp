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
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "core/audio/chart_mixer.h"
#include "core/base/file_error.h"
#include "core/chart/chart_file.h"

namespace zentrowe::workflow {

namespace {

static_assert(std::endian::native == std::endian::little, "spilled samples are written as the machine holds them");

constexpr std::size_t kWaveHeaderBytes = 44;

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

std::filesystem::path LoudnessPass::spillPath(const std::filesystem::path& target) const
{
    return m_folder / (target.stem().string() + ".wav");
}

audio::SoundWriter LoudnessPass::spillWriter() const
{
    return [this](const std::filesystem::path& target, std::span<const float> interleaved) {
        return writeFloatWave(spillPath(target), interleaved);
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
    auto mix = audio::mixChart(*chart, m_folder, options, progress);
    if (!mix) {
        return mix.error();
    }
    auto meter = audio::LoudnessMeter::open(audio::kSampleRate);
    if (!meter) {
        return meter.error();
    }
    meter->add(mix->sound.samples);
    auto measured = meter->measure();
    // The mixer turns a mix down to keep it from clipping; what the files hold is louder by that.
    const double mixerDb = 20 * std::log10(static_cast<double>(mix->gain));
    measured.integratedLufs -= mixerDb;
    measured.truePeakDbtp -= mixerDb;
    return audio::normalisingGain(measured, target);
}

Status LoudnessPass::encode(std::span<const std::filesystem::path> targets, double gainDb,
                            const audio::SoundWriter& writer, unsigned threads, ProgressSink& progress) const
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
            for (std::size_t i = next++; i < targets.size() && !stop; i = next++) {
                auto samples = readFloatWave(spillPath(targets[i]));
                if (!samples) {
                    fail(samples.error());
                    return;
                }
                for (auto& sample : *samples) {
                    sample *= amplitude;
                }
                if (auto written = writer(targets[i], *samples); !written) {
                    fail(written.error());
                    return;
                }
                std::error_code ignored;
                std::filesystem::remove(spillPath(targets[i]), ignored);
                std::lock_guard lock(mutex);
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
