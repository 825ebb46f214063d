#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

const std::string kSong =
    (std::filesystem::path(ZENTROWE_SOURCE_DIR) / "tests" / "data" / "convert" / "worked-example.mid").string();

TEST(Usage, MistypedCommandsAndOptionsAreNamedWithTheRealOnes)
{
    TempDir out;
    const std::string folder = out.path().string();
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string err;
    };
    const std::vector<Case> cases = {
        // A slip gets the nearest command; a word like none of them the whole list.
        {{"convrt", kSong}, 2, "zentrowe-cli: unknown command convrt (did you mean convert?)\n"},
        {{"buld", kSong, "--track", "2", "--out", folder},
         2,
         "zentrowe-cli: unknown command buld (did you mean build?)\n"},
        {{"picutre", kSong}, 2, "zentrowe-cli: unknown command picutre (did you mean picture?)\n"},
        {{"xyzzy", kSong},
         2,
         "zentrowe-cli: unknown command xyzzy (commands: tracks, events, convert, cut, build, preview, check, audit, "
         "package, picture)\n"},
        {{"convert", kSong, "--trak", "2", "--out", folder},
         2,
         "zentrowe-cli: unknown option --trak (did you mean --track?)\n"},
        {{"build", kSong, "--track", "2", "--out", folder, "--qualty=0.3"},
         2,
         "zentrowe-cli: unknown option --qualty (did you mean --quality?)\n"},
        {{"convert", kSong, "--out", folder, "--velocity", "4"},
         2,
         "zentrowe-cli: unknown option --velocity (did you mean --velocity-step?)\n"},
        {{"convert", kSong, "--out", folder, "--xyzzy"},
         2,
         "zentrowe-cli: unknown option --xyzzy (zentrowe-cli convert --help lists the options)\n"},
        {{"convert", kSong, "--out", folder, "--track"}, 2, "zentrowe-cli: --track needs a value: --track N\n"},
        {{"build", kSong, "--gap", "--track", "2"}, 2, "zentrowe-cli: --gap needs a value: --gap TICKS\n"},
        // The settings refusals in English, naming the option, the value and the range.
        {{"convert", kSong, "--track", "2", "--out", folder, "--bpm", "fast"},
         1,
         "zentrowe-cli: --bpm \"fast\": must be a number of beats per minute giving 1 to 16777215 microseconds "
         "per quarter note\n"},
        {{"convert", kSong, "--track", "2", "--out", folder, "--velocity-step", "0"},
         1,
         "zentrowe-cli: --velocity-step \"0\": must be a whole number, 1 to 127\n"},
        {{"build", kSong, "--track", "2", "--out", folder, "--velocity-step=128"},
         1,
         "zentrowe-cli: --velocity-step \"128\": must be a whole number, 1 to 127\n"},
        {{"build", kSong, "--track", "2", "--out", folder, "--gap=-1"},
         1,
         "zentrowe-cli: --gap \"-1\": must be a whole number of ticks, 0 to 268435455\n"},
        // Build's own values: refused before anything is read or rendered, never rounded.
        {{"build", kSong, "--track", "2", "--out", folder, "--preview-from=nan"}, 2,
         "--preview-from: nan is not a number of seconds from 0 to 86400 (zentrowe-cli --help lists the options)\n"},
        {{"build", kSong, "--track", "2", "--out", folder, "--mode", "long", "--long-min", "0s"}, 1,
         "zentrowe-cli: --long-min \"0s\": too short: a time must be above 0 (a long note lasts at least 0.2 s "
         "whatever is asked)\n"},
        {{"build", kSong, "--track", "2", "--out", folder, "--long-min=0beat"}, 1,
         "zentrowe-cli: --long-min \"0beat\": too short: a time must be above 0 (a long note lasts at least 0.2 s "
         "whatever is asked)\n"},
        {{"build", kSong, "--track", "2", "--out", folder, "--long-min=1.5"}, 1,
         "zentrowe-cli: --long-min \"1.5\": must be a whole number of 1/192 measures, never rounded; a time takes "
         "its unit: 0.3s, 300ms, 1.5beat\n"},
        // Both commands take an empty keysound name and refuse a track alike.
        {{"build", kSong, "--track", "2", "--name=", "--out", folder, "--length-step", "x"},
         1,
         "zentrowe-cli: --length-step \"x\": must be a whole number, 0 to 1000000\n"},
        {{"build", kSong, "--track", "9", "--out", folder},
         1,
         "worked-example.mid: track 9 does not exist (tracks are numbered 1 to 2)\n"},
        {{"convert", kSong, "--track", "9", "--out", folder},
         1,
         "worked-example.mid: track 9 does not exist (tracks are numbered 1 to 2)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const CliRun run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        // One sentence on one line; the table gives its end.
        EXPECT_TRUE(run.err.starts_with("zentrowe-cli: ") && run.err.ends_with(c.err)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(out / "song.png"));
}

TEST(Usage, HelpNamesEachValueAndBothCommandsShareTheConversionOptions)
{
    const CliRun convert = runCli({"convert", "--help"});
    const CliRun build = runCli({"build", "--help"});
    ASSERT_EQ(convert.exitCode, 0);
    ASSERT_EQ(build.exitCode, 0);
    auto lineOf = [](const std::string& help, const std::string& option) {
        const auto at = help.find("  " + option);
        return at == std::string::npos ? std::string() : help.substr(at, help.find('\n', at) - at);
    };
    for (const char* option : {"--track N", "--out DIR", "--gap TICKS", "--bpm BPM", "--start-code CC", "--name PREFIX",
                               "--long-min N", "--velocity-step N", "--length-step U", "--mode plain|long|percussion",
                               "--codes 36|62"}) {
        SCOPED_TRACE(option);
        EXPECT_NE(lineOf(convert.out, option), "") << convert.out;
        EXPECT_EQ(lineOf(build.out, option), lineOf(convert.out, option));
    }
    EXPECT_NE(lineOf(build.out, "--quality Q"), "") << build.out;
    EXPECT_EQ(build.out.find("TEXT:"), std::string::npos) << build.out;
}

TEST(Usage, BuildRefusesAFolderItCannotMake)
{
    TempDir out;
    writeFile(out / "taken", std::string_view("a file"));
    const CliRun run = runCli({"build", kSong, "--track", "2", "--out", (out / "taken" / "inside").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot create the folder"), std::string::npos) << run.err;
}

// Built without Qt, the command line keeps picture, which says in one line how to get it and
// writes nothing; built with it, picture_test.cpp draws.
TEST(Usage, PictureWithoutQtSaysHowToGetItAndWritesNothing)
{
    if (ZENTROWE_WITH_PICTURE) {
        GTEST_SKIP() << "built with Qt: picture draws";
    }
    TempDir out;
    writeFile(out / "song.bms", std::string_view("#BPM 120\r\n#00111:01\r\n"));
    const CliRun run = runCli({"picture", (out / "song.bms").string(), "--out", (out / "song.png").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "zentrowe-cli: picture needs Qt 6, which this zentrowe-cli was built without: configure it with "
                       "-DZENTROWE_WITH_QT=ON (the default) and Qt 6 installed (scripts/install-deps)\n");
    EXPECT_FALSE(std::filesystem::exists(out / "song.png"));
}

}  // namespace
}  // namespace zentrowe::testing
