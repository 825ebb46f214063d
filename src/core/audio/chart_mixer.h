#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/stereo_sound.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/bms_chart.h"

namespace zentrowe::audio {

// The longest mix made in one go: an hour of stereo floats is 1.3 GB.
inline constexpr double kLongestMixSeconds = 3600;
// A mix whose loudest sample passes this is turned down to it, so that 16-bit output never clips.
inline constexpr float kMixPeak = 0.98F;

struct MixOptions {
    int sampleRate = 44100;
    double fromSeconds = 0;               // chart time of the mix's first frame
    std::optional<double> lengthSeconds;  // the mix's length; when absent, up to where the last sound ends
    unsigned threads = 0;                 // threads reading sound files; 0: one per core, at most 8
};

struct ChartMix {
    StereoSound sound;
    // Each "#WAV" name whose file is missing or unreadable, once, in the order first heard:
    // "kick.wav" for a missing file, "kick.wav: <reason>" for one that could not be decoded.
    std::vector<std::string> missing;
    float gain = 1;  // applied to the whole mix to keep its peak within kMixPeak
};

// Every object of the chart that sounds (long notes once, at their start) plays its keysound
// from the chart's folder at its time, until the sound ends or the next object of the same code
// starts it again. Keysound files are read once each, in the order first heard; progress counts
// them. Missing or unreadable files are listed, not fatal. InvalidSetting for a rate of 0 or
// less, a negative start, a length of 0 or less, or a mix longer than kLongestMixSeconds;
// Cancelled if the sink asks to stop.
Result<ChartMix> mixChart(const chart::BmsChart& chart, const std::filesystem::path& folder,
                          const MixOptions& options, ProgressSink& progress);

}  // namespace zentrowe::audio
