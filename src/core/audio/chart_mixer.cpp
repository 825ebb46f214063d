#include "core/audio/chart_mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "core/audio/keysound_finder.h"
#include "core/audio/sound_file_reader.h"

namespace zentrowe::audio {

namespace {

// Silence is found in steps of this many frames: small enough to skip the quiet between hits,
// large enough that the bookkeeping costs nothing beside the mixing.
constexpr std::size_t kQuietStepFrames = 256;
constexpr std::size_t kVoicesBetweenPolls = 4096;

// A decoded keysound at the mix rate, held as its stretches of sound: a long file of mostly
// silence (or a sparse one that is all silence) takes neither memory nor mixing time.
struct SoundRuns {
    struct Run {
        std::int64_t firstFrame = 0;
        std::vector<float> samples;  // interleaved stereo

        std::int64_t endFrame() const { return firstFrame + static_cast<std::int64_t>(samples.size() / 2); }
    };
    std::int64_t frames = 0;
    std::vector<Run> runs;
};

// Builds SoundRuns from decoded blocks. A stretch of sound gathers in `pending`, a buffer the
// reading thread keeps from file to file, and is stored in memory of its exact size once it
// ends: growing each run as it is decoded would copy it and fault in fresh pages several times.
class RunBuilder {
public:
    explicit RunBuilder(std::vector<float>& pending) : m_pending(pending) { m_pending.clear(); }

    void append(std::span<const float> block)
    {
        for (std::size_t at = 0; at < block.size(); at += kQuietStepFrames * 2) {
            const auto step = block.subspan(at, std::min(kQuietStepFrames * 2, block.size() - at));
            const bool quiet = std::all_of(step.begin(), step.end(), [](float sample) { return sample == 0.0F; });
            if (quiet) {
                flush();
            } else {
                if (m_pending.empty()) {
                    m_pendingFirst = m_sound.frames;
                }
                m_pending.insert(m_pending.end(), step.begin(), step.end());
                if (m_pending.size() >= kLongestPendingSamples) {
                    flush();
                }
            }
            m_sound.frames += static_cast<std::int64_t>(step.size() / 2);
        }
    }

    SoundRuns finish()
    {
        flush();
        return std::move(m_sound);
    }

private:
    static constexpr std::size_t kLongestPendingSamples = std::size_t{1} << 22;  // 16 MB

    void flush()
    {
        if (!m_pending.empty()) {
            m_sound.runs.push_back({m_pendingFirst, std::vector<float>(m_pending.begin(), m_pending.end())});
            m_pending.clear();
        }
    }

    std::vector<float>& m_pending;
    std::int64_t m_pendingFirst = 0;
    SoundRuns m_sound;
};

struct FileToRead {
    std::filesystem::path path;
    std::int64_t maxFrames = 0;  // the longest any strike plays it
};

// Reads the files on every core: decoding them is most of a preview's time. The caller's thread
// reads too and is the only one to talk to the progress sink. Cancelled if the sink asks to stop.
Result<std::vector<Result<SoundRuns>>> readSoundFiles(const std::vector<FileToRead>& files, int sampleRate,
                                                      unsigned threadCount,
                                                      ProgressSink& progress)
{
    std::vector<std::optional<Result<SoundRuns>>> slots(files.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> done{0};
    std::atomic<bool> stop{false};
    const auto total = static_cast<std::int64_t>(files.size());
    const auto readSome = [&](bool reporting) {
        std::vector<float> pending;
        for (std::size_t i = next++; i < files.size() && !stop; i = next++) {
            try {
                RunBuilder runs(pending);
                auto read = streamSoundFile(files[i].path, sampleRate, files[i].maxFrames,
                                            [&](std::span<const float> block) { runs.append(block); });
                slots[i] = read ? Result<SoundRuns>(runs.finish()) : Result<SoundRuns>(read.error());
            } catch (const std::bad_alloc&) {
                // Reported on the caller's thread: an exception must not end a worker.
                slots[i] = Result<SoundRuns>(Error{ErrorCode::OutOfMemory, "not enough memory to decode"});
            }
            const std::int64_t finished = ++done;
            if (reporting) {
                progress.advance(finished, total);
                stop = stop || progress.stopRequested();
            }
        }
    };
    progress.advance(0, total);
    const unsigned wanted = threadCount != 0 ? threadCount : std::thread::hardware_concurrency();
    const unsigned helpers = std::min(std::max(wanted, 1U), 8U) - 1;
    std::vector<std::jthread> threads;
    for (unsigned t = 0; t < helpers && t + 1 < files.size(); ++t) {
        threads.emplace_back([&] { readSome(false); });
    }
    readSome(true);
    threads.clear();  // joins
    if (stop) {
        return Error{ErrorCode::Cancelled, "mixing stopped"};
    }
    progress.advance(total, total);
    std::vector<Result<SoundRuns>> sounds;
    sounds.reserve(files.size());
    for (auto& slot : slots) {
        if (!slot->ok() && slot->error().code == ErrorCode::OutOfMemory) {
            throw std::bad_alloc();
        }
        sounds.push_back(std::move(*slot));
    }
    return sounds;
}

struct Voice {
    double startSeconds = 0;
    double cutSeconds = std::numeric_limits<double>::infinity();  // when the same keysound sounds again
    std::size_t keysound = 0;
};

// Adds the voice's sound to the mix where both overlap: frames [from, to) of the mix, the sound
// starting at mix frame `first`. Only the sound's runs are visited.
void addVoice(const SoundRuns& sound, std::int64_t first, std::int64_t from, std::int64_t to, float* out)
{
    const std::int64_t soundFrom = from - first;
    const std::int64_t soundTo = to - first;
    auto run = std::upper_bound(sound.runs.begin(), sound.runs.end(), soundFrom,
                                [](std::int64_t frame, const SoundRuns::Run& r) { return frame < r.endFrame(); });
    for (; run != sound.runs.end() && run->firstFrame < soundTo; ++run) {
        const std::int64_t begin = std::max(run->firstFrame, soundFrom);
        const std::int64_t end = std::min(run->endFrame(), soundTo);
        const float* in = run->samples.data() + (begin - run->firstFrame) * 2;
        float* target = out + (begin + first) * 2;
        const std::int64_t count = (end - begin) * 2;
        for (std::int64_t i = 0; i < count; ++i) {
            target[i] += in[i];
        }
    }
}

}  // namespace

Result<ChartMix> mixKeysounds(std::span<const KeysoundStrike> strikes, const std::vector<std::string>& names,
                              const std::filesystem::path& folder, const MixOptions& options, ProgressSink& progress)
{
    if (options.sampleRate <= 0 || !(options.fromSeconds >= 0) || !std::isfinite(options.fromSeconds) ||
        (options.lengthSeconds && !(*options.lengthSeconds > 0))) {
        return Error{ErrorCode::InvalidSetting, "a mix needs a rate above 0, a start of 0 or later and a length above 0"};
    }
    if (options.lengthSeconds && *options.lengthSeconds > kLongestMixSeconds) {
        return Error{ErrorCode::InvalidSetting, "a mix is at most an hour long"};
    }
    if (!strikes.empty() && options.fromSeconds > strikes.back().seconds) {
        char text[160];
        std::snprintf(text, sizeof text, "a mix cannot start at %.6g s: the chart's last sound starts at %.3f s",
                      options.fromSeconds, strikes.back().seconds);
        return Error{ErrorCode::InvalidSetting, text};
    }
    const double windowEnd = options.lengthSeconds ? options.fromSeconds + *options.lengthSeconds
                                                   : std::numeric_limits<double>::infinity();

    // Voices that can be heard in the window: started before its end, not cut before its start.
    std::vector<Voice> voices;
    std::vector<double> nextStart(names.size(), std::numeric_limits<double>::infinity());
    for (auto strike = strikes.rbegin(); strike != strikes.rend(); ++strike) {
        if (strike->keysound >= names.size() || names[strike->keysound].empty()) {
            continue;
        }
        const double cut = nextStart[strike->keysound];
        nextStart[strike->keysound] = strike->seconds;
        if (strike->seconds < windowEnd && cut > options.fromSeconds) {
            voices.push_back({strike->seconds, cut, strike->keysound});
        }
    }
    std::reverse(voices.begin(), voices.end());

    // Each file found once per keysound and read once, in the order first heard, as far as its
    // longest voice plays it; several keysounds may name one file. Missing names are kept with
    // when they were first heard, to list in that order.
    const double rate = options.sampleRate;
    const auto longestSound = static_cast<std::int64_t>(kLongestSoundSeconds * rate);
    KeysoundFinder finder(folder);
    ChartMix mix;
    std::vector<std::pair<std::size_t, std::string>> missing;
    std::set<std::string> reported;
    std::vector<FileToRead> files;
    std::map<std::filesystem::path, std::size_t> fileIndex;
    std::vector<std::ptrdiff_t> fileOfKeysound(names.size(), -1);
    std::vector<bool> looked(names.size(), false);
    std::vector<std::size_t> firstHeard(names.size(), 0);
    for (std::size_t v = 0; v < voices.size(); ++v) {
        const auto keysound = voices[v].keysound;
        if (!looked[keysound]) {
            looked[keysound] = true;
            firstHeard[keysound] = v;
            const std::string& name = names[keysound];
            const auto path = finder.find(name);
            if (!path) {
                if (reported.insert(name).second) {
                    missing.emplace_back(v, name + ": " + path.error().message);
                }
            } else if (*path) {
                const auto [entry, fresh] = fileIndex.try_emplace(**path, files.size());
                if (fresh) {
                    files.push_back({**path, 0});
                }
                fileOfKeysound[keysound] = static_cast<std::ptrdiff_t>(entry->second);
            } else if (reported.insert(name).second) {
                missing.emplace_back(v, name);
            }
        }
        if (fileOfKeysound[keysound] >= 0) {
            const double plays = std::min(voices[v].cutSeconds, windowEnd) - voices[v].startSeconds;
            const std::int64_t frames = std::isfinite(plays) ? std::min(static_cast<std::int64_t>(std::ceil(plays * rate)) + 1, longestSound)
                                                             : longestSound;
            auto& file = files[static_cast<std::size_t>(fileOfKeysound[keysound])];
            file.maxFrames = std::max(file.maxFrames, frames);
        }
    }

    auto read = readSoundFiles(files, options.sampleRate, options.threads, progress);
    if (!read) {
        return read.error();
    }
    std::vector<const SoundRuns*> soundOf(names.size(), nullptr);
    for (std::size_t keysound = 0; keysound < names.size(); ++keysound) {
        if (fileOfKeysound[keysound] < 0) {
            continue;
        }
        const auto& sound = (*read)[static_cast<std::size_t>(fileOfKeysound[keysound])];
        if (sound) {
            soundOf[keysound] = &sound.value();
        } else if (reported.insert(names[keysound]).second) {
            missing.emplace_back(firstHeard[keysound], names[keysound] + ": " + sound.error().message);
        }
    }
    std::stable_sort(missing.begin(), missing.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [heard, text] : missing) {
        mix.missing.push_back(std::move(text));
    }

    double soundEnd = options.fromSeconds;
    for (const auto& voice : voices) {
        if (const auto* sound = soundOf[voice.keysound]) {
            const double length = static_cast<double>(sound->frames) / rate;
            soundEnd = std::max(soundEnd, std::min(voice.startSeconds + length, voice.cutSeconds));
        }
    }

    const double end = options.lengthSeconds ? windowEnd : soundEnd;
    if (end - options.fromSeconds > kLongestMixSeconds) {
        return Error{ErrorCode::MixTooLong, "the chart sounds for more than an hour; mix a part of it"};
    }
    const auto frameAt = [&](double seconds) { return static_cast<std::int64_t>(std::llround(seconds * rate)); };
    const std::int64_t totalFrames = std::max<std::int64_t>(frameAt(end - options.fromSeconds), 0);
    mix.sound.sampleRate = options.sampleRate;
    mix.sound.samples.assign(static_cast<std::size_t>(totalFrames) * 2, 0.0F);

    for (std::size_t v = 0; v < voices.size(); ++v) {
        if (v % kVoicesBetweenPolls == kVoicesBetweenPolls - 1 && progress.stopRequested()) {
            return Error{ErrorCode::Cancelled, "mixing stopped"};
        }
        const auto& voice = voices[v];
        const auto* sound = soundOf[voice.keysound];
        if (sound == nullptr) {
            continue;
        }
        // Frames relative to the mix's first frame; the voice may begin before it. Times far
        // outside the mix are kept out of the frame arithmetic.
        if (voice.startSeconds + static_cast<double>(sound->frames) / rate <= options.fromSeconds) {
            continue;
        }
        const std::int64_t first = frameAt(voice.startSeconds - options.fromSeconds);
        std::int64_t last = first + sound->frames;
        if (voice.cutSeconds < end) {
            last = std::min(last, frameAt(voice.cutSeconds - options.fromSeconds));
        }
        const std::int64_t from = std::max<std::int64_t>(first, 0);
        const std::int64_t to = std::min(last, totalFrames);
        if (from < to) {
            addVoice(*sound, first, from, to, mix.sound.samples.data());
        }
    }

    float peak = 0;
    for (const float sample : mix.sound.samples) {
        peak = std::max(peak, std::fabs(sample));
    }
    if (peak > kMixPeak) {
        mix.gain = kMixPeak / peak;
        for (float& sample : mix.sound.samples) {
            sample *= mix.gain;
        }
    }
    return mix;
}

Result<ChartMix> mixChart(const chart::TimedChart& chart, const std::filesystem::path& folder,
                          const MixOptions& options, ProgressSink& progress)
{
    std::vector<KeysoundStrike> strikes;
    strikes.reserve(chart.objects.size());
    for (const auto& object : chart.objects) {
        if (object.kind != chart::ObjectKind::LongNoteEnd) {
            strikes.push_back({object.seconds, object.code});
        }
    }
    return mixKeysounds(strikes, chart.keysoundNames, folder, options, progress);
}

}  // namespace zentrowe::audio
