#include <gtest/gtest.h>


#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

const std::filesystem::path kData = std::filesystem::path(ZENTROWE_SOURCE_DIR) / "tests" / "data" / "convert";

CliRun convert(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "convert");
    return runCli(arguments);
}

std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConvertCommand, WritesExactlyTheExpectedFiles)
{
    struct Case {
        std::string expected;
        std::string song;
        std::vector<std::string> options;
        int keysounds;
    };
    for (const auto& c : std::vector<Case>{
             {"worked-example-plain", "worked-example.mid", {"--track", "2"}, 3},
             // Every note of the track is on channel 1: the part is the whole track.
             {"worked-example-plain", "worked-example.mid", {"--track", "2:1"}, 3},
             {"held-notes-long", "held-notes.mid", {"--track", "2", "--mode", "long", "--gap", "200", "--bpm", "140"}, 6},
             {"held-notes-long-min-1", "held-notes.mid",
              {"--track=2", "--mode=long", "--long-min=1", "--start-code=0a", "--name=Keys"}, 6},
             {"drums-percussion", "drums.mid", {"--track", "2", "--mode", "percussion", "--gap", "0", "--name", "Drum"}, 6},
         }) {
        SCOPED_TRACE(c.expected);
        TempDir out;
        std::vector<std::string> arguments{(kData / c.song).string(), "--out", out.path().string()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const CliRun run = convert(arguments);
        ASSERT_EQ(run.exitCode, 0);
        const std::string chartName = std::filesystem::path(c.song).replace_extension(".bms").string();
        EXPECT_EQ(run.out, "wrote " + (out / chartName).string() + "\nwrote " + (out / "K-Midi.mid").string() + "\n" +
                               std::to_string(c.keysounds) + " keysounds\n");
        const auto expected = kData / "expected" / c.expected;
        EXPECT_EQ(namesIn(out.path()), namesIn(expected));
        for (const auto& name : namesIn(expected)) {
            SCOPED_TRACE(name);
            EXPECT_EQ(readFile(out / name), readFile(expected / name));
        }
    }
}

TEST(ConvertCommand, UsageErrorsExitWithTwoAndWriteNothing)
{
    TempDir out;
    const std::string song = (kData / "worked-example.mid").string();
    const std::string folder = out.path().string();
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {song, "--out", folder},
             {song, "--track", "2"},
             {song, "--track", "two", "--out", folder},
             {song, "--track", "-1", "--out", folder},
             {song, "--track", "2", "--out", folder, "--mode", "drums"},
             {song, "--track", "2", "--out", folder, "--unknown", "1"},
             {"--track", "2", "--out", folder},
             {song, "--track", "2,2", "--out", folder},
             {song, "--track", "2:1,2", "--out", folder},
             {song, "--track", "2:17", "--out", folder},
             {song, "--track", "2:", "--out", folder},
             {song, "--track", "1,2", "--out", folder},  // convert charts one part; build takes several
         }) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        EXPECT_EQ(convert(arguments).exitCode, 2);
        EXPECT_TRUE(namesIn(out.path()).empty());
    }
}

TEST(ConvertCommand, RefusedValuesExitWithOneAndWriteNothing)
{
    TempDir out;
    const std::string song = (kData / "worked-example.mid").string();
    const std::string folder = out.path().string();
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> arguments{song, "--track", "2", "--out", folder};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             with({"--start-code", "0"}),
             with({"--start-code", "0?"}),
             with({"--name", "a/b"}),
             with({"--long-min", "x"}),
             with({"--gap=-1"}),
             with({"--gap", "1e3"}),
             with({"--bpm", "0"}),
             with({"--bpm", "3"}),
             with({"--start-code", "ZZ"}),
             {song, "--track", "0", "--out", folder},
             {song, "--track", "3", "--out", folder},
             {song, "--track", "99999999999999", "--out", folder},
             {song, "--track", "2:2", "--out", folder},  // a channel without notes
             {song, "--track", "3:1", "--out", folder},
             {(kData / "missing.mid").string(), "--track", "1", "--out", folder},
         }) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        EXPECT_EQ(convert(arguments).exitCode, 1);
        EXPECT_TRUE(namesIn(out.path()).empty());
    }
}

TEST(ConvertCommand, OutputFolderIsMadeWhenMissingAndRefusedWhenAFileHasItsName)
{
    TempDir out;
    const std::string song = (kData / "worked-example.mid").string();
    const auto nested = out / "charts" / "new";
    const auto made = convert({song, "--track", "2", "--out", nested.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(namesIn(nested), (std::vector<std::string>{"K-Midi.mid", "worked-example.bms"}));

    writeFile(out / "taken", std::string_view("a file"));
    const auto refused = convert({song, "--track", "2", "--out", (out / "taken").string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("taken: cannot write into it: it is not a folder"), std::string::npos) << refused.err;
    EXPECT_EQ(readText(out / "taken"), "a file");
}

TEST(ConvertCommand, MergingSaysWhatItSavedAndEveryFileHoldsTheMergedKeysounds)
{
    // Note 60 struck ten times, a beat each, at velocities 60 to 69.
    Bytes events;
    for (int k = 0; k < 10; ++k) {
        append(events, bytes({0x00, 0x90, 60, 60 + k, 0x83, 0x60, 0x80, 60, 0x40}));  // 480 ticks held
    }
    append(events, kEndOfTrack);
    TempDir out;
    const auto song = out / "curve.mid";
    writeFile(song, midiFile(0, 480, {events}));
    const auto folder = out / "charts";
    // 60-64 round to 60, 65-69 to 70.
    const CliRun run = convert({song.string(), "--track", "1", "--out", folder.string(), "--velocity-step", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "zentrowe-cli: merging saved 8 keysounds (10 became 2)\n");
    EXPECT_NE(run.out.find("\n2 keysounds\n"), std::string::npos);
    const std::string chart = readText(folder / "curve.bms");
    EXPECT_NE(chart.find("#WAV01 A60-48-60.OGG\r\n#WAV02 A60-48-70.OGG\r\n\r\n"), std::string::npos);
    // "K-Midi.mid" plays the two merged keysounds: note 60 at velocity 60, then at 70, no other.
    // Its events run on from byte 32 (after the tempo and the program change) in running status:
    // gap 100, note, velocity, 96 ticks, note, 0.
    const Bytes keysounds = readFile(folder / "K-Midi.mid");
    std::vector<int> velocities;
    for (std::size_t k = 32; k + 1 < keysounds.size(); ++k) {
        if (keysounds[k] == 60 && keysounds[k + 1] != 0) {
            velocities.push_back(keysounds[k + 1]);
            k += 2;
        }
    }
    EXPECT_EQ(velocities, (std::vector<int>{60, 70}));

    SCOPED_TRACE("without merging nothing is said");
    const CliRun plain = convert({song.string(), "--track", "1", "--out", (out / "plain").string()});
    ASSERT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_NE(plain.out.find("\n10 keysounds\n"), std::string::npos);

    SCOPED_TRACE("a step that is no whole number is refused naming its option");
    const CliRun refused =
        convert({song.string(), "--track", "1", "--out", (out / "refused").string(), "--length-step", "1.5"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("--length-step \"1.5\": must be a whole number"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out / "refused" / "curve.bms"));
}

}  // namespace
}  // namespace zentrowe::testing
