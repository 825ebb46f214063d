#include "core/chart/bmson_writer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace zentrowe::chart {
namespace {

// The text read back by a JSON parser we did not write: names of any bytes stay valid JSON and
// valid UTF-8, and tempos come back as the very doubles written.
TEST(BmsonWriterTest, NamesOfAnyBytesAndExactTemposReadBack)
{
    BmsonChart chart;
    chart.title = std::string("say \"hi\"\\ \t\x01 \xE4\xB8\xAD end") + '\0' + "!";
    chart.initBpm = bpmOfMicros(333333);
    chart.resolution = 7;
    chart.lines = {0, 28};
    chart.bpmEvents = {{5, bpmOfMicros(600001)}};
    chart.soundChannels = {{"bad \xFF\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE4\xB8.ogg", {{8, 3, 0}, {0, 4, 9}}}};

    const auto json = nlohmann::json::parse(bmsonText(chart));
    EXPECT_EQ(json["version"], "1.0.0");
    EXPECT_EQ(json["info"]["title"], std::string("say \"hi\"\\ \t\x01 \xE4\xB8\xAD end") + '\0' + "!");
    EXPECT_FALSE(json["info"].contains("artist"));
    // A stray byte, an overlong form, a surrogate or a code point past U+10FFFF is one U+FFFD a
    // byte; a sequence broken off is one U+FFFD in all.
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(json["sound_channels"][0]["name"],
              "bad " + replacement + replacement + replacement + " " + replacement + replacement + replacement + " " +
                  replacement + replacement + replacement + replacement + " " + replacement + ".ogg");
    EXPECT_EQ(json["info"]["init_bpm"].get<double>(), 60000000.0 / 333333.0);
    EXPECT_EQ(json["bpm_events"][0]["bpm"].get<double>(), 60000000.0 / 600001.0);
    EXPECT_EQ(json["bpm_events"][0]["y"], 5);
    EXPECT_EQ(json["sound_channels"][0]["notes"][1],
              nlohmann::json::parse(R"({"x":0,"y":4,"l":9,"c":false})"));

    chart.artist = "";
    EXPECT_EQ(nlohmann::json::parse(bmsonText(chart))["info"]["artist"], "");
}

}  // namespace
}  // namespace zentrowe::chart
