#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_run.h"

namespace zentrowe::testing {
namespace {

const std::filesystem::path kDemo = std::filesystem::path(ZENTROWE_SOURCE_DIR) / "data" / "demo" / "ode-to-joy.mid";

TEST(TracksCommand, DetailsGiveTimesDensitiesAndTheLikelyMelody)
{
    const auto run = runCli({"tracks", "--details", kDemo.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // The demo's tune: 62 notes over its 30 s on channel 1, G3 to G4; its bass on channel 2
    // below it; its drums on channel 10.
    for (const char* line : {
             "track\tnotes\tname\tfamily\tinstrument\tchannels\tfirst s\tlast s\tnotes/s\tpeak/s\tpitches\t\n",
             // Averages over the time the notes play, to the end of the last; peaks over two
             // seconds: the melody's half notes and quarters give 3 a second at most.
             "\t1\t0.00\t30.22\t2.0\t3.0\tG3-G4\tmelody\n",
             "\t2\t0.00\t30.22\t1.0\t1.5\tC2-G2\t\n",
             "\t10\t0.00\t31.16\t6.2\t7.0\tC2-F#2\t\n",
         }) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    }
    // Without the option the listing stays as it was: five columns.
    const auto plain = runCli({"tracks", kDemo.string()});
    EXPECT_EQ(plain.out.find("melody"), std::string::npos);
    EXPECT_NE(plain.out.find("音轨 04\t192\t鼓组\t打击乐器\tDrums 鼓\n"), std::string::npos) << plain.out;
}

TEST(TracksCommand, ChannelsWithDetailsGiveEachPartItsOwnColumns)
{
    const auto parts = runCli({"tracks", "--channels", "--details", kDemo.string()});
    const auto tracks = runCli({"tracks", "--details", kDemo.string()});
    ASSERT_EQ(parts.exitCode, 0) << parts.err;
    EXPECT_EQ(parts.err, "");
    // Each of the demo's parts is the one channel of its track, so a part's columns are its
    // track's, but for the melody mark, which belongs to tracks.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"2:1\t62\tAcoustic Grand Piano 大钢琴（声学钢琴） ", "\t1\t0.00\t30.22\t"},
        {"3:2\t32\tAcoustic Bass 大贝司（声学贝司） ", "\t2\t0.00\t30.22\t"},
        {"4:10\t192\tDrums 鼓", "\t10\t0.00\t31.16\t"},
    };
    EXPECT_TRUE(
        parts.out.starts_with("part\tnotes\tinstrument\tchannels\tfirst s\tlast s\tnotes/s\tpeak/s\tpitches\t\n"))
        << parts.out;
    for (const auto& [part, columnsStart] : cases) {
        SCOPED_TRACE(part);
        const auto trackAt = tracks.out.find(columnsStart);
        ASSERT_NE(trackAt, std::string::npos) << tracks.out;
        std::string columns = tracks.out.substr(trackAt, tracks.out.find('\n', trackAt) - trackAt);
        if (columns.ends_with("melody")) {
            columns.resize(columns.size() - 6);
        }
        EXPECT_NE(parts.out.find(part + columns + "\n"), std::string::npos) << parts.out;
    }
    EXPECT_EQ(std::count(parts.out.begin(), parts.out.end(), '\n'), 4);
}

}  // namespace
}  // namespace zentrowe::testing
