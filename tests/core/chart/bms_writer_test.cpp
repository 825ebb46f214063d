#include "core/chart/bms_writer.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/chart/bms_reader.h"

namespace zentrowe::chart {
namespace {

ChartReading readText(std::string_view text)
{
    return readBms({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// A built chart's layout: "#BASE 62" first, then the header, then the definitions, then the
// channel lines each followed by its empty lines.
TEST(BmsWriter, WritesBaseFirstThenHeaderDefinitionsAndLines)
{
    Chart chart;
    chart.header.base62 = true;
    chart.header.player = 1;
    chart.header.title = "two\r\nlines";
    chart.header.artist = "A";
    chart.header.initialBpm = 90;
    chart.header.previewFile = "preview.ogg";
    chart.header.lnType = 1;
    chart.tempos.push_back({1, 90, "090.00"});
    chart.keysounds.push_back({36, "a.ogg"});
    chart.addLine(0, 11, 4, 1);
    chart.addObject(2, 36);
    chart.addLine(12, kHexTempoChannel, 1);
    chart.addObject(0, 0xB4);
    const auto text = bmsText(chart);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "#BASE 62\r\n#PLAYER 1\r\n#TITLE two  lines\r\n#ARTIST A\r\n#BPM 090.00\r\n#PREVIEW preview.ogg\r\n"
                     "#LNTYPE 01\r\n\r\n\r\n#BPM01 090.00\r\n\r\n\r\n#WAV0a a.ogg\r\n\r\n\r\n"
                     "#00011:00000a00\r\n\r\n#01203:B4\r\n");

    // "ZZ" is the last code of base 36: 1296 has no two characters there.
    chart.header.base62 = false;
    chart.keysounds[0].code = 1296;
    const auto refused = bmsText(chart);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::CodesExhausted);
}

// A chart read and written again reads back to the same objects at the same times.
TEST(BmsWriter, ChartsReadAndWrittenReadBackAlike)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"tempos, stops and a short measure",
         "#BPM 120\n#WAV01 a.wav\n#BPM01 60\n#STOP01 96\n#00011:01010000\n#00103:00F0\n#00202:0.5\n#00209:0001\n"
         "#00211:0101\n#00308:01\n#00311:01\n"},
        {"long notes by channel and by #LNOBJ",
         "#WAV01 a.wav\n#WAV02 end.wav\n#LNOBJ 02\n#00151:0101\n#00112:0102\n#00101:01\n"},
        {"base 62", "#BASE 62\n#WAVaZ a.wav\n#00016:aZ00aZ\n"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        auto first = readText(text);
        ASSERT_TRUE(first.problems.empty()) << first.problems[0].message;
        const auto written = bmsText(first.chart);
        ASSERT_TRUE(written.ok());
        const auto again = timeChart(readText(*written));
        const auto original = timeChart(std::move(first));
        EXPECT_TRUE(again.problems.empty());
        ASSERT_EQ(again.objects.size(), original.objects.size());
        for (std::size_t k = 0; k < again.objects.size(); ++k) {
            EXPECT_DOUBLE_EQ(again.objects[k].seconds, original.objects[k].seconds);
            EXPECT_EQ(again.objects[k].kind, original.objects[k].kind);
            EXPECT_EQ(again.objects[k].lane, original.objects[k].lane);
            EXPECT_EQ(again.keysoundNames[again.objects[k].code], original.keysoundNames[original.objects[k].code]);
        }
    }
}

}  // namespace
}  // namespace zentrowe::chart
