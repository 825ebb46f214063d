#include "core/chart/bms_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentrowe::chart {
namespace {

TEST(BmsLine, TellsChannelLinesCommandsAndOtherLinesApart)
{
    using Kind = BmsLine::Kind;
    struct Case {
        const char* line;
        Kind kind;
        const char* command;  // upper-cased word, for commands
        const char* word;     // as written
        const char* argument;
        int measure;
        int channel;
        const char* data;
    };
    const Case cases[] = {
        {"#WAV01 kick.wav", Kind::Command, "WAV01", "WAV01", "kick.wav", 0, 0, ""},
        // Players read commands without case; a base-62 code keeps its case in the word.
        {"#wavaZ kick.wav", Kind::Command, "WAVAZ", "wavaZ", "kick.wav", 0, 0, ""},
        {"  #Title\tMy  Song \t", Kind::Command, "TITLE", "Title", "My  Song", 0, 0, ""},
        {"#RANDOM", Kind::Command, "RANDOM", "RANDOM", "", 0, 0, ""},
        {"#BPM 150.5\r", Kind::Command, "BPM", "BPM", "150.5", 0, 0, ""},
        {"#00111:0102", Kind::Channel, "", "", "", 1, 11, "0102"},
        {"#99969: 01 ", Kind::Channel, "", "", "", 999, 69, "01"},
        {"#00102:0.75", Kind::Channel, "", "", "", 1, 2, "0.75"},
        // Not five digits before the colon: a command players pass over.
        {"#0010A:01", Kind::Command, "0010A:01", "0010A:01", "", 0, 0, ""},
        {"#00111 01", Kind::Command, "00111", "00111", "01", 0, 0, ""},
        {"*---------------------- HEADER FIELD", Kind::Other, "", "", "", 0, 0, ""},
        {"WAV01 kick.wav", Kind::Other, "", "", "", 0, 0, ""},
        {"", Kind::Other, "", "", "", 0, 0, ""},
        {" \t\r", Kind::Other, "", "", "", 0, 0, ""},
        {"#", Kind::Command, "", "", "", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const BmsLine scanned = scanBmsLine(c.line);
        EXPECT_EQ(scanned.kind, c.kind);
        EXPECT_EQ(scanned.command, c.command);
        EXPECT_EQ(scanned.word, c.word);
        EXPECT_EQ(scanned.argument, c.argument);
        EXPECT_EQ(scanned.measure, c.measure);
        EXPECT_EQ(scanned.channel, c.channel);
        EXPECT_EQ(scanned.data, c.data);
    }
}

TEST(BmsLine, EndsLinesAtLfCrLfAndCrAlone)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"LF", "#A\n#B\n", {"#A", "#B"}},
        {"CR LF", "#A\r\n#B\r\n", {"#A", "#B"}},
        {"CR alone", "#A\r#B\r", {"#A", "#B"}},
        {"no end on the last line", "#A\n#B", {"#A", "#B"}},
        {"blank lines keep their numbers", "#A\r\n\r\n\n\r#B", {"#A", "", "", "", "#B"}},
        {"LF CR is two line ends", "#A\n\r#B", {"#A", "", "#B"}},
        {"empty", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines;
        forEachBmsLine(c.text, [&](std::uint32_t number, std::string_view line) {
            EXPECT_EQ(number, lines.size() + 1);
            lines.emplace_back(line);
        });
        EXPECT_EQ(lines, c.lines);
    }
}

}  // namespace
}  // namespace zentrowe::chart
