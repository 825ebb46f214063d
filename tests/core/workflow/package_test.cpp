#include "core/workflow/package.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <set>
#include <string>

#include "support/chart_folder.h"

namespace zentrowe::testing {
namespace {

namespace fs = std::filesystem;

// The names and bytes inside a zip file, read back with libzip.
std::map<std::string, Bytes> zipEntries(const fs::path& path)
{
    std::map<std::string, Bytes> entries;
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (archive == nullptr) {
        ADD_FAILURE() << "cannot open " << path << " as a zip file";
        return entries;
    }
    for (zip_int64_t k = 0; k < zip_get_num_entries(archive, 0); ++k) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(k), 0, &stat);
        Bytes data(static_cast<std::size_t>(stat.size));
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(k), 0);
        const auto read = zip_fread(file, data.data(), data.size());
        zip_fclose(file);
        EXPECT_EQ(read, static_cast<zip_int64_t>(data.size())) << stat.name;
        entries[stat.name] = std::move(data);
    }
    zip_close(archive);
    return entries;
}

Result<workflow::PackageOutcome> package(const fs::path& folder, const fs::path& zip, bool replace = false)
{
    NullProgress quiet;
    const auto audit = workflow::auditFolder(folder, quiet);
    EXPECT_TRUE(audit);
    return workflow::writePackage(*audit, {zip, replace}, quiet);
}

TEST(Package, HoldsOneAsciiFolderOfTheChartsAndTheFilesTheyUse)
{
    const TempDir dir;
    const auto folder = dir / "Good";
    fs::create_directory(folder);
    writeGoodFolder(folder);
    writeFile(folder / "song.bms", "#TITLE Good Song [HYPER]\r\n" + kGoodBody);
    writeFile(folder / "song_a.bms", "#TITLE Good Song [ANOTHER]\r\n" + kGoodBody);
    writeFile(folder / "preview.ogg", readFile(folder / "kick.wav"));  // found by its name, as players do
    writeFile(folder / "K-Midi.mid", midiFile(0, 96, {kEndOfTrack}));
    writeFile(folder / ".zentrowe-build.json", std::string_view("{}"));
    writeFile(folder / "unused.wav", pcmWave(10));

    const auto written = package(folder, dir / "good.zip");
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(written->folderName, "Good Song");
    const auto entries = zipEntries(dir / "good.zip");
    std::set<std::string> names;
    for (const auto& [name, data] : entries) {
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"Good Song/", "Good Song/kick.wav", "Good Song/preview.ogg",
                                            "Good Song/snare.wav", "Good Song/song.bms", "Good Song/song_a.bms"}));
    EXPECT_EQ(entries.at("Good Song/snare.wav"), readFile(folder / "snare.wav"));

    // Titles and names in other scripts or widths, as the chart's bytes have them.
    struct Case {
        std::vector<std::string> titles;
        const char* folder;
        const char* expected;
    };
    const Case cases[] = {
        {{"\x8D\xF7 Sakura"}, "x", "Sakura"},                        // Shift_JIS: 桜 Sakura
        {{"\xEF\xBC\xA1\xEF\xBC\xA2\xEF\xBC\xA3"}, "x", "ABC"},     // full-width ＡＢＣ in UTF-8
        {{"\x8D\xF7"}, "my-song", "my-song"},                         // nothing ASCII: the folder's name
        {{"a/b:c?"}, "x", "a b c"},
        {{}, "\xE6\xA1\x9C", "song"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        workflow::AuditReport report;
        report.folder = dir / c.folder;
        report.titles = c.titles;
        EXPECT_EQ(workflow::packageFolderName(report), c.expected);
    }
}

TEST(Package, IsRefusedOnAnAuditErrorAndOnATargetInTheWay)
{
    const TempDir dir;
    writeGoodFolder(dir.path());
    fs::create_directory(dir / "taken.zip");
    const auto folderTarget = package(dir.path(), dir / "taken.zip");
    ASSERT_FALSE(folderTarget);
    EXPECT_EQ(folderTarget.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(folderTarget.error().message.find("taken.zip"), std::string::npos) << folderTarget.error().message;
    EXPECT_TRUE(fs::is_empty(dir / "taken.zip"));

    writeFile(dir / "old.zip", std::string_view("old"));
    const auto existing = package(dir.path(), dir / "old.zip");
    ASSERT_FALSE(existing);
    EXPECT_EQ(existing.error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(readText(dir / "old.zip"), "old");
    ASSERT_TRUE(package(dir.path(), dir / "old.zip", true));
    EXPECT_EQ(zipEntries(dir / "old.zip").size(), 4u);

    fs::remove(dir / "snare.wav");
    const auto failing = package(dir.path(), dir / "new.zip");
    ASSERT_FALSE(failing);
    EXPECT_EQ(failing.error().code, ErrorCode::AuditFailed);
    EXPECT_FALSE(fs::exists(dir / "new.zip"));
}

// Each entry's name and whether its general purpose flag says the name is UTF-8 (bit 11), read
// from the central directory as the zip format lays it out: "PK\1\2", then the flag at offset 8,
// the name's length at 28, the extra field's at 30, the comment's at 32, the name at 46.
std::map<std::string, bool> utf8Flags(const fs::path& path)
{
    const Bytes zip = readFile(path);
    std::map<std::string, bool> flags;
    for (std::size_t at = 0; at + 46 <= zip.size(); ++at) {
        if (zip[at] != 'P' || zip[at + 1] != 'K' || zip[at + 2] != 1 || zip[at + 3] != 2) {
            continue;
        }
        const auto u16 = [&](std::size_t offset) { return zip[at + offset] | (zip[at + offset + 1] << 8); };
        const auto nameLength = static_cast<std::size_t>(u16(28));
        if (at + 46 + nameLength <= zip.size()) {
            flags[std::string(zip.begin() + static_cast<std::ptrdiff_t>(at + 46),
                              zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength))] =
                (u16(8) & 0x0800) != 0;
        }
    }
    return flags;
}

TEST(Package, HoldsEveryBranchsFilesOnceUnderNamesUnzipToolsAgreeOn)
{
    const TempDir dir;
    const auto folder = dir / "Song";
    fs::create_directory(folder);
    writeGoodFolder(folder);
    fs::create_directory(folder / "sub");
    const std::string utf8Name = "\xE9\x9F\xB3.wav";  // 音.wav in UTF-8
    const std::string shiftJisName = "\x89\xB9.wav";  // 音.wav in Shift_JIS
    for (const auto& name :
         {std::string("rand2.wav"), std::string("ex.wav"), std::string("sub/b.wav"), utf8Name, shiftJisName}) {
        writeFile(folder / name, pcmWave(10));
    }
    for (const char* name : {"video.avi", "char.chp", "stage.png"}) {
        writeFile(folder / name, std::string_view("not looked into"));
    }
    writeFile(folder / "song.bms",
              kGoodHeader + kGoodBody + "#STAGEFILE stage.png\r\n#VIDEOFILE video.avi\r\n#CHARFILE char.chp\r\n" +
                  "#EXWAV03 pv 10000 0 ex.wav\r\n#WAV04 ./sub//b.wav\r\n#WAV05 sub\\b.wav\r\n#WAV06 " + utf8Name +
                  "\r\n#WAV07 " + shiftJisName + "\r\n#00112:0304050607\r\n" +
                  "#RANDOM 2\r\n#IF 2\r\n#WAV08 rand2.wav\r\n#00113:08\r\n#ENDIF\r\n#ENDRANDOM\r\n");

    const auto written = package(folder, dir / "song.zip");
    ASSERT_TRUE(written) << written.error().message;
    // The names as stored: libzip would read a name without the UTF-8 flag as code page 437.
    const auto flags = utf8Flags(dir / "song.zip");
    std::set<std::string> names;
    for (const auto& [name, utf8] : flags) {
        names.insert(name);
    }
    const std::string in = "Good Song/";
    EXPECT_EQ(names, (std::set<std::string>{in, in + "char.chp", in + "ex.wav", in + "kick.wav", in + "rand2.wav",
                                            in + "snare.wav", in + "song.bms", in + "stage.png", in + "sub/b.wav",
                                            in + "video.avi", in + utf8Name, in + shiftJisName}));
    EXPECT_TRUE(flags.at(in + utf8Name));
    EXPECT_FALSE(flags.at(in + shiftJisName));  // its bytes as they are, for tools that take the code page
}

TEST(Package, NeverTakesThePlaceOfWhatItPacks)
{
    const TempDir dir;
    writeGoodFolder(dir.path());
    writeFile(dir / "song.bms", kGoodHeader + kGoodBody + "#STAGEFILE stage.png\r\n");
    writeFile(dir / "stage.png", std::string_view("a picture"));
    const fs::path targets[] = {dir / "song.bms", dir / "kick.wav", dir / "stage.png", dir / "Snare.WAV"};
    for (const auto& target : targets) {
        SCOPED_TRACE(target.filename().string());
        const Bytes before = fs::exists(target) ? readFile(target) : Bytes{};
        const auto refused = package(dir.path(), target, true);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, ErrorCode::WouldOverwriteSource);
        EXPECT_NE(refused.error().message.find(target.filename().string()), std::string::npos)
            << refused.error().message;
        if (fs::exists(target)) {
            EXPECT_EQ(readFile(target), before);
        }
    }
    EXPECT_FALSE(fs::exists(dir / "Snare.WAV"));
}

}  // namespace
}  // namespace zentrowe::testing
