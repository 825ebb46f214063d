#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "support/chart_folder.h"

namespace zentrowe::testing {
namespace {

TEST(AuditCli, PrintsOneLinePerFindingAndFailsOnAnError)
{
    const TempDir dir;
    writeGoodFolder(dir.path());
    const auto good = runCli({"audit", dir.path().string()});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(good.out, "");

    std::filesystem::remove(dir / "snare.wav");
    writeFile(dir / "extra.txt", std::string_view("notes"));
    const auto bad = runCli({"audit", (dir / "song.bms").string()});  // one chart: no look for unused files
    EXPECT_EQ(bad.exitCode, 1) << bad.err;
    EXPECT_EQ(bad.out, "error: " + (dir / "song.bms").string() +
                           ": \"snare.wav\" is missing from the folder; its notes play no sound\n"
                           "notice: " + (dir / "song.bms").string() + ": 2 of 4 notes (50.0%) play no keysound\n");

    EXPECT_EQ(runCli({"audit"}).exitCode, 2);
    EXPECT_EQ(runCli({"audit", (dir / "nothing").string()}).exitCode, 1);
}

TEST(PackageCli, RefusesWhileTheAuditFindsAnErrorAndWritesOtherwise)
{
    const TempDir dir;
    const auto folder = dir / "song";
    std::filesystem::create_directory(folder);
    writeGoodFolder(folder);
    std::filesystem::remove(folder / "kick.wav");
    const auto refused = runCli({"package", folder.string(), "--out", (dir / "song.zip").string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("error: " + (folder / "song.bms").string() + ": \"kick.wav\" is missing"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "song.zip"));

    writeGoodFolder(folder);
    const auto written = runCli({"package", folder.string(), "--out", (dir / "song.zip").string()});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(written.out, "wrote " + (dir / "song.zip").string() + ": 3 files in Good Song/\n");
    const auto again = runCli({"package", folder.string(), "--out", (dir / "song.zip").string()});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("--replace"), std::string::npos) << again.err;
}

}  // namespace
}  // namespace zentrowe::testing
