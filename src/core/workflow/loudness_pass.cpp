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

// The true peak (dBTP) of a whole mix, metered only where it comes within 6 dB of its highest
// sample: four-times oversampling is most of a loudness measure's cost, and the true peak of the
// quieter stretches, at most a fraction of a dB above their samples, cannot reach the loud
// parts'. Each loud run gets a meter of its own, fed from a little before to a little after it
// so its interpolation starts and ends on quieter samples (whose own ringing stays below the
// run's samples).
Result<double> truePeakOfLoudParts(std::span<const float> interleaved)
{
    constexpr std::size_t kBlockFrames = 4410;   // 100 ms
    constexpr std::size_t kContextFrames = 256;  // well past the interpolation filter's length
    float highest = 0;
    for (const float sample : interleaved) {
        highest = std::max(highest, std::fabs(sample));
    }
    if (highest == 0) {
        return -std::numeric_limits<double>::infinity();
    }
    const std::size_t frames = interleaved.size() / 2;
    const auto loud = [&](std::size_t block) {
        const std::size_t from = block * kBlockFrames * 2;
        const std::size_t to = std::min(interleaved.size(), from + kBlockFrames * 2);
        return std::any_of(interleaved.begin() + static_cast<std::ptrdiff_t>(from),
                           interleaved.begin() + static_cast<std::ptrdiff_t>(to),
                           [&](float sample) { return std::fabs(sample) >= highest / 2; });
    };
    const std::size_t blocks = (frames + kBlockFrames - 1) / kBlockFrames;
    double peak = -std::numeric_limits<double>::infinity();
    for (std::size_t block = 0; block < blocks;) {
        if (!loud(block)) {
            ++block;
            continue;
        }
        std::size_t end = block + 1;
        while (end < blocks && loud(end)) {
            ++end;
        }
        const std::size_t from = block * kBlockFrames >= kContextFrames ? block * kBlockFrames - kContextFrames : 0;
        const std::size_t to = std::min(frames, end * kBlockFrames + kContextFrames);
        auto meter = audio::LoudnessMeter::open(audio::kSampleRate, audio::LoudnessMeter::Measures::TruePeak);
        if (!meter) {
            return meter.error();
        }
        meter->add(interleaved.subspan(from * 2, (to - from) * 2));
        if (to == frames) {
            // The last samples leave the interpolation only as later ones come in.
            const std::vector<float> silence(kContextFrames * 2, 0.0F);
            meter->add(silence);
        }
        peak = std::max(peak, meter->measure().truePeakDbtp);
        block = end;
    }
    return peak;
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
    // The loudness on one thread, the true peak of the loud parts on another.
    auto meter = audio::LoudnessMeter::open(audio::kSampleRate, audio::LoudnessMeter::Measures::Loudness);
    if (!meter) {
        return meter.error();
    }
    std::optional<audio::LoudnessMeasure> loudness;
    std::thread loudnessThread;
    try {
        loudnessThread = std::thread([&] {
            meter->add(mix->sound.samples);
            loudness = meter->measure();
        });
    } catch (const std::system_error&) {
        meter->add(mix->sound.samples);  // no thread to spare: here, then
        loudness = meter->measure();
    }
    auto peak = truePeakOfLoudParts(mix->sound.samples);
    if (loudnessThread.joinable()) {
        loudnessThread.join();
    }
    if (!peak) {
        return peak.error();
    }
    audio::LoudnessMeasure measured{loudness->integratedLufs, *peak};
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
