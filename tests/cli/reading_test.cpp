// zentrowe-cli tracks and events, run as a program on the fixtures in tests/data/reading.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::runCli;

const std::filesystem::path kFixtures = std::filesystem::path(ZENTROWE_SOURCE_DIR) / "tests/data/reading";

std::string fixture(const std::string& name)
{
    return (kFixtures / name).string();
}

TEST(ReadingCli, ListingsMatchTheExpectedFilesByteForByte)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{"tracks", fixture("song.mid")}, "song.tracks.txt"},
        {{"events", fixture("song.mid"), "--track", "1"}, "song.events-1.txt"},
        {{"events", fixture("song.mid"), "--track", "2"}, "song.events-2.txt"},
        {{"events", fixture("song.mid"), "--track=3"}, "song.events-3.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, testing::readText(kFixtures / c.expected));
    }
}

TEST(ReadingCli, FileCutShortGivesTheRowsReadAndAWarning)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{"tracks", fixture("cut.mid")}, "cut.tracks.txt"},
        {{"events", "--track", "2", fixture("cut.mid")}, "cut.events-2.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, testing::readText(kFixtures / c.expected));
        EXPECT_NE(run.err.find("cut.mid"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("3 tracks"), std::string::npos) << run.err;
    }
}

TEST(ReadingCli, FilesThatCannotBeReadAreNamedAndExitOne)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string file;
        std::string why;
    };
    testing::TempDir dir;
    const Case cases[] = {
        {{"tracks", fixture("not-midi.mid")}, "not-midi.mid", "not a MIDI file"},
        {{"events", fixture("not-midi.mid"), "--track", "1"}, "not-midi.mid", "not a MIDI file"},
        {{"tracks", fixture("smpte.mid")}, "smpte.mid", "SMPTE"},
        {{"tracks", (dir / "missing.mid").string()}, "missing.mid", "cannot open"},
        {{"events", (dir / "missing.mid").string(), "--track", "1"}, "missing.mid", "cannot open"},
        {{"tracks", dir.path().string()}, dir.path().string(), "cannot read: not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        const auto run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.file), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one sentence";
    }
}

TEST(ReadingCli, TrackNumbersOutsideTheTracksReadExitOne)
{
    struct Case {
        std::string file;
        std::string track;
    };
    // cut.mid announces 3 tracks but only 2 can be read: 3 is out of range too. The number is
    // quoted as typed.
    const Case cases[] = {
        {"song.mid", "0"}, {"song.mid", "4"}, {"song.mid", "007"}, {"cut.mid", "3"}, {"empty-song.mid", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.track);
        const auto run = runCli({"events", fixture(c.file), "--track=" + c.track});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("track " + c.track + " does not exist"), std::string::npos) << run.err;
    }
}

TEST(ReadingCli, SongWithoutTracksListsNothing)
{
    const auto run = runCli({"tracks", fixture("empty-song.mid")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST(ReadingCli, WrongUsageExitsTwo)
{
    const std::vector<std::string> cases[] = {
        {},
        {"tracks"},
        {"events", fixture("song.mid")},
        {"events", fixture("song.mid"), "--track"},
        {"events", fixture("song.mid"), "--track", "two"},
        {"tracks", fixture("song.mid"), "--no-such-option"},
        {"no-such-command"},
    };
    for (const auto& arguments : cases) {
        std::string joined;
        for (const auto& a : arguments) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        const auto run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err, "");
    }
}

TEST(ReadingCli, DemoSongListsItsFourTracks)
{
    const auto run = runCli({"tracks", (std::filesystem::path(ZENTROWE_SOURCE_DIR) / "data/demo/ode-to-joy.mid").string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4);
    EXPECT_NE(run.out.find("音轨 01\t0\t欢乐颂\t\t\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\t鼓组\t打击乐器\tDrums 鼓\n"), std::string::npos) << run.out;
}

TEST(ReadingCli, ChannelsListEachPartAsTrackTakesIt)
{
    // The demo's melody, bass and drums each play on a channel of their own track.
    const auto run = runCli(
        {"tracks", "--channels", (std::filesystem::path(ZENTROWE_SOURCE_DIR) / "data/demo/ode-to-joy.mid").string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "2:1\t62\tAcoustic Grand Piano 大钢琴（声学钢琴） \n"
                       "3:2\t32\tAcoustic Bass 大贝司（声学贝司） \n"
                       "4:10\t192\tDrums 鼓\n");
}

TEST(ReadingCli, ShiftJisTextReadsAsJapaneseInTracksAndEvents)
{
    // A track named 夜明けのテーマ and a text event 【サイト名】 URL, both in Shift_JIS.
    testing::Bytes track =
        testing::bytes({0x00, 0xFF, 0x03, 0x0E, 0x96, 0xE9, 0x96, 0xBE, 0x82, 0xAF, 0x82, 0xCC, 0x83, 0x65, 0x81, 0x5B,
                        0x83, 0x7D, 0x00, 0xFF, 0x01, 0x10, 0x81, 0x79, 0x83, 0x54, 0x83, 0x43, 0x83, 0x67, 0x96, 0xBC,
                        0x81, 0x7A, 0x20, 0x55, 0x52, 0x4C, 0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40});
    testing::append(track, testing::kEndOfTrack);
    testing::TempDir temp;
    const auto song = temp.path() / "dawn.mid";
    testing::writeFile(song, testing::midiFile(0, 96, {track}));

    const auto tracks = runCli({"tracks", song.string()});
    EXPECT_EQ(tracks.exitCode, 0) << tracks.err;
    EXPECT_EQ(tracks.out, "音轨 01\t1\t夜明けのテーマ\t\t\n");
    const auto events = runCli({"events", song.string(), "--track", "1"});
    EXPECT_EQ(events.exitCode, 0) << events.err;
    EXPECT_NE(events.out.find("\t夜明けのテーマ\n"), std::string::npos) << events.out;
    EXPECT_NE(events.out.find("\t【サイト名】 URL\n"), std::string::npos) << events.out;
}

}  // namespace
}  // namespace zentrowe
