// Arbitrary bytes as the chart `zentrowe-cli preview` is given. Whatever the bytes: no crash,
// objects in time order at finite times from 0 on, codes inside the code range, lanes the
// channels allow, problems naming lines the input has. The chart is then mixed as `preview`
// mixes it, every keysound a tiny click, for two seconds from its first sound: the mix is
// refused or has the length asked for, finite samples within the peak.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <utility>

#include <unistd.h>

#include "core/chart/bms_reader.h"
#include "core/chart/bms_writer.h"
#include "click_mix.h"

using namespace zentrowe_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zentrowe::chart;
    const std::span<const std::uint8_t> bytes(data, size);
    auto reading = readBms(bytes);
    // What was read can be written (codes of the chart's base) and read again.
    const auto written = bmsText(reading.chart);
    require(written.ok(), "a chart read can be written");
    const TimedChart chart = timeChart(std::move(reading));
    // LF, CR LF and CR alone end lines.
    const auto lines = static_cast<std::int64_t>(std::count(bytes.begin(), bytes.end(), '\n') +
                                                 std::count(bytes.begin(), bytes.end(), '\r')) + 1;

    require(chart.keysoundNames.size() > kLargestCode62, "one name slot per code");
    require(std::isfinite(chart.initialBpm) && chart.initialBpm > 0, "the first tempo is a positive number");
    require(chart.ignoredLines >= 0 && chart.ignoredLines <= lines, "no more lines ignored than there are");
    double previous = 0;
    for (const auto& object : chart.objects) {
        require(!std::isnan(object.seconds) && object.seconds >= 0, "objects lie at times from 0 on");
        require(object.seconds >= previous, "objects are in time order");
        previous = object.seconds;
        require(object.code > 0 && object.code <= kLargestCode62, "object codes are codes");
        require(object.line >= 1 && static_cast<std::int64_t>(object.line) <= lines, "objects come from lines of the input");
        const bool background = object.kind == ObjectKind::Background;
        require(background == (object.lane == 0), "only the background has no lane");
        require(background || (object.lane >= 11 && object.lane <= 29 && object.lane % 10 != 0), "lanes are 11..29");
    }
    for (const auto& problem : chart.problems) {
        require(problem.line >= 1 && problem.line <= lines, "problems name lines of the input");
        require(!problem.message.empty(), "problems say what is wrong");
    }
    mixWithClicks(std::move(chart));
    return 0;
}
