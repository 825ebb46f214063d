#include "core/chart/bmson_writer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "core/chart/bms_reader.h"
#include "core/chart/bmson_reader.h"

namespace zentrowe::chart {
namespace {

// The text read back by a JSON parser we did not write: names of any bytes stay valid JSON and
// valid UTF-8, and tempos come back as the very doubles written.
TEST(BmsonWriterTest, NamesOfAnyBytesAndExactTemposReadBack)
{
    Chart chart;
    chart.header.title = std::string("say \"hi\"\\ \t\x01 \xE4\xB8\xAD end") + '\0' + "!";
    chart.header.initialBpm = 60000000.0 / 333333.0;
    chart.header.resolution = 7;
    chart.tempos.push_back({1, 60000000.0 / 600001.0, {}});
    chart.keysounds.push_back({1, "bad \xFF\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE4\xB8.ogg"});
    chart.addLine(0, kTempoChannel, 28);
    chart.addObject(5, 1);
    chart.addLine(0, 16, 28);  // the scratch, lane 8
    chart.addObject(3, 1);
    chart.addLine(0, 51, 28);  // a long note in lane 1 from tick 4 to 13
    chart.addObject(4, 1);
    chart.addObject(13, 1);

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
    EXPECT_EQ(json["lines"], nlohmann::json::parse(R"([{"y":0},{"y":28}])"));
    EXPECT_EQ(json["sound_channels"][0]["notes"][0], nlohmann::json::parse(R"({"x":8,"y":3,"l":0,"c":false})"));
    EXPECT_EQ(json["sound_channels"][0]["notes"][1], nlohmann::json::parse(R"({"x":1,"y":4,"l":9,"c":false})"));

    // What players list: the artist, level and preview when known.
    chart.header.artist = "A";
    chart.header.playLevel = 3;
    chart.header.previewFile = "preview.ogg";
    const auto info = nlohmann::json::parse(bmsonText(chart))["info"];
    EXPECT_EQ(info["artist"], "A");
    EXPECT_EQ(info["level"], 3);
    EXPECT_EQ(info["preview_music"], "preview.ogg");
}

// A BMS chart written as bmson and read back sounds at the same times.
TEST(BmsonWriterTest, BmsChartsWrittenAsBmsonReadBackAtTheSameTimes)
{
    const std::string text = "#BPM 120\n#WAV01 a.wav\n#WAV02 b.wav\n#BPM01 60\n#STOP01 96\n#00011:01010000\n"
                             "#00103:00F0\n#00202:0.5\n#00209:0001\n#00251:0202\n#00308:01\n#00301:01\n";
    auto reading = readBms({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    const std::string bmson = bmsonText(reading.chart);
    const auto bms = timeChart(std::move(reading));
    auto back = readBmson({reinterpret_cast<const std::uint8_t*>(bmson.data()), bmson.size()}, "x.bmson");
    ASSERT_TRUE(back.ok()) << back.error().message;
    const auto timed = timeChart(std::move(back).value());
    EXPECT_TRUE(timed.problems.empty());
    ASSERT_EQ(timed.objects.size(), bms.objects.size());
    for (std::size_t k = 0; k < timed.objects.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(timed.objects[k].seconds, bms.objects[k].seconds, 1e-9);
        EXPECT_EQ(timed.objects[k].kind, bms.objects[k].kind);
        EXPECT_EQ(timed.keysoundNames[timed.objects[k].code], bms.keysoundNames[bms.objects[k].code]);
    }
}

}  // namespace
}  // namespace zentrowe::chart
