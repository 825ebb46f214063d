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
#include "chart_rules.h"

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

    require(chart.ignoredLines >= 0 && chart.ignoredLines <= lines, "no more lines ignored than there are");
    requireTimedChart(chart, lines);
    mixWithClicks(std::move(chart));
    return 0;
}
