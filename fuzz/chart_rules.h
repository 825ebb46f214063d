// What the chart fuzz targets share: a rule check that stops the run, the rules every timed
// chart keeps, and the mix `preview` makes of a chart, every keysound a tiny click, for two
// seconds from its first sound: the mix is refused or has the length asked for, finite samples
// within the peak.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include <unistd.h>

#include "core/audio/chart_mixer.h"
#include "core/chart/timed_chart.h"

namespace zentrowe_fuzz {

using namespace zentrowe::chart;

inline void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "chart rule broken: %s\n", rule);
        std::abort();
    }
}

// A folder holding "k.wav": 16 frames of 16-bit mono at 44,100 Hz, made once per process.
inline const std::filesystem::path& keysoundFolder()
{
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zentrowe-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "a temporary folder can be made");
        const unsigned char header[44] = {'R', 'I', 'F', 'F', 68, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                          16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 0x01, 0,
                                          2, 0, 16, 0, 'd', 'a', 't', 'a', 32, 0, 0, 0};
        std::ofstream file(std::filesystem::path(pattern) / "k.wav", std::ios::binary);
        file.write(reinterpret_cast<const char*>(header), sizeof header);
        for (int frame = 0; frame < 16; ++frame) {
            file.put(0x00).put(0x40);
        }
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// Objects in time order at finite times from 0 on, codes inside the code range, lanes the
// channels allow; with `lines` above 0, objects and problems from lines the input has.
inline void requireTimedChart(const TimedChart& chart, std::int64_t lines)
{
    require(chart.keysoundNames.size() > kLargestCode62, "one name slot per code");
    require(std::isfinite(chart.initialBpm) && chart.initialBpm > 0, "the first tempo is a positive number");
    double previous = 0;
    for (const auto& object : chart.objects) {
        require(!std::isnan(object.seconds) && object.seconds >= 0, "objects lie at times from 0 on");
        require(object.seconds >= previous, "objects are in time order");
        previous = object.seconds;
        require(object.code > 0 && object.code <= kLargestCode62, "object codes are codes");
        require(lines == 0 || (object.line >= 1 && static_cast<std::int64_t>(object.line) <= lines),
                "objects come from lines of the input");
        const bool background = object.kind == ObjectKind::Background;
        require(background == (object.lane == 0), "only the background has no lane");
        require(background || (object.lane >= 11 && object.lane <= 29 && object.lane % 10 != 0), "lanes are 11..29");
    }
    for (const auto& problem : chart.problems) {
        require(lines == 0 || (problem.line >= 1 && problem.line <= lines), "problems name lines of the input");
        require(!problem.message.empty(), "problems say what is wrong");
    }
}

inline void mixWithClicks(TimedChart chart)
{
    for (auto& name : chart.keysoundNames) {
        if (!name.empty()) {
            name = "k.wav";
        }
    }
    zentrowe::audio::MixOptions options;
    options.fromSeconds = firstSoundSeconds(chart);
    options.lengthSeconds = 2;
    zentrowe::NullProgress quiet;
    const auto mix = zentrowe::audio::mixChart(chart, keysoundFolder(), options, quiet);
    if (!mix) {
        require(mix.error().code == zentrowe::ErrorCode::InvalidSetting, "a mix is made or its window refused");
        return;
    }
    require(mix->missing.empty(), "the click is found for every name");
    require(mix->sound.frames() == 2 * 44100, "the mix has the length asked for");
    for (const float sample : mix->sound.samples) {
        require(std::isfinite(sample) && std::fabs(sample) <= zentrowe::audio::kMixPeak + 1e-6F,
                "samples are finite and within the peak");
    }
}

}  // namespace zentrowe_fuzz
