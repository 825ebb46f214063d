#include "core/chart/bms_chart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace zentrowe::chart {
namespace {

BmsChart read(std::string_view text)
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

TEST(BmsChart, TimesFollowTempoChangesMeasureLengthsAndStops)
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

TEST(BmsChart, ReadsChartsAsEditorsWriteThem)
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

TEST(BmsChart, BadLinesAreReportedWithTheirNumbersAndTheRestIsRead)
{
    const auto chart = read("#TITLE song\n"          // 1: read by nobody here, ignored
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
    EXPECT_EQ(chart.ignoredLines, 2);
    EXPECT_DOUBLE_EQ(chart.initialBpm, 130);
    ASSERT_EQ(chart.objects.size(), 3U);
    EXPECT_DOUBLE_EQ(chart.objects[0].seconds, 0);
    EXPECT_DOUBLE_EQ(chart.objects[1].seconds, 60.0 / 130 * 4 * 1.5);
    EXPECT_DOUBLE_EQ(chart.objects[2].seconds, 60.0 / 130 * 8);
}

}  // namespace
}  // namespace zentrowe::chart
