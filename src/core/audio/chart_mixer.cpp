#include "core/audio/chart_mixer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "core/audio/keysound_finder.h"
#include "core/audio/sound_file_reader.h"

namespace zentrowe::audio {

namespace {

bool sounds(const chart::ChartObject& object)
{
    return object.kind != chart::ObjectKind::LongNoteEnd;
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

    // Each file read once, in the order first heard; several codes may name one file.
    KeysoundFinder finder(folder);
    ChartMix mix;
    std::vector<const StereoSound*> soundOfCode(chart::kCodeCount, nullptr);
    std::vector<bool> looked(chart::kCodeCount, false);
    std::map<std::filesystem::path, StereoSound> sounds;
    std::set<std::string> reported;
    std::int64_t distinctCodes = 0;
    for (const auto& voice : voices) {
        if (!looked[voice.code]) {
            looked[voice.code] = true;
            ++distinctCodes;
        }
    }
    std::fill(looked.begin(), looked.end(), false);
    std::int64_t done = 0;
    progress.advance(0, distinctCodes);
    double soundEnd = options.fromSeconds;
    for (const auto& voice : voices) {
        if (!looked[voice.code]) {
            looked[voice.code] = true;
            const std::string& name = chart.keysoundNames[voice.code];
            if (const auto path = finder.find(name)) {
                auto known = sounds.find(*path);
                if (known == sounds.end()) {
                    auto read = readSoundFile(*path, options.sampleRate);
                    if (read) {
                        known = sounds.emplace(*path, std::move(read).value()).first;
                    } else if (reported.insert(name).second) {
                        mix.missing.push_back(name + ": " + read.error().message);
                    }
                }
                soundOfCode[voice.code] = known == sounds.end() ? nullptr : &known->second;
            } else if (reported.insert(name).second) {
                mix.missing.push_back(name);
            }
            progress.advance(++done, distinctCodes);
            if (progress.stopRequested()) {
                return Error{ErrorCode::Cancelled, "mixing stopped"};
            }
        }
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
