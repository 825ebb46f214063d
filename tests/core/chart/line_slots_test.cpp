#include "core/chart/line_slots.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentrowe::testing {
namespace {

// "measure channel/slots: slot=code ..." for each line, in order.
std::vector<std::string> described(const chart::Chart& chart)
{
    std::vector<std::string> out;
    for (const auto& line : chart.lines) {
        std::string text = std::to_string(line.measure) + " " + std::to_string(line.channel) + "/" +
                           std::to_string(line.slotCount) + ":";
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            text += " " + std::to_string(object.slot) + "=" + std::to_string(object.code);
        }
        text += std::string(line.blankLinesAfter, '|');
        out.push_back(text);
    }
    return out;
}

TEST(LineSlots, EachLineTakesTheFewestSlotsThatPlaceItsObjectsExactly)
{
    struct Line {
        std::int32_t measure;
        std::uint8_t channel;
        std::uint32_t slots;
        std::vector<std::pair<std::uint32_t, chart::ChartCode>> objects;
        std::uint8_t blankLinesAfter = 0;
    };
    // A song of 480 ticks a quarter note: 1920 slots a measure, one a tick.
    const std::vector<Line> lines = {
        {0, 11, 1920, {{0, 1}, {960, 2}}},   // on the half measure: 2 slots
        {0, 8, 1920, {{480, 1}}},            // two tempo lines of one measure become one
        {0, 1, 1920, {{1, 3}}},              // background layers stay apart, a tick off the grid
        {0, 1, 1920, {{1, 4}}, 1},
        {0, 8, 1920, {{1440, 2}}, 1},        // taken into the first: its blank line goes before
        {1, 8, 192, {{3, 1}}},               // 192 divides 1920: 3 of 192 is 30 of 1920
        {1, 8, 1920, {{5, 2}}},
        {2, 14, 4, {{2, 5}}},                // a later object at the same place replaces
        {2, 14, 2, {{1, 6}}},
        {3, 8, 192, {{0, 1}}},               // 192 and 7 do not divide: two lines
        {3, 8, 7, {{1, 2}}},
        {4, 16, 192, {}},                    // no objects: one slot
    };
    chart::Chart chart;
    for (const auto& line : lines) {
        chart.addLine(line.measure, line.channel, line.slots, line.blankLinesAfter);
        for (const auto& [slot, code] : line.objects) {
            chart.addObject(slot, code);
        }
    }
    chart::fitLineSlots(chart);
    const std::vector<std::string> expected = {
        "0 11/2: 0=1 1=2",
        "0 8/4: 1=1 3=2",
        "0 1/1920: 1=3",
        "0 1/1920: 1=4||",
        "1 8/384: 1=2 6=1",
        "2 14/2: 1=6",
        "3 8/1: 0=1",
        "3 8/7: 1=2",
        "4 16/1:",
    };
    EXPECT_EQ(described(chart), expected);
}

}  // namespace
}  // namespace zentrowe::testing
