#include "core/chart/line_slots.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>
#include <vector>

namespace zentrowe::chart {

namespace {

// For each line, the line it is taken into (itself where it stays).
std::vector<std::size_t> mergeTargets(const Chart& chart)
{
    std::map<std::pair<std::int32_t, std::uint8_t>, std::vector<std::size_t>> groups;
    for (std::size_t index = 0; index < chart.lines.size(); ++index) {
        const auto& line = chart.lines[index];
        if (line.channel != kBackgroundChannel) {
            groups[{line.measure, line.channel}].push_back(index);
        }
    }
    std::vector<std::size_t> target(chart.lines.size());
    std::iota(target.begin(), target.end(), std::size_t{0});
    for (const auto& [key, members] : groups) {
        std::uint32_t largest = 1;
        for (const auto index : members) {
            largest = std::max(largest, chart.lines[index].slotCount);
        }
        const bool divide = std::all_of(members.begin(), members.end(), [&](std::size_t index) {
            const auto count = chart.lines[index].slotCount;
            return count > 0 && largest % count == 0;
        });
        if (!divide || members.size() < 2) {
            continue;
        }
        for (const auto index : members) {
            target[index] = members.front();
        }
    }
    return target;
}

// The objects of each line that stays, on the slot grid of the largest line merged into it.
struct MergedLine {
    std::uint32_t slotCount = 1;
    std::map<std::uint32_t, ChartCode> objects;  // slot, code: a later object at a slot replaces
};

}  // namespace

void fitLineSlots(Chart& chart)
{
    const auto target = mergeTargets(chart);
    std::map<std::size_t, MergedLine> merged;
    for (std::size_t index = 0; index < chart.lines.size(); ++index) {
        merged[target[index]].slotCount = std::max(merged[target[index]].slotCount, chart.lines[index].slotCount);
    }
    for (std::size_t index = 0; index < chart.lines.size(); ++index) {
        const auto& line = chart.lines[index];
        auto& into = merged[target[index]];
        const std::uint32_t scale = line.slotCount == 0 ? 1 : into.slotCount / line.slotCount;
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            into.objects[object.slot * scale] = object.code;
        }
    }
    std::vector<ChannelLine> lines;
    std::vector<LineObject> objects;
    objects.reserve(chart.objects.size());
    for (std::size_t index = 0; index < chart.lines.size(); ++index) {
        if (target[index] != index) {
            if (!lines.empty()) {
                lines.back().blankLinesAfter =
                    static_cast<std::uint8_t>(lines.back().blankLinesAfter + chart.lines[index].blankLinesAfter);
            }
            continue;
        }
        const auto& made = merged[index];
        std::uint32_t step = made.slotCount;
        for (const auto& [slot, code] : made.objects) {
            step = std::gcd(step, slot);
        }
        step = std::max<std::uint32_t>(step, 1);
        ChannelLine line = chart.lines[index];
        line.slotCount = std::max<std::uint32_t>(made.slotCount / step, 1);
        line.firstObject = static_cast<std::uint32_t>(objects.size());
        line.objectCount = static_cast<std::uint32_t>(made.objects.size());
        for (const auto& [slot, code] : made.objects) {
            objects.push_back({slot / step, code});
        }
        lines.push_back(line);
    }
    chart.lines = std::move(lines);
    chart.objects = std::move(objects);
}

}  // namespace zentrowe::chart
