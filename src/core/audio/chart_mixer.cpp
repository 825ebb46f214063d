#include "core/audio/chart_mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "core/audio/keysound_finder.h"
#include "core/audio/sound_file_reader.h"

namespace zentrowe::audio {

namespace {

bool sounds(const chart::ChartObject& object)
{
    return object.kind != chart::ObjectKind::LongNoteEnd;
}

// Reads the files on every core: decoding them is most of a preview's time. The caller's thread
// reads too and is the only one to talk to the progress sink. Cancelled if the sink asks to stop.
Result<std::vector<Result<StereoSound>>> readSoundFiles(const std::vector<std::filesystem::path>& files, int sampleRate,
                                                        unsigned threadCount, ProgressSink& progress)
{
    std::vector<std::optional<Result<StereoSound>>> slots(files.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> done{0};
    std::atomic<bool> stop{false};
    const auto total = static_cast<std::int64_t>(files.size());
    const auto readSome = [&](bool reporting) {
        for (std::size_t i = next++; i < files.size() && !stop; i = next++) {
            slots[i] = readSoundFile(files[i], sampleRate);
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
    std::vector<Result<StereoSound>> sounds;
    sounds.reserve(files.size());
    for (auto& slot : slots) {
        sounds.push_back(std::move(*slot));
    }
    return sounds;
}

struct Voice {
    double startSeconds = 0;
    double cutSeconds = std::numeric_limits<double>::infinity();  // when the same code sounds again
    chart::KeysoundCode code = 0;
};

}  // namespace

Result<ChartMix> mixChart(const chart::BmsChart& chart, const std::filesystem::path& folder,
                          const MixOptions& options, ProgressSink& progress)
{
    if (options.sampleRate <= 0 || !(options.fromSeconds >= 0) ||
        (options.lengthSeconds && !(*options.lengthSeconds > 0))) {
        return Error{ErrorCode::InvalidSetting, "a mix needs a rate above 0, a start of 0 or later and a length above 0"};
    }
    if (options.lengthSeconds && *options.lengthSeconds > kLongestMixSeconds) {
        return Error{ErrorCode::InvalidSetting, "a mix is at most an hour long"};
    }
    const double windowEnd = options.lengthSeconds ? options.fromSeconds + *options.lengthSeconds
                                                   : std::numeric_limits<double>::infinity();

    // Voices that can be heard in the window: started before its end, not cut before its start.
    std::vector<Voice> voices;
    std::vector<double> nextStart(chart::kCodeCount, std::numeric_limits<double>::infinity());
    for (auto object = chart.objects.rbegin(); object != chart.objects.rend(); ++object) {
        if (!sounds(*object) || object->code >= chart.keysoundNames.size() ||
            chart.keysoundNames[object->code].empty()) {
            continue;
        }
        const double cut = nextStart[object->code];
        nextStart[object->code] = object->seconds;
        if (object->seconds < windowEnd && cut > options.fromSeconds) {
            voices.push_back({object->seconds, cut, object->code});
        }
    }
    std::reverse(voices.begin(), voices.end());

    // Each file found once per code and read once, in the order first heard; several codes may
    // name one file. Missing names are kept with when they were first heard, to list in that order.
    KeysoundFinder finder(folder);
    ChartMix mix;
    std::vector<std::pair<std::size_t, std::string>> missing;
    std::set<std::string> reported;
    std::vector<std::filesystem::path> files;
    std::map<std::filesystem::path, std::size_t> fileIndex;
    std::vector<std::ptrdiff_t> fileOfCode(chart::kCodeCount, -1);
    std::vector<bool> looked(chart::kCodeCount, false);
    std::vector<std::size_t> firstHeard(chart::kCodeCount, 0);
    for (std::size_t v = 0; v < voices.size(); ++v) {
        const auto code = voices[v].code;
        if (looked[code]) {
            continue;
        }
        looked[code] = true;
        firstHeard[code] = v;
        const std::string& name = chart.keysoundNames[code];
        if (const auto path = finder.find(name)) {
            const auto [entry, fresh] = fileIndex.try_emplace(*path, files.size());
            if (fresh) {
                files.push_back(*path);
            }
            fileOfCode[code] = static_cast<std::ptrdiff_t>(entry->second);
        } else if (reported.insert(name).second) {
            missing.emplace_back(v, name);
        }
    }

    auto read = readSoundFiles(files, options.sampleRate, options.threads, progress);
    if (!read) {
        return read.error();
    }
    std::vector<const StereoSound*> soundOfCode(chart::kCodeCount, nullptr);
    for (std::size_t code = 0; code < chart::kCodeCount; ++code) {
        if (fileOfCode[code] < 0) {
            continue;
        }
        const auto& sound = (*read)[static_cast<std::size_t>(fileOfCode[code])];
        if (sound) {
            soundOfCode[code] = &sound.value();
        } else if (reported.insert(chart.keysoundNames[code]).second) {
            missing.emplace_back(firstHeard[code], chart.keysoundNames[code] + ": " + sound.error().message);
        }
    }
    std::stable_sort(missing.begin(), missing.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [heard, text] : missing) {
        mix.missing.push_back(std::move(text));
    }

    double soundEnd = options.fromSeconds;
    for (const auto& voice : voices) {
        if (const auto* sound = soundOfCode[voice.code]) {
            const double length = static_cast<double>(sound->frames()) / options.sampleRate;
            soundEnd = std::max(soundEnd, std::min(voice.startSeconds + length, voice.cutSeconds));
        }
    }

    const double end = options.lengthSeconds ? windowEnd : soundEnd;
    if (end - options.fromSeconds > kLongestMixSeconds) {
        return Error{ErrorCode::InvalidSetting, "the chart sounds for more than an hour; mix a part of it"};
    }
    const double rate = options.sampleRate;
    const auto frameAt = [&](double seconds) { return static_cast<std::int64_t>(std::llround(seconds * rate)); };
    const std::int64_t totalFrames = std::max<std::int64_t>(frameAt(end - options.fromSeconds), 0);
    mix.sound.sampleRate = options.sampleRate;
    mix.sound.samples.assign(static_cast<std::size_t>(totalFrames) * 2, 0.0F);

    for (const auto& voice : voices) {
        const auto* sound = soundOfCode[voice.code];
        if (sound == nullptr) {
            continue;
        }
        // Frames relative to the mix's first frame; the voice may begin before it.
        const std::int64_t first = frameAt(voice.startSeconds - options.fromSeconds);
        std::int64_t last = first + static_cast<std::int64_t>(sound->frames());
        if (std::isfinite(voice.cutSeconds)) {
            last = std::min(last, frameAt(voice.cutSeconds - options.fromSeconds));
        }
        const std::int64_t from = std::max<std::int64_t>(first, 0);
        const std::int64_t to = std::min(last, totalFrames);
        float* out = mix.sound.samples.data();
        const float* in = sound->samples.data();
        for (std::int64_t frame = from; frame < to; ++frame) {
            const auto target = static_cast<std::size_t>(frame) * 2;
            const auto source = static_cast<std::size_t>(frame - first) * 2;
            out[target] += in[source];
            out[target + 1] += in[source + 1];
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

}  // namespace zentrowe::audio
