#include "core/chart/bms_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <span>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "core/chart/chart_file.h"
#include "support/memory_bound.h"
#include "support/test_support.h"

namespace zentrowe::chart {
namespace {

TimedChart read(std::string_view text)
{
    return readBmsChart({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::string withCrLf(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

// 120 BPM; measure 1 goes to 240 BPM halfway (hex tempo); measure 2 is half a measure long and
// stops for 96/192 of a measure halfway; measure 3 goes to 60 BPM by code.
constexpr std::string_view kTimingChart = R"(#BPM 120
#WAV01 click.wav
#BPM01 60
#STOP01 96
#00011:01010000
#00111:00010001
#00103:00F0
#00202:0.5
#00211:0101
#00209:0001
#00308:01
#00311:01010000
)";

TEST(BmsReader, TimesFollowTempoChangesMeasureLengthsAndStops)
{
    // Worked by hand: measure 0 lasts 4 beats at 120 (2 s); measure 1 2 beats at 120 then 2 at
    // 240 (1.5 s); measure 2 1 beat, 2 beats of stop and 1 beat at 240 (1 s); then 60 BPM.
    const std::vector<double> expected = {0.0, 0.5, 2.5, 3.25, 3.5, 3.75, 4.5, 5.5};
    for (const auto& text : {std::string(kTimingChart), withCrLf(kTimingChart)}) {
        SCOPED_TRACE(text.find('\r') == std::string::npos ? "LF" : "CR LF");
        const auto chart = read(text);
        EXPECT_TRUE(chart.problems.empty());
        ASSERT_EQ(chart.objects.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(chart.objects[i].seconds, expected[i], 1e-9) << "object " << i;
            EXPECT_EQ(chart.objects[i].lane, 11);
            EXPECT_EQ(chart.objects[i].code, 1);
        }
        EXPECT_EQ(chart.keysoundNames[1], "click.wav");
    }
}

TEST(BmsReader, ReadsChartsAsEditorsWriteThem)
{
    {
        SCOPED_TRACE("several background lines in one measure, a lane slot written twice");
        const auto chart = read("#WAV01 a.wav\n#WAV02 b.wav\n#WAV03 c.wav\n"
                                "#00001:01000000\n#00001:0002\n#00001:00000003\n#00011:01\n#00011:03\n");
        ASSERT_EQ(chart.objects.size(), 4U);
        // All background objects stay; the later lane line replaces the lane's slot.
        EXPECT_EQ(chart.objects[0].kind, ObjectKind::Background);
        EXPECT_EQ(chart.objects[0].code, 1);
        EXPECT_EQ(chart.objects[1].kind, ObjectKind::Note);
        EXPECT_EQ(chart.objects[1].code, 3);
        EXPECT_DOUBLE_EQ(chart.objects[2].seconds, 2 * 60.0 / 130);  // no #BPM: 130
        EXPECT_EQ(chart.objects[2].code, 2);
        EXPECT_DOUBLE_EQ(chart.objects[3].seconds, 3 * 60.0 / 130);
        EXPECT_EQ(chart.objects[3].code, 3);
    }
    {
        SCOPED_TRACE("#LNOBJ ends the lane's previous note; long-note channels pair up");
        const auto chart = read("#BPM 60\n#LNOBJ ZZ\n#WAV01 a.wav\n#WAVZZ end.wav\n"
                                "#00016:0100ZZ00\n#00051:00010001\n#00011:000000ZZ\n");
        ASSERT_EQ(chart.objects.size(), 5U);
        EXPECT_EQ(chart.objects[0].kind, ObjectKind::LongNoteStart);
        EXPECT_EQ(chart.objects[0].lane, 16);
        EXPECT_EQ(chart.objects[1].kind, ObjectKind::LongNoteStart);
        EXPECT_EQ(chart.objects[1].lane, 11);
        EXPECT_EQ(chart.objects[2].kind, ObjectKind::LongNoteEnd);
        EXPECT_EQ(chart.objects[2].lane, 16);
        EXPECT_EQ(chart.objects[3].kind, ObjectKind::LongNoteEnd);
        EXPECT_EQ(chart.objects[3].lane, 11);
        // An #LNOBJ code with no note before it in its lane is reported and stays silent.
        EXPECT_EQ(chart.objects[4].kind, ObjectKind::LongNoteEnd);
        ASSERT_EQ(chart.problems.size(), 1U);
        EXPECT_EQ(chart.problems[0].line, 7);
        EXPECT_DOUBLE_EQ(firstSoundSeconds(chart), 0);
    }
    {
        SCOPED_TRACE("#BASE 62 tells small letters from capitals");
        const auto chart = read("#BASE 62\n#WAVaz small.wav\n#WAVAZ capital.wav\n#00011:azAZ\n");
        ASSERT_EQ(chart.objects.size(), 2U);
        EXPECT_EQ(chart.objects[0].code, 36 * 62 + 61);
        EXPECT_EQ(chart.keysoundNames[chart.objects[0].code], "small.wav");
        EXPECT_EQ(chart.objects[1].code, 10 * 62 + 35);
        EXPECT_EQ(chart.keysoundNames[chart.objects[1].code], "capital.wav");
        // Without it, the two spellings are one code.
        const auto base36 = read("#WAVaz small.wav\n#WAVAZ capital.wav\n#00011:azAZ\n");
        ASSERT_EQ(base36.objects.size(), 2U);
        EXPECT_EQ(base36.objects[0].code, base36.objects[1].code);
        EXPECT_EQ(base36.keysoundNames[base36.objects[0].code], "capital.wav");
    }
    {
        SCOPED_TRACE("#RANDOM takes the first branch, nested blocks too");
        const auto chart = read("#WAV01 a.wav\n#WAV02 b.wav\n#RANDOM 3\n#IF 2\n#00011:02\n#WAV01 wrong.wav\n"
                                "#ENDIF\n#IF 1\n#RANDOM 2\n#IF 2\n#00012:02\n#ELSE\n#00013:01\n#ENDIF\n#ENDRANDOM\n"
                                "#ELSE\n#00014:02\n#ENDIF\n#ENDRANDOM\n#00015:01\n");
        ASSERT_EQ(chart.objects.size(), 2U);
        EXPECT_EQ(chart.objects[0].lane, 13);
        EXPECT_EQ(chart.objects[1].lane, 15);
        EXPECT_EQ(chart.keysoundNames[1], "a.wav");
        EXPECT_TRUE(chart.problems.empty());
    }
    {
        SCOPED_TRACE("Shift_JIS names are kept byte for byte, trailing blanks dropped");
        const std::string name = "\x83L\x83" "b\x83N \x91\xE5" ".wav";  // "キック 大.wav"
        const auto chart = read(withCrLf("#wav01 " + name + " \t\n#00011:01\n"));
        EXPECT_EQ(chart.keysoundNames[1], name);
        EXPECT_EQ(chart.objects.size(), 1U);
    }
}

TEST(BmsReader, BadLinesAreReportedWithTheirNumbersAndTheRestIsRead)
{
    const auto chart = read("#TITLE song\n"          // 1: read into the header
                            "#BPM 0\n"               // 2: not a tempo
                            "#WAV01 a.wav\n"         // 3
                            "#WAV!! b.wav\n"         // 4: not a code
                            "#00002:-1\n"            // 5: not a length
                            "#00011:01G\n"           // 6: odd data
                            "#00108:05\n"            // 7: tempo code without definition
                            "#00111:@@01\n"          // 8: not a code
                            "#ENDIF\n"               // 9: no #IF
                            "; a comment\n"          // 10
                            "#00109:01\n"            // 11: stop code without definition
                            "#STOP01 x\n"            // 12: not a length
                            "#00211:01");            // 13, no line end
    const std::vector<std::int64_t> lines = {2, 4, 12, 5, 6, 7, 8, 11, 9};
    std::vector<std::int64_t> reported;
    for (const auto& problem : chart.problems) {
        reported.push_back(problem.line);
    }
    std::sort(reported.begin(), reported.end());
    std::vector<std::int64_t> wanted = lines;
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(reported, wanted);
    EXPECT_EQ(chart.ignoredLines, 1);  // the comment; #TITLE is read now
    EXPECT_DOUBLE_EQ(chart.initialBpm, 130);
    ASSERT_EQ(chart.objects.size(), 3U);
    EXPECT_DOUBLE_EQ(chart.objects[0].seconds, 0);
    EXPECT_DOUBLE_EQ(chart.objects[1].seconds, 60.0 / 130 * 4 * 1.5);
    EXPECT_DOUBLE_EQ(chart.objects[2].seconds, 60.0 / 130 * 8);
}


// The same chart in every line end and encoding editors save: LF, CR LF, CR alone (old Mac
// editors), UTF-8 with its mark, and UTF-16 either way round with its mark.
TEST(BmsReader, ReadsEveryLineEndAndEncodingAlike)
{
    const std::string lf = "#BPM 120\n#WAV01 \xE4\xB8\xAD.wav\n#00111:0101\n#00211:01\n";
    const auto replaced = [&](std::string_view end) {
        std::string out;
        for (const char c : lf) {
            out += c == '\n' ? std::string(end) : std::string(1, c);
        }
        return out;
    };
    // "中.wav" is U+4E2D: UTF-16 writes it as one unit.
    const auto utf16 = [&](bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        const std::u16string text = u"#BPM 120\r\n#WAV01 \u4E2D.wav\r\n#00111:0101\r\n#00211:01\r\n";
        for (const char16_t unit : text) {
            const char high = static_cast<char>(unit >> 8);
            const char low = static_cast<char>(unit & 0xFF);
            out += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        return out;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"LF", lf},
        {"CR LF", replaced("\r\n")},
        {"CR", replaced("\r")},
        {"UTF-8 mark", "\xEF\xBB\xBF" + lf},
        {"UTF-16 LE", utf16(false)},
        {"UTF-16 BE", utf16(true)},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        const auto chart = read(text);
        EXPECT_TRUE(chart.problems.empty());
        EXPECT_DOUBLE_EQ(chart.initialBpm, 120);
        EXPECT_EQ(chart.keysoundNames[1], "\xE4\xB8\xAD.wav");
        ASSERT_EQ(chart.objects.size(), 3U);
        EXPECT_EQ(chart.objects[2].line, 4U);
        EXPECT_DOUBLE_EQ(chart.objects[2].seconds, 4.0);
    }
}

TEST(BmsReader, BaseAndHeaderLines)
{
    const std::string_view text =
        "#BASE 62\n#TITLE T\n#ARTIST A\n#PLAYLEVEL 7\n#PREVIEW p.ogg\n#BASE 36\n#WAVaa a.wav\n#00111:aa\n";
    const auto reading = readBms({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    ASSERT_EQ(reading.problems.size(), 1U);
    EXPECT_EQ(reading.problems[0].line, 6);
    EXPECT_NE(reading.problems[0].message.find("base 62"), std::string::npos);
    EXPECT_TRUE(reading.chart.header.base62);
    EXPECT_EQ(reading.chart.header.title, "T");
    EXPECT_EQ(reading.chart.header.artist, "A");
    EXPECT_EQ(reading.chart.header.playLevel, 7);
    EXPECT_EQ(reading.chart.header.previewFile, "p.ogg");
    ASSERT_EQ(reading.chart.keysounds.size(), 1U);
    EXPECT_EQ(reading.chart.keysounds[0].code, 36U * 62 + 36);
}

// A long line costs its objects, not its bytes: "00" slots keep nothing.
TEST(BmsReader, LongLinesKeepOnlyTheirObjects)
{
    std::string text = "#WAV01 a.wav\n#00111:";
    text += std::string(4'000'000, '0');
    text += "01\n";
    const auto reading = readBms(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    ASSERT_EQ(reading.chart.lines.size(), 1U);
    EXPECT_EQ(reading.chart.lines[0].slotCount, 2'000'001U);
    EXPECT_EQ(reading.chart.objects.size(), 1U);
    EXPECT_LE(sizeof(ChartObject), 24U);
    EXPECT_LE(sizeof(LineObject), 8U);
}


// A line of millions of objects costs those objects and a few bytes per byte of its text while
// it is read and placed, in one pass: no copy of its objects while they grow, no sorting buffer.
TEST(BmsReader, ALongLineFullOfObjectsTakesLittleMoreThanItsObjects)
{
    struct Case {
        const char* name;
        const char* channel;
        ObjectKind last;
    };
    const std::vector<Case> cases = {
        {"lane", "11", ObjectKind::Note},
        {"long notes", "51", ObjectKind::LongNoteEnd},
    };
    constexpr std::size_t kSlots = 500'000;  // 1 MB of text
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = zentrowe::testing::runWithinMemoryBound([&] {
            bool whole = false;
            const auto grown = zentrowe::testing::residentGrowth([&] {
                std::string text = "#WAV01 a.wav\n#00011:01\n#001";
                text.reserve(text.size() + 4 + 2 * kSlots);
                text += c.channel;
                text += ':';
                for (std::size_t k = 0; k < kSlots; ++k) {
                    text += "01";
                }
                text += '\n';
                const auto chart = read(text);
                whole = chart.objects.size() == kSlots + 1 && chart.problems.empty() &&
                        chart.objects.back().kind == c.last;
            });
            // The text, the objects kept and a few bytes per byte of text besides: 4 in a release
            // build, up to 16 under the sanitizers, which keep freed memory a while. It took 36.
            const auto bound = static_cast<std::int64_t>((2 + 2 * 16 + sizeof(ChartObject)) * kSlots);
            std::fprintf(stderr, "%s: resident memory grew by %lld bytes\n", c.name, static_cast<long long>(grown));
            return !whole ? 1 : grown > bound ? 2 : 0;
        });
        EXPECT_EQ(run.exitCode, 0);
    }
}


// What preview and check are handed: either format by its name, and a sentence for a file that
// holds no chart rather than a silent mix of nothing.
TEST(ChartFile, ReadsBothFormatsAndRefusesWhatHoldsNoObject)
{
    struct Case {
        const char* name;
        std::string file;
        std::string text;
        std::size_t objects;  // 0: refused
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {"BMS", "a.bms", "#WAV01 a.wav\n#00111:01\n", 1, ""},
        {"bmson", "a.BMSON",
         R"({"version":"1.0.0","info":{"init_bpm":120,"resolution":240},)"
         R"("sound_channels":[{"name":"a.wav","notes":[{"x":1,"y":0,"l":0},{"x":0,"y":960,"l":0},{"x":2,"y":960,"l":480}]}]})",
         4, ""},
        {"empty BMS", "e.bms", "", 0, "holds no object"},
        {"BMS of nothing but a header", "h.bms", "#TITLE x\n#WAV01 a.wav\n", 0, "holds no object"},
        {"bmson without notes", "e.bmson", R"({"version":"1.0.0","sound_channels":[]})", 0, "holds no object"},
        {"bmson that is not JSON", "bad.bmson", "{\"version\":", 0, "not a bmson chart"},
        {"bmson that is JSON but no object", "list.bmson", "[1,2]", 0, "not a bmson chart"},
        {"bmson past a million measures", "far.bmson",
         R"({"info":{"resolution":1},"sound_channels":[{"name":"a","notes":[{"x":1,"y":9000000000,"l":0}]}]})", 0,
         "past measure"},
    };
    testing::TempDir folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::writeFile(folder / c.file, c.text);
        const auto chart = readChartFile(folder / c.file);
        if (c.objects == 0) {
            ASSERT_FALSE(chart.ok());
            EXPECT_NE(chart.error().message.find(c.refusal), std::string::npos) << chart.error().message;
            continue;
        }
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        EXPECT_EQ(chart->objects.size(), c.objects);
    }
    // The bmson chart in time: 120 BPM, 240 ticks a beat; the long note ends two beats after it starts.
    const auto bmson = readChartFile(folder / "a.BMSON");
    ASSERT_TRUE(bmson.ok());
    EXPECT_EQ(bmson->keysoundNames[1], "a.wav");
    EXPECT_EQ(bmson->objects[0].lane, 11);
    EXPECT_DOUBLE_EQ(bmson->objects[1].seconds, 2.0);
    EXPECT_EQ(bmson->objects[2].kind, ObjectKind::LongNoteStart);
    EXPECT_EQ(bmson->objects[3].kind, ObjectKind::LongNoteEnd);
    EXPECT_DOUBLE_EQ(bmson->objects[3].seconds, 3.0);
}

}  // namespace
}  // namespace zentrowe::chart
