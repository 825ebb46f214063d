#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

const std::filesystem::path kDemo = std::filesystem::path(ZENTROWE_SOURCE_DIR) / "data" / "demo" / "ode-to-joy.mid";
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";  // small, quick to load

// The file a player opens for a "#WAV" name: the name itself, else the same stem with ".ogg",
// the one extension every player we know tries in place of another.
std::filesystem::path resolve(const std::filesystem::path& folder, const std::string& name)
{
    if (std::filesystem::exists(folder / name)) {
        return folder / name;
    }
    return folder / std::filesystem::path(name).replace_extension(".ogg");
}

TEST(BuildCommand, DemoMelodyBecomesAFolderWhereEveryKeysoundResolves)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    TempDir dir;
    const auto out = dir / "new" / "out";  // made, parents too
    const auto run = runCli({"build", "--soundfont", kSoundFont, kDemo.string(), "--track", "2", "--out", out.string(), "--title", "Ode"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // The one line on stderr says where the loudness pass brought the autoplay: to -14 LUFS, or
    // as near as a true peak of -1 dBTP allows.
    EXPECT_EQ(run.err.rfind("loudness -", 0), 0u) << run.err;
    EXPECT_TRUE(run.err.find(" LUFS, peak -") != std::string::npos &&
                (run.err.rfind("loudness -14.0 LUFS", 0) == 0 || run.err.ends_with("peak -1.0 dBTP\n")))
        << run.err;

    // The default set: normal, hyper and another; the melody is no denser than another allows,
    // so no insane chart. Each chart's line gives its level and figures.
    for (const char* letter : {"N", "H", "A"}) {
        SCOPED_TRACE(letter);
        const auto chartPath = out / ("ode-to-joy_" + std::string(letter) + ".bms");
        EXPECT_NE(run.out.find("wrote " + chartPath.string() + "\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\n" + chartPath.filename().string() + " ["), std::string::npos) << run.out;
        EXPECT_NE(readText(chartPath).find("#TITLE Ode\r\n"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(out / "ode-to-joy_X.bms"));
    std::istringstream chart(readText(out / "ode-to-joy_N.bms"));
    std::string line;
    std::getline(chart, line);
    EXPECT_EQ(line, "#PLAYER 1\r");
    std::vector<std::string> named;
    while (std::getline(chart, line)) {
        if (line.rfind("#WAV", 0) == 0) {
            named.push_back(line.substr(7, line.size() - 8));  // "#WAVxx NAME\r"
        }
    }
    // The melody's 37 keysounds, then the 26 that play the other tracks' notes, one a sound: every
    // note of the song is a keysound, and no BGM file is made. Each lasts its seconds, so a note
    // played at another of the song's four tempos (120, 132, 112, 96 BPM) is a keysound of its own.
    ASSERT_EQ(named.size(), 63u);
    for (std::size_t i = 0; i < named.size(); ++i) {
        SCOPED_TRACE(named[i]);
        EXPECT_EQ(named[i].rfind(i < 37 ? "A" : "Abg", 0), 0u);
        EXPECT_NE(named[i].rfind("Abg", 0) == 0, i < 37);
        const Bytes sound = readFile(resolve(out, named[i]));
        ASSERT_GE(sound.size(), 4u);
        EXPECT_EQ(std::string(sound.begin(), sound.begin() + 4), "OggS");
    }
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        EXPECT_NE(entry.path().filename().string().rfind("bgm", 0), 0u) << entry.path();
    }
    EXPECT_NE(run.out.find("wrote 63 keysound files in " + out.string() + "\n"), std::string::npos) << run.out;
    // Then the report, two lines a chart, easiest first: what it holds, then what its level
    // counts. The melody is calmer than any cap, so the set spreads below it: ANOTHER plays all
    // 62 notes, HYPER and NORMAL a step fewer each, and every chart plays the whole track, the
    // rest from the background; each chart a level above the one before.
    EXPECT_NE(run.out.find("37 keysounds; 26 more play the song's other 224 notes from the background\n63 sound files, "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(" MB\node-to-joy_N.bms [NORMAL]: level 1, 31 notes, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(", 31 in the background\n  level 1."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ode-to-joy_H.bms [HYPER]: level 2, 44 notes, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ode-to-joy_A.bms [ANOTHER]: level 3, 62 notes, "), std::string::npos) << run.out;
    // ANOTHER's density: its 62 notes from 0 to 30.22 s, 2.05 a second, and a quarter of what
    // its busiest two seconds (3.0 a second) have above that: 2.3; 4 of its notes (6 %) are on
    // the scratch, half the density by that share.
    EXPECT_NE(run.out.find(", 0 in the background\n  level 2.4/s = density 2.3 + repeats 0.1 (0 % within 250 ms) + "
                           "chords 0.0 (0 %) + long notes 0.0 (0 %) + scratch 0.1 (6 %) + stamina 0.0 (1.0/s busiest "
                           "minute); strain per key 0.03, overall 3.4\n"),
              std::string::npos)
        << run.out;
    // The song names no author: the closing audit says so once for the three charts.
    const std::string artist = "warning: " + (out / "ode-to-joy_A.bms").string() +
                               ": #ARTIST is missing (3 times: ode-to-joy_A.bms, ode-to-joy_H.bms, ode-to-joy_N.bms)\n";
    EXPECT_NE(run.out.find(artist), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("#ARTIST is missing"), run.out.rfind("#ARTIST is missing")) << run.out;
}

TEST(BuildCommand, AChartBuiltFromAnotherTrackIsReplacedOnlyWhenAsked)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    TempDir dir;
    const auto out = dir / "out";
    const std::vector<std::string> build = {"build", "--soundfont", kSoundFont, kDemo.string(), "--out", out.string(), "--no-bgm", "--format", "wav"};
    auto track2 = build;
    track2.insert(track2.end(), {"--track", "2"});
    ASSERT_EQ(runCli(track2).exitCode, 0);
    const std::string chart = readText(out / "ode-to-joy_N.bms");
    auto track3 = build;
    track3.insert(track3.end(), {"--track", "3"});
    const auto refused = runCli(track3);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "zentrowe-cli: " + (out / "ode-to-joy_N.bms").string() +
                               " was built from track 2 of ode-to-joy.mid, and a folder holds one song: building "
                               "track 3 of ode-to-joy.mid into it would replace that song's files; nothing was "
                               "written (--replace builds it anyway)\n");
    EXPECT_EQ(readText(out / "ode-to-joy_N.bms"), chart);
}

TEST(BuildCommand, TheUsersFoldersAndFilesUnderOutputNamesAreKept)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    TempDir dir;
    const auto out = dir / "out";
    std::filesystem::create_directories(out / "preview.ogg" / "my_project");
    writeFile(out / "preview.ogg" / "my_project" / "essay.txt", std::string_view("precious"));
    writeFile(out / "ode-to-joy_N.bms", std::string_view("#TITLE my hand chart\n"));
    const std::vector<std::string> build = {"build",    "--soundfont", kSoundFont, kDemo.string(), "--track",
                                            "2",        "--out",       out.string(), "--no-bgm",   "--format",
                                            "wav",      "--loudness",  "off",        "--replace"};
    const auto folder = runCli(build);
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.err, "zentrowe-cli: " + (out / "preview.ogg").string() +
                              " is a folder where the build would write a file of that name, and a build never "
                              "replaces a folder: move or rename it; nothing was written\n");
    EXPECT_EQ(readText(out / "preview.ogg" / "my_project" / "essay.txt"), "precious");

    std::filesystem::rename(out / "preview.ogg", dir / "my_project");
    auto asked = build;
    asked.pop_back();
    const auto file = runCli(asked);
    EXPECT_EQ(file.exitCode, 1);
    EXPECT_EQ(file.err, "zentrowe-cli: " + (out / "ode-to-joy_N.bms").string() +
                            " was not made by a build (.zentrowe-build.json does not list it) and building would "
                            "replace it; nothing was written (--replace builds it anyway)\n");
    EXPECT_EQ(readText(out / "ode-to-joy_N.bms"), "#TITLE my hand chart\n");

    const auto replaced = runCli(build);
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_NE(replaced.err.find("replaced " + (out / "ode-to-joy_N.bms").string() + " (no build had made it; --replace)\n"),
              std::string::npos)
        << replaced.err;
}

TEST(BuildCommand, RefusalsAreOneSentence)
{
    TempDir dir;
    writeFile(dir / "file", std::string_view("x"));
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string err;  // empty: only that something is said
    };
    const std::vector<Case> cases = {
        {"missing soundfont", {"--soundfont", (dir / "none.sf2").string()}, 1,
         "zentrowe-cli: cannot read " + (dir / "none.sf2").string() + ": no such file\n"},
        {"output inside a file", {"--out", (dir / "file" / "out").string()}, 1, ""},
        {"quality out of range", {"--quality", "1.5"}, 2, ""},
        {"quality not a number", {"--quality", "nan"}, 2, ""},
        {"quality not a number, negative", {"--quality", "-nan"}, 2, ""},
        {"unknown format", {"--format", "mp3"}, 2, ""},
        {"unknown difficulty", {"--difficulties", "normal,expert"}, 2,
         "zentrowe-cli: --difficulties: difficulty \"expert\" is unknown; the difficulties are beginner, normal, "
         "hyper, another and insane\n"},
        {"difficulty named twice", {"--difficulties", "hyper, hyper"}, 2,
         "zentrowe-cli: --difficulties: difficulty \"hyper\" is named twice; the difficulties are beginner, "
         "normal, hyper, another and insane\n"},
        {"empty difficulty list", {"--difficulties="}, 2, ""},
        {"unknown lane rule", {"--lanes", "random"}, 2, ""},
        {"loudness not a number", {"--loudness", "abc"}, 2,
         "zentrowe-cli: --loudness: --loudness abc is neither a loudness in LUFS from -70 to -5 nor off (zentrowe-cli --help lists the options)\n"},
        {"loudness too loud", {"--loudness", "3"}, 2, ""},
        {"unknown BGM mode", {"--bgm", "foo"}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = {"build", kDemo.string(), "--track", "2"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        if (std::find(arguments.begin(), arguments.end(), "--out") == arguments.end()) {
            arguments.insert(arguments.end(), {"--out", (dir / "out").string()});
        }
        const auto run = runCli(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, "");
        if (!c.err.empty()) {
            EXPECT_EQ(run.err, c.err);
        } else {
            EXPECT_FALSE(run.err.empty());
        }
        EXPECT_FALSE(std::filesystem::exists(dir / "out" / "ode-to-joy_N.bms"));
    }
}

// The kept sounds live under $XDG_CACHE_HOME: one the build cannot use is one warning and a
// build as without it; --no-cache neither reads nor makes it.
TEST(BuildCommand, AnUnusableCacheIsOneWarningAndNoCacheLeavesItAlone)
{
    TempDir dir;
    std::ofstream(dir / "file") << "not a folder";
    struct Case {
        const char* name;
        std::filesystem::path cacheHome;
        bool noCache;
        std::size_t warnings;
    };
    const std::vector<Case> cases = {
        {"the cache folder's place is a file", dir / "file", false, 1},
        {"--no-cache", dir / "unused", true, 0},
    };
    const char* before = std::getenv("XDG_CACHE_HOME");
    const std::string kept = before != nullptr ? before : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("XDG_CACHE_HOME", c.cacheHome.c_str(), 1);
        std::vector<std::string> arguments = {"build",      "--soundfont", kSoundFont,       kDemo.string(),
                                              "--track",    "3",           "--out",          (dir / "out").string(),
                                              "--bgm",      "none",        "--difficulties", "normal",
                                              "--loudness", "off"};
        if (c.noCache) {
            arguments.push_back("--no-cache");
        }
        const auto run = runCli(arguments);
        setenv("XDG_CACHE_HOME", kept.c_str(), 1);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::size_t warnings = 0;
        for (std::size_t at = run.err.find("kept sounds"); at != std::string::npos;
             at = run.err.find("kept sounds", at + 1)) {
            ++warnings;
        }
        EXPECT_EQ(warnings, c.warnings) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "unused"));
    }
}

}  // namespace
}  // namespace zentrowe::testing
