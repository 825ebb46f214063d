#include "core/workflow/unchanged_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

// What the output folder holds under the name before the rebuild writes it.
enum class Held { Nothing, SameBytes, OtherBytesSameLength, Longer, Shorter, LinkToSameBytes, Folder };

struct WriteCase {
    const char* what;
    bool built;  // an earlier build made the name (the manifest lists it)
    Held held;
    bool intoStage;    // written into the staging folder, not elsewhere
    bool leftInPlace;  // expected: not written, noted as unchanged
};

constexpr WriteCase kWriteCases[] = {
    {"the same bytes an earlier build made", true, Held::SameBytes, true, true},
    {"the same bytes under a name no build made", false, Held::SameBytes, true, false},
    {"nothing there", true, Held::Nothing, true, false},
    {"other bytes of the same length", true, Held::OtherBytesSameLength, true, false},
    {"the bytes and more", true, Held::Longer, true, false},
    {"the bytes cut short", true, Held::Shorter, true, false},
    {"a link to the same bytes", true, Held::LinkToSameBytes, true, false},
    {"a folder", true, Held::Folder, true, false},
    {"a file written outside the staging folder", true, Held::SameBytes, false, false},
};

const Bytes kSound = bytes({'O', 'g', 'g', 'S', 0, 2, 7, 7, 1, 9});

void hold(const std::filesystem::path& path, Held held, const std::filesystem::path& elsewhere)
{
    Bytes other = kSound;
    switch (held) {
    case Held::Nothing:
        return;
    case Held::SameBytes:
        writeFile(path, kSound);
        return;
    case Held::OtherBytesSameLength:
        other.back() ^= 0x40;
        writeFile(path, other);
        return;
    case Held::Longer:
        other.push_back(0);
        writeFile(path, other);
        return;
    case Held::Shorter:
        other.pop_back();
        writeFile(path, other);
        return;
    case Held::LinkToSameBytes:
        writeFile(elsewhere, kSound);
        std::filesystem::create_symlink(elsewhere, path);
        return;
    case Held::Folder:
        std::filesystem::create_directory(path);
        return;
    }
}

// An output folder with its staging folder, holding `held` under `name`, and what an earlier
// build made there.
struct Rebuilt {
    Rebuilt(const WriteCase& c, const std::string& name, FileSystem& disk)
        : folder(dir.path() / "out"),
          stage(folder / ".zentrowe-staging"),
          unchanged(folder, stage, c.built ? std::set<std::string>{name} : std::set<std::string>{}, disk)
    {
        std::filesystem::create_directories(stage);
        hold(folder / name, c.held, dir.path() / ("linked-" + name));
    }

    TempDir dir;
    std::filesystem::path folder;
    std::filesystem::path stage;
    workflow::UnchangedFiles unchanged;
};

TEST(UnchangedFiles, LeavesOnlyABuiltRegularFileOfTheSameBytesWhereItIs)
{
    for (const auto& c : kWriteCases) {
        SCOPED_TRACE(c.what);
        FaultyFileSystem disk;
        Rebuilt rebuilt(c, "a01.ogg", disk);
        auto& unchanged = rebuilt.unchanged;
        const auto target = (c.intoStage ? rebuilt.stage : rebuilt.dir.path()) / "a01.ogg";
        ASSERT_TRUE(unchanged.write(target, kSound));
        EXPECT_EQ(std::filesystem::exists(target), !c.leftInPlace);
        if (!c.leftInPlace) {
            EXPECT_EQ(readFile(target), kSound);
        }
        EXPECT_EQ(unchanged.names().count("a01.ogg"), c.leftInPlace ? 1U : 0U);
        // A file left in place is only read; one written is renamed into place through the
        // build's file system.
        EXPECT_EQ(disk.changes, c.leftInPlace ? 0 : 1);
        // Once compared by the writer, never read again from the staging folder.
        EXPECT_EQ(unchanged.noteIfStagedSame("a01.ogg"), c.leftInPlace);
    }
}

// A file the build wrote into the staging folder itself (the keysound MIDI file, the preview
// without its writer) is compared there before the commit.
TEST(UnchangedFiles, ComparesAStagedFileWithTheFolders)
{
    for (const auto& c : kWriteCases) {
        if (!c.intoStage) {
            continue;  // a staged file is in the staging folder
        }
        SCOPED_TRACE(c.what);
        Rebuilt rebuilt(c, "K-Midi.mid", realFileSystem());
        writeFile(rebuilt.stage / "K-Midi.mid", kSound);
        EXPECT_EQ(rebuilt.unchanged.noteIfStagedSame("K-Midi.mid"), c.leftInPlace);
        EXPECT_EQ(rebuilt.unchanged.names().count("K-Midi.mid"), c.leftInPlace ? 1U : 0U);
        EXPECT_FALSE(rebuilt.unchanged.noteIfStagedSame("missing.ogg"));
    }
}

}  // namespace
}  // namespace zentrowe::testing
