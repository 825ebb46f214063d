#include "core/workflow/player_sides.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "core/chart/bms_reader.h"
#include "support/chart_folder.h"

namespace zentrowe::testing {
namespace {

using workflow::AuditSeverity;
using workflow::SidesUsed;

constexpr SidesUsed kFirstOnly{true, false};
constexpr SidesUsed kSecondOnly{false, true};
constexpr SidesUsed kBoth{true, true};
constexpr SidesUsed kNeither{false, false};

TEST(PlayerSides, TheSidesAreReadFromKeysAndLongNotesOfEachPlayer)
{
    struct Case {
        const char* lines;
        bool first;
        bool second;
    };
    const Case cases[] = {
        {"#00111:01\r\n", true, false},
        {"#00119:01\r\n", true, false},
        {"#00116:01\r\n", true, false},  // the first side's scratch
        {"#00126:01\r\n", false, true},  // the second side's scratch
        {"#00129:01\r\n#00111:01\r\n", true, true},
        {"#00161:0101\r\n", false, true},  // a long note of the second side, start and end
        {"#00151:0101\r\n", true, false},
        {"#00101:01\r\n", false, false},               // the background plays on neither
        {"#00131:01\r\n#00141:01\r\n", false, false},  // invisible and landmine-like channels are no notes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        const std::string text = std::string("#WAV01 a.wav\r\n") + c.lines;
        const auto chart = chart::timeChart(
            chart::readBms(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
        const SidesUsed sides = workflow::sidesUsed(chart);
        EXPECT_EQ(sides.first, c.first);
        EXPECT_EQ(sides.second, c.second);
    }
}

TEST(PlayerSides, PlayerAgainstTheSidesTheNotesUse)
{
    struct Case {
        const char* name;
        std::optional<int> player;
        SidesUsed sides;
        std::optional<AuditSeverity> severity;  // none: they agree
        const char* words = "";                 // in the message
    };
    const Case cases[] = {
        {"single play on the first side", 1, kFirstOnly, std::nullopt},
        {"single play with second-side notes", 1, kBoth, AuditSeverity::Error, "#PLAYER 1 (single play)"},
        {"no #PLAYER, taken as 1, with second-side notes", std::nullopt, kBoth, AuditSeverity::Error, "no #PLAYER"},
        {"no #PLAYER on the first side", std::nullopt, kFirstOnly, std::nullopt},
        {"battle with second-side notes", 4, kSecondOnly, AuditSeverity::Error, "#PLAYER 4"},
        {"couple play with second-side notes", 2, kBoth, AuditSeverity::Warning, "#PLAYER 3"},
        {"double play on both sides", 3, kBoth, std::nullopt},
        {"double play, first side only", 3, kFirstOnly, AuditSeverity::Warning, "1P side only"},
        {"double play, second side only", 3, kSecondOnly, AuditSeverity::Warning, "2P side only"},
        {"double play without notes", 3, kNeither, AuditSeverity::Warning, "either side"},
        {"a #PLAYER outside 1 to 4 is the header check's", 7, kBoth, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = workflow::bmsPlayerFinding(c.player, c.sides);
        ASSERT_EQ(found.has_value(), c.severity.has_value()) << (found ? found->message : "");
        if (found) {
            EXPECT_EQ(found->severity, *c.severity);
            EXPECT_NE(found->message.find(c.words), std::string::npos) << found->message;
        }
    }
}

TEST(PlayerSides, BmsonModeHintAgainstTheLanesTheNotesUse)
{
    struct Case {
        const char* name;
        const char* json;
        SidesUsed sides;
        std::optional<AuditSeverity> severity;
    };
    const Case cases[] = {
        {"7 keys on the first side", R"({"info":{"mode_hint":"beat-7k"}})", kFirstOnly, std::nullopt},
        {"7 keys with lanes 9-16", R"({"info":{"mode_hint":"beat-7k"}})", kBoth, AuditSeverity::Error},
        {"no hint, taken as 7 keys, with lanes 9-16", R"({"info":{}})", kBoth, AuditSeverity::Error},
        {"5 keys with lanes 9-16", R"({"info":{"mode_hint":"beat-5k"}})", kSecondOnly, AuditSeverity::Error},
        {"14 keys on both sides", R"({"info":{"mode_hint":"beat-14k"}})", kBoth, std::nullopt},
        {"14 keys, one side empty", R"({"info":{"mode_hint":"beat-14k"}})", kFirstOnly, AuditSeverity::Warning},
        {"10 keys, one side empty", R"({"info":{"mode_hint":"beat-10k"}})", kSecondOnly, AuditSeverity::Warning},
        {"another game's mode", R"({"info":{"mode_hint":"popn-9k"}})", kBoth, std::nullopt},
        {"not JSON", "{\"info\":", kBoth, std::nullopt},
        {"not an object", "[1,2]", kBoth, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = c.json;
        const auto found = workflow::bmsonModeFinding(
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), c.sides);
        ASSERT_EQ(found.has_value(), c.severity.has_value()) << (found ? found->message : "");
        if (found) {
            EXPECT_EQ(found->severity, *c.severity);
        }
    }
}

TEST(PlayerSides, TheAuditFindsABmsonWhoseHintLeavesLanesOut)
{
    const TempDir dir;
    writeFile(dir / "a.wav", pcmWave(4410));
    for (const char* hint : {"beat-7k", "beat-14k"}) {
        SCOPED_TRACE(hint);
        writeFile(dir / "song.bmson",
                  std::string(R"({"version":"1.0.0","info":{"title":"t","artist":"a","genre":"g","mode_hint":")") +
                      hint +
                      R"(","init_bpm":120,"resolution":240,"level":1,"judge_rank":100,"total":100},)"
                      R"("lines":[],"sound_channels":[{"name":"a.wav","notes":[{"x":1,"y":960,"l":0,"c":false},)"
                      R"({"x":9,"y":960,"l":0,"c":false}]}]})");
        NullProgress quiet;
        const auto report = workflow::auditFolder(dir.path(), quiet);
        ASSERT_TRUE(report) << report.error().message;
        const auto sides = std::count_if(report->findings.begin(), report->findings.end(), [](const auto& finding) {
            return finding.check == workflow::AuditCheck::PlayerSide;
        });
        EXPECT_EQ(sides, std::string(hint) == "beat-7k" ? 1 : 0);
    }
}

}  // namespace
}  // namespace zentrowe::testing
