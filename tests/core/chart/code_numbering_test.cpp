#include "core/chart/code_numbering.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentrowe::testing {
namespace {

struct Line {
    std::uint8_t channel;
    std::vector<std::pair<std::uint32_t, chart::ChartCode>> objects;  // slot, code
};

chart::Chart chartOf(const std::vector<chart::KeysoundDefinition>& definitions, const std::vector<Line>& lines)
{
    chart::Chart chart;
    chart.keysounds = definitions;
    for (const auto& line : lines) {
        chart.addLine(1, line.channel, 4);
        for (const auto& [slot, code] : line.objects) {
            chart.addObject(slot, code);
        }
    }
    return chart;
}

// "channel:slot=file" for every object, a tempo object as "channel:slot=#code".
std::vector<std::string> heard(const chart::Chart& chart)
{
    std::vector<std::string> out;
    for (const auto& line : chart.lines) {
        for (std::uint32_t k = 0; k < line.objectCount; ++k) {
            const auto& object = chart.objects[line.firstObject + k];
            std::string what = "#" + std::to_string(object.code);
            for (const auto& definition : chart.keysounds) {
                if (chart::holdsKeysoundCode(line.channel) && definition.code == object.code) {
                    what = definition.fileName;
                }
            }
            out.push_back(std::to_string(line.channel) + ":" + std::to_string(object.slot) + "=" + what);
        }
    }
    return out;
}

TEST(CodeNumbering, AFileTakesOneCodeInEveryChartOfTheSetAndOnlyWherePlaced)
{
    // Two charts of one set. a.ogg is defined under 01 and 03 (two lengths that round to one file
    // name), c.ogg is never placed, e.ogg is defined twice under 06 and the later one wins, 07 is
    // placed without a definition, and 01 on the tempo channel is #BPM01, no keysound.
    const std::vector<chart::KeysoundDefinition> definitions = {
        {1, "a.ogg"}, {2, "b.ogg"}, {3, "a.ogg"}, {4, "c.ogg"}, {5, "d.ogg"}, {6, "x.ogg"}, {6, "e.ogg"},
    };
    chart::Chart easy = chartOf(definitions, {{11, {{0, 1}, {2, 2}}}, {1, {{1, 3}, {3, 5}}}, {8, {{0, 1}}}});
    chart::Chart hard = chartOf(definitions, {{11, {{0, 1}, {1, 3}, {2, 2}}}, {1, {{3, 5}, {3, 7}}}, {51, {{2, 6}}}});
    struct Case {
        const char* what;
        chart::ChartCode firstCode;  // the code after the start code
    };
    const Case cases[] = {{"from 01", 1}, {"after start code 0Z", 36}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        chart::Chart first = easy;
        chart::Chart second = hard;
        const std::vector<std::string> easyHeard = heard(first);
        std::vector<std::string> hardHeard = heard(second);
        chart::Chart* set[] = {&first, &second};
        EXPECT_EQ(chart::numberCodesByFile(set, c.firstCode), 4u);
        // In the order first defined: a, b, d, then e, which only the second chart places.
        const chart::ChartCode a = c.firstCode;
        const chart::ChartCode b = a + 1;
        const chart::ChartCode d = a + 2;
        const chart::ChartCode e = a + 3;
        const std::vector<chart::KeysoundDefinition> firstDefined = {{a, "a.ogg"}, {b, "b.ogg"}, {d, "d.ogg"}};
        const std::vector<chart::KeysoundDefinition> secondDefined = {
            {a, "a.ogg"}, {b, "b.ogg"}, {d, "d.ogg"}, {e, "e.ogg"}};
        const auto defined = [](const chart::Chart& chart) {
            std::vector<std::pair<chart::ChartCode, std::string>> out;
            for (const auto& definition : chart.keysounds) {
                out.emplace_back(definition.code, definition.fileName);
            }
            return out;
        };
        EXPECT_EQ(defined(first), defined(chartOf(firstDefined, {})));
        EXPECT_EQ(defined(second), defined(chartOf(secondDefined, {})));
        // Every object plays what it played, the one without a definition gone.
        EXPECT_EQ(heard(first), easyHeard);
        std::erase(hardHeard, "1:3=#7");
        EXPECT_EQ(heard(second), hardHeard);
        EXPECT_EQ(first.objects[0].code, a);
        EXPECT_EQ(first.objects[2].code, a);       // was 03
        EXPECT_EQ(first.objects.back().code, 1u);  // the tempo object keeps #BPM01
    }
}

}  // namespace
}  // namespace zentrowe::testing
