#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";  // small, quick to load

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// One track of 16 quarter notes: all the song plays is what --track 1 chooses.
Bytes oneTrackTune()
{
    Bytes events;
    for (int i = 0; i < 16; ++i) {
        const int note = 60 + i % 5;
        append(events, bytes({i == 0 ? 0x00 : 0x50, 0x90, note, 100, 0x83, 0x10, 0x80, note, 0x40}));
    }
    append(events, kEndOfTrack);
    return midiFile(0, 480, {events});
}

TEST(DoublePlayCommand, AOnePartSongIsBuiltAsSinglePlayWithOneWarning)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont"
               << "; scripts/install-deps installs it";
    }
    TempDir dir;
    writeFile(dir / "tune.mid", oneTrackTune());
    const auto out = dir / "out";
    const auto run = runCli({"build", "--soundfont", kSoundFont, (dir / "tune.mid").string(), "--track", "1", "--play",
                             "double", "--format", "wav", "--loudness", "off", "--out", out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(occurrences(run.err, "warning: single-play charts made: --play double"), 1u) << run.err;
    EXPECT_EQ(occurrences(run.err, "single-play"), 1u) << run.err;
    for (const char* letter : {"N", "H", "A"}) {
        SCOPED_TRACE(letter);
        EXPECT_TRUE(std::filesystem::exists(out / ("tune_" + std::string(letter) + ".bms")));
        EXPECT_FALSE(std::filesystem::exists(out / ("tune_" + std::string(letter) + "_DP.bms")));
    }
}

TEST(DoublePlayCommand, OnlySingleAndDoubleAreTaken)
{
    TempDir dir;
    writeFile(dir / "tune.mid", oneTrackTune());
    const auto run = runCli(
        {"build", (dir / "tune.mid").string(), "--track", "1", "--play", "triple", "--out", (dir / "out").string()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--play"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "tune_N.bms"));
}

}  // namespace
}  // namespace zentrowe::testing
