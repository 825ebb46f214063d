#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

}  // namespace
}  // namespace zentrowe::testing
