#include "core/chart/bmson_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/chart/timed_chart.h"
#include "support/memory_bound.h"

namespace zentrowe::chart {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(BmsonReader, MembersInAnyOrderTheLastOfARepeatedKeyAndNothingOfUnknownOnes)
{
    struct Object {
        double seconds;
        std::uint8_t lane;
        ChartCode code;
        bool operator==(const Object&) const = default;
    };
    struct Case {
        const char* name;
        std::string_view text;
        std::vector<Object> objects;
        std::vector<std::string> keysounds;  // by code from 1
        std::vector<std::string> problems;
        std::size_t unevenMeasures = 0;
    };
    const std::vector<Case> cases = {
        {"bar lines after the notes they measure",
         R"({"sound_channels":[{"name":"a.wav","notes":[{"x":1,"y":720}]}],"lines":[{"y":0},{"y":480}],)"
         R"("info":{"init_bpm":120}})",
         {{1.5, 11, 1}}, {"a.wav"}, {}, 1},
        {"a repeated key counts its last value",
         R"({"info":{"init_bpm":60,"init_bpm":120},"sound_channels":[{"name":"a.wav","name":"b.wav",)"
         R"("notes":[{"x":1,"y":0}],"notes":[{"x":2,"y":240,"y":480}]}]})",
         {{1.0, 12, 1}}, {"b.wav"}, {}},
        {"comments and members of no use",
         R"(/* made by hand */ {"version":"1.0.0","bga":{"bga_events":[{"y":0,"id":1}]},"sound_channels":)"
         R"([{"name":"a.wav","notes":[{"x":1,"y":0,"c":false,"more":{"y":5,"x":[2]}}]}]} // end)",
         {{0.0, 11, 1}}, {"a.wav"}, {"info.init_bpm is not a tempo above 0; read as 130"}},
        {"elements that are no objects",
         R"({"info":{"init_bpm":120},"bpm_events":[1,[],{"y":0}],"stop_events":[null],"lines":[7,[{"y":1}]],)"
         R"("sound_channels":[5,{"name":"b.wav","notes":["x",{"y":-1},{"x":1,"y":0}]}]})",
         {{0.0, 11, 2}}, {"", "b.wav"}, {"6 notes or events without a time of 0 or more left out"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reading = readBmson(bytesOf(c.text), "a.bmson");
        ASSERT_TRUE(reading.ok()) << reading.error().message;
        EXPECT_EQ(reading->chart.measureLengths.size(), c.unevenMeasures);
        std::vector<std::string> keysounds;
        for (const auto& keysound : reading->chart.keysounds) {
            keysounds.push_back(keysound.fileName);
        }
        EXPECT_EQ(keysounds, c.keysounds);
        const TimedChart chart = timeChart(std::move(reading).value());
        std::vector<Object> objects;
        for (const auto& object : chart.objects) {
            objects.push_back({object.seconds, object.lane, object.code});
        }
        EXPECT_EQ(objects, c.objects);
        std::vector<std::string> problems;
        for (const auto& problem : chart.problems) {
            problems.push_back(problem.message);
        }
        EXPECT_EQ(problems, c.problems);
    }
}

TEST(BmsonReader, ReadingTakesAFewBytesOfMemoryABytePastTheChart)
{
    // 200,000 notes, 4 MB of text: a tree of the whole text took some 18 bytes a byte, 28 under
    // AddressSanitizer. The bound holds the chart read as well (some 9 bytes a byte in all under
    // AddressSanitizer, which keeps memory freed for a while; 5 without).
    std::string text = R"({"info":{"init_bpm":120},"sound_channels":[{"name":"k.wav","notes":[)";
    for (int i = 0; i < 200'000; ++i) {
        text += (i == 0 ? R"({"x":)" : R"(,{"x":)") + std::to_string(1 + i % 7) + R"(,"y":)" + std::to_string(i * 10) + "}";
    }
    text += "]}]}";
    const auto idle = testing::runWithinMemoryBound([] { return 0; });
    const auto read = testing::runWithinMemoryBound([&] {
        const auto reading = readBmson(bytesOf(text), "many.bmson");
        return reading.ok() && reading->problems.size() == 0 ? 0 : 1;
    });
    EXPECT_EQ(read.exitCode, 0);
    const auto used = read.peakResidentBytes - idle.peakResidentBytes;
    EXPECT_LT(used, static_cast<std::int64_t>(text.size()) * 16) << used << " bytes for " << text.size();
}

}  // namespace
}  // namespace zentrowe::chart
