#include "core/workflow/build_commit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/base/staging_folder.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

// A commit never moves a file in over the song being built, whatever the song's path looks like.
TEST(BuildCommit, NoFileArrivesOverTheSong)
{
    struct Case {
        const char* what;
        // Places the song for a build into `out`, given the test's folder; gives its path as asked.
        std::function<std::filesystem::path(const std::filesystem::path& dir)> song;
        bool refused;
    };
    const auto songAt = [](const std::filesystem::path& path) {
        writeFile(path, Bytes{'M', 'T', 'h', 'd'});
        return path;
    };
    const std::vector<Case> cases = {
        {"another folder", [&](const auto& dir) { return songAt(dir / "song.mid"); }, false},
        {"a sound file's name", [&](const auto& dir) { return songAt(dir / "out" / "a.ogg"); }, true},
        {"the chart's name", [&](const auto& dir) { return songAt(dir / "out" / "song_N.bms"); }, true},
        {"another file of the folder", [&](const auto& dir) { return songAt(dir / "out" / "b.ogg"); }, false},
        {"the folder spelled another way",
         [&](const auto& dir) {
             songAt(dir / "out" / "a.ogg");
             return dir / "elsewhere" / ".." / "out" / "a.ogg";
         },
         true},
        {"a link in the folder to it",
         [&](const auto& dir) {
             const auto song = songAt(dir / "song.mid");
             std::filesystem::create_symlink(song, dir / "out" / "a.ogg");
             return song;
         },
         true},
        {"through a link to the folder, not there yet",
         [&](const auto& dir) {
             std::filesystem::create_directory_symlink(dir / "out", dir / "linked");
             return dir / "linked" / "song_N.bms";
         },
         true},
        {"a name in another folder of the same name",
         [&](const auto& dir) { return songAt(dir / "elsewhere" / "out" / "a.ogg"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::filesystem::create_directories(dir.path() / "out");
        std::filesystem::create_directories(dir.path() / "elsewhere");
        workflow::BuildRequest request;
        request.conversion.outputFolder = dir.path() / "out";
        request.conversion.sourceMidiPath = c.song(dir.path());
        workflow::BuildRecord record;
        record.chart = "song_N.bms";
        record.files = {"a.ogg"};
        auto staging = base::StagingFolder::create(request.conversion.outputFolder, realFileSystem());
        ASSERT_TRUE(staging);
        NullProgress quiet;
        const auto commit = workflow::stageCommit(*staging, {}, {record}, request, quiet);
        ASSERT_EQ(!commit, c.refused);
        if (!commit) {
            EXPECT_EQ(commit.error().code, ErrorCode::WouldOverwriteSource);
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
