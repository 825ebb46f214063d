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

}  // namespace
}  // namespace zentrowe::testing
