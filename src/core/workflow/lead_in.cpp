#include "core/workflow/lead_in.h"

#include <algorithm>
#include <cmath>

#include "core/chart/timed_chart.h"

namespace zentrowe::workflow {

namespace {

bool sounds(int channel)
{
    return channel == chart::kBackgroundChannel || chart::isLaneChannel(channel) || chart::isLongNoteChannel(channel);
}

}  // namespace

std::int32_t leadInMeasures(const chart::Chart& chart, std::int32_t lastMeasure)
{
    std::int32_t firstMeasure = -1;
    std::int32_t lastUsed = 0;
    for (const auto& line : chart.lines) {
        lastUsed = std::max(lastUsed, line.measure);
        if (sounds(line.channel) && line.objectCount != 0) {
            firstMeasure = firstMeasure < 0 ? line.measure : std::min(firstMeasure, line.measure);
        }
    }
    if (firstMeasure < 0) {
        return 0;
    }
    const auto timed = chart::timeChart(chart::ChartReading{chart, 0, {}});
    const double firstSeconds = chart::firstSoundSeconds(timed);
    const double bpm = chart.header.initialBpm.value_or(130);
    const double measureSeconds = bpm > 0 ? 4 * 60 / bpm : kLeastLeadInSeconds;
    std::int32_t measures = std::max(0, 1 - firstMeasure);
    if (firstSeconds < kLeastLeadInSeconds) {
        const double missingSeconds = kLeastLeadInSeconds - firstSeconds;
        measures = std::max(measures, static_cast<std::int32_t>(std::ceil(missingSeconds / measureSeconds - 1e-9)));
    }
    return std::clamp(measures, 0, std::max(0, lastMeasure - lastUsed));
}

void addLeadIn(chart::Chart& chart, std::int32_t measures)
{
    for (auto& line : chart.lines) {
        line.measure += measures;
    }
    for (auto& length : chart.measureLengths) {
        length.measure += measures;
    }
}

}  // namespace zentrowe::workflow
