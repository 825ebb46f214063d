#include "core/chart/chart_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace zentrowe::chart {
namespace {

TEST(ChartModel, MeasureLengthsRunToTheLastMeasureWithALine)
{
    struct Case {
        const char* what;
        std::vector<std::int32_t> lineMeasures;
        std::vector<MeasureLength> measureLengths;
        std::vector<double> lengths;
    };
    const std::vector<Case> cases = {
        {"no lines", {}, {{0, 0.5, 0}}, {}},
        {"whole measures", {0, 2}, {}, {1, 1, 1}},
        // "#00102:0.75": measure 1 is three quarters long.
        {"a shorter measure", {3, 0}, {{1, 0.75, 4}}, {1, 0.75, 1, 1}},
        {"a length past the last line", {1}, {{1, 1.5, 0}, {5, 0.25, 0}}, {1, 1.5}},
        {"a length before measure 0", {1}, {{-1, 0.25, 0}}, {1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Chart chart;
        for (const auto measure : c.lineMeasures) {
            chart.addLine(measure, kBackgroundChannel, 1);
        }
        chart.measureLengths = c.measureLengths;
        EXPECT_EQ(measureLengthsToLastLine(chart), c.lengths);
    }
}

}  // namespace
}  // namespace zentrowe::chart
