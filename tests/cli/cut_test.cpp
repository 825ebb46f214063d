// zentrowe-cli cut, run as a program on songs it converted and recordings the tests write.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/workflow/conversion.h"
#include "core/keysound/wav_cutter.h"
#include "core/song/chart_file_name.h"
#include "core/keysound/wave_builder.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::Bytes;
using testing::CliRun;
using testing::runCli;

std::vector<std::string> wavFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav" && entry.path().filename() != "render.wav") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Division 480, 120 BPM: C4 a quarter at velocity 100, E4 an eighth at 90, C4 a quarter again
// (the same keysound), G4 a sixteenth at 80.
Bytes songFile()
{
    Bytes events = testing::bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    const int notes[][3] = {{60, 480, 100}, {64, 240, 90}, {60, 480, 100}, {67, 120, 80}};
    for (const auto& note : notes) {
        testing::append(events, testing::varLen(240));
        testing::append(events, testing::bytes({0x90, note[0], note[2]}));
        testing::append(events, testing::varLen(static_cast<std::uint32_t>(note[1])));
        testing::append(events, testing::bytes({0x80, note[0], 0x00}));
    }
    testing::append(events, testing::kEndOfTrack);
    return testing::midiFile(1, 480, {events});
}

// Converts the song into `folder` with the given extra options and writes a recording of 44.1
// kHz 16-bit stereo pattern bytes that starts at the first note (no sound to tell otherwise).
void convertAndRecord(const testing::TempDir& dir, const std::vector<std::string>& options = {})
{
    testing::writeFile(dir / "song.mid", songFile());
    std::vector<std::string> arguments = {"convert", (dir / "song.mid").string(), "--track", "1", "--out",
                                          dir.path().string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const CliRun converted = runCli(arguments);
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(600000)}}));
}

TEST(CutCli, WritesWhatTheWindowsInMemoryPathWrites)
{
    testing::TempDir dir;
    convertAndRecord(dir, {"--gap", "150"});
    const CliRun cut = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string()});
    ASSERT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_EQ(cut.err, "lead-in: first note\n");
    // Three keysounds: a quarter is 48/192 of a measure, an eighth 24, a sixteenth 12.
    const std::vector<std::string> expected = {"A60-48-100.wav", "A64-24-90.wav", "A67-12-80.wav"};
    ASSERT_EQ(wavFiles(dir.path()), expected);
    EXPECT_NE(cut.out.find("3 keysounds cut\n"), std::string::npos) << cut.out;

    // The window converts and cuts in memory: the same settings, the same files.
    testing::TempDir window;
    testing::writeFile(window / "song.mid", songFile());
    testing::writeFile(window / "render.wav", testing::readFile(dir / "render.wav"));
    NullProgress quiet;
    workflow::ConversionRequest request;
    request.sourceMidiPath = window / "song.mid";
    request.song = song::readSongSummary(request.sourceMidiPath, quiet).value();
    request.chartFileName = song::deriveChartFileName(request.sourceMidiPath.string());
    request.outputFolder = window.path();
    request.trackNumber = 1;
    convert::SettingsTexts texts;
    texts.gap = "150";
    request.settings = convert::parseSettings(texts).value();
    const auto outcome = workflow::runConversion(request, quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    keysound::CutRequest cutRequest;
    cutRequest.recording = window / "render.wav";
    cutRequest.outputFolder = window.path();
    for (const auto& entry : outcome->keysounds.entries()) {
        cutRequest.keysoundStems.push_back(convert::keysoundStem("A", entry, outcome->sourceTicksPerMeasure));
    }
    cutRequest.cuts = outcome->cuts;
    cutRequest.ticksPerQuarter = outcome->keysoundSong.ticksPerQuarter;
    cutRequest.tempoMicros = outcome->keysoundSong.tempoMicros;
    cutRequest.gapTicks = request.settings.keysoundGap;
    ASSERT_TRUE(keysound::cutRecording(cutRequest, quiet).ok());
    for (const auto& name : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(testing::readFile(dir / name), testing::readFile(window / name));
    }

    // The keysound file has gaps of 150 ticks at 96 a quarter: E4 starts 96 + 150 ticks after
    // C4, 1.28125 s, byte 226,012.5 rounding to 226,012.
    const Bytes e4 = testing::readFile(dir / "A64-24-90.wav");
    const Bytes data = testing::patternBytes(600000);
    ASSERT_GT(e4.size(), 44u + 16);
    EXPECT_TRUE(std::equal(e4.begin() + 44, e4.begin() + 60, data.begin() + 226012));
}

TEST(CutCli, FixtureCutMatchesTheExpectedFilesByteForByte)
{
    const std::filesystem::path fixtures = std::filesystem::path(ZENTROWE_SOURCE_DIR) / "tests/data/cut";
    testing::TempDir dir;
    for (const char* name : {"K-Midi.mid", "song.bms", "render.wav"}) {
        std::filesystem::copy_file(fixtures / name, dir / name);
    }
    const CliRun cut = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string()});
    ASSERT_EQ(cut.exitCode, 0) << cut.err;
    // The recording stops 40 frames short of the last keysound's end.
    EXPECT_EQ(cut.err, "zentrowe-cli: warning: " + (dir / "render.wav").string() +
                           " ends before 1 of the 3 keysounds end; the part past its end is silence\n"
                           "lead-in: file start\n");
    std::vector<std::string> expected;
    for (const auto& entry : std::filesystem::directory_iterator(fixtures / "expected")) {
        expected.push_back(entry.path().filename().string());
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(wavFiles(dir.path()), expected);
    for (const auto& name : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(testing::readFile(dir / name), testing::readFile(fixtures / "expected" / name));
    }
}

TEST(CutCli, LeadInChoiceAndItsReport)
{
    const struct {
        std::vector<std::string> option;
        std::string report;
    } cases[] = {
        {{}, "lead-in: first note\n"},
        {{"--lead-in", "first-note"}, "lead-in: first note\n"},
        {{"--lead-in=file-start"}, "lead-in: file start\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        testing::TempDir dir;
        convertAndRecord(dir);
        std::vector<std::string> arguments = {"cut", (dir / "render.wav").string(), "--chart",
                                              (dir / "song.bms").string()};
        arguments.insert(arguments.end(), c.option.begin(), c.option.end());
        const CliRun cut = runCli(arguments);
        ASSERT_EQ(cut.exitCode, 0) << cut.err;
        EXPECT_EQ(cut.err, c.report);
    }
    testing::TempDir dir;
    convertAndRecord(dir);
    const CliRun wrong = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string(),
                              "--lead-in", "middle"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wavFiles(dir.path()).empty());
}

TEST(CutCli, NameReplacesThePrefixOfEveryKeysound)
{
    const struct {
        std::string oldName;
        std::string newName;
        std::vector<std::string> files;
    } cases[] = {
        {"A", "drum_", {"drum_60-48-100.wav", "drum_64-24-90.wav", "drum_67-12-80.wav"}},
        // An old name ending in digits and dashes: the note number tells where it ends.
        {"x-1-2", "", {"60-48-100.wav", "64-24-90.wav", "67-12-80.wav"}},
        {"6", "B", {"B60-48-100.wav", "B64-24-90.wav", "B67-12-80.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.oldName + " -> " + c.newName);
        testing::TempDir dir;
        convertAndRecord(dir, {"--name=" + c.oldName});
        const CliRun cut = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string(),
                                "--name=" + c.newName});
        ASSERT_EQ(cut.exitCode, 0) << cut.err;
        EXPECT_EQ(wavFiles(dir.path()), c.files);
    }
}

TEST(CutCli, RefusesBadInputAndWritesNothing)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    const std::string chart = (dir / "song.bms").string();
    const std::string recording = (dir / "render.wav").string();
    testing::TempDir bad;
    testing::writeFile(bad / "adpcm.wav",
                       testing::riffWave({{"fmt ", testing::fmtBody(2, 2, 44100, 176400, 4, 4)},
                                          {"data", testing::patternBytes(1000)}}));
    testing::writeFile(bad / "silent.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::Bytes(600000, 0)}}));
    const std::string chartText = testing::readText(dir / "song.bms");
    testing::TempDir other;
    testing::writeFile(other / "song.bms", chartText);
    testing::TempDir renamed;
    std::string badStem = chartText;
    badStem.replace(badStem.find("A60-48-100.OGG"), 14, "A60-48.OGG");
    testing::writeFile(renamed / "song.bms", badStem);
    testing::writeFile(renamed / "K-Midi.mid", testing::readFile(dir / "K-Midi.mid"));

    const struct {
        const char* what;
        std::vector<std::string> arguments;
        const char* named;
    } cases[] = {
        {"unsupported recording", {"cut", (bad / "adpcm.wav").string(), "--chart", chart}, "adpcm.wav"},
        {"missing recording", {"cut", (dir / "none.wav").string(), "--chart", chart}, "none.wav"},
        {"missing chart", {"cut", recording, "--chart", (dir / "none.bms").string()}, "none.bms"},
        {"missing K-Midi.mid", {"cut", recording, "--chart", (other / "song.bms").string()}, "K-Midi.mid"},
        // The reason the settings dialog gives for the same name, in this face's words.
        {"unsafe --name", {"cut", recording, "--chart", chart, "--name", "a/b"},
         "--name: the keysound name must be printable ASCII"},
        {"silent recording", {"cut", (bad / "silent.wav").string(), "--chart", chart}, "silent.wav: no sample"},
        {"stem without the note ending", {"cut", recording, "--chart", (renamed / "song.bms").string(), "--name", "B"},
         "A60-48"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CliRun cut = runCli(c.arguments);
        EXPECT_EQ(cut.exitCode, 1);
        EXPECT_NE(cut.err.find(c.named), std::string::npos) << cut.err;
        EXPECT_TRUE(wavFiles(dir.path()).empty());
        EXPECT_TRUE(wavFiles(other.path()).empty());
        EXPECT_TRUE(wavFiles(renamed.path()).empty());
    }
}

TEST(CutCli, ChartWithoutKeysoundsIsRefused)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    testing::writeFile(dir / "song.bms", std::string("#PLAYER 1\r\n#BPM 120\r\n"));
    const CliRun cut = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string()});
    EXPECT_EQ(cut.exitCode, 1) << cut.err;
    EXPECT_EQ(cut.err, "zentrowe-cli: no keysounds to cut (0 in the chart, 3 notes in the keysound file)\n");
    EXPECT_TRUE(wavFiles(dir.path()).empty());
}

}  // namespace
}  // namespace zentrowe
