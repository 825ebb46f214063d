#include "core/workflow/picture_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "support/chart_folder.h"

namespace zentrowe::testing {
namespace {

namespace fs = std::filesystem;

// song.bms shows stage.png and plays k.wav (the folder holds K.WAV) and, on its second branch,
// rand2.wav, which is missing.
void writeSongFolder(const fs::path& folder)
{
    fs::create_directories(folder);
    writeFile(folder / "song.bms", std::string_view("#TITLE s\r\n#STAGEFILE stage.png\r\n#WAV01 k.wav\r\n"
                                                    "#RANDOM 2\r\n#IF 2\r\n#WAV02 rand2.wav\r\n#ENDIF\r\n"
                                                    "#ENDRANDOM\r\n#00111:01\r\n"));
    writeFile(folder / "stage.png", std::string_view("a picture"));
    writeFile(folder / "K.WAV", pcmWave(10));
}

TEST(PicturePlan, NeverDrawsOverAChartOrAFileItsChartsUse)
{
    const TempDir dir;
    const auto folder = dir / "s";
    writeSongFolder(folder);
    writeFile(folder / "stage.bms", std::string_view("#TITLE t\r\n#00111:01\r\n"));
    struct Case {
        fs::path target;
        fs::path out;
        const char* named;  // what the refusal names
    };
    const Case cases[] = {
        {folder / "song.bms", folder / "song.bms", "the chart song.bms"},
        {folder / "song.bms", folder / "stage.png", "\"stage.png\", which song.bms names"},
        {folder / "song.bms", folder / "Stage.PNG", "\"stage.png\""},  // one file on Windows and macOS
        {folder / "song.bms", folder / "k.wav", "\"k.wav\""},          // the name the chart plays
        {folder / "song.bms", folder / "K.WAV", "\"k.wav\""},
        {folder / "song.bms", folder / "rand2.wav", "\"rand2.wav\""},  // not there yet, but played once written
        {folder / "song.bms", dir / "s" / ".." / "s" / "stage.png", "\"stage.png\""},
        {folder, folder, "\"stage.png\""},  // the picture of stage.bms would be stage.png
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out.string());
        const auto plan = workflow::planPictures(c.target, c.out);
        ASSERT_FALSE(plan);
        EXPECT_EQ(plan.error().code, ErrorCode::WouldOverwriteSource);
        EXPECT_NE(plan.error().message.find(c.named), std::string::npos) << plan.error().message;
        EXPECT_NE(plan.error().message.find("nothing was drawn"), std::string::npos) << plan.error().message;
    }
    EXPECT_EQ(readText(folder / "stage.png"), "a picture");
    ASSERT_TRUE(workflow::planPictures(folder / "song.bms", folder / "song.png"));
}

TEST(PicturePlan, ChartsThatShareAStemGetPicturesOfTheirOwn)
{
    const TempDir dir;
    const auto folder = dir / "s";
    fs::create_directories(folder);
    for (const char* name : {"a.bms", "a.bmson", "b_N.bms", "b_H.BME", "notes.txt"}) {
        writeFile(folder / name, std::string_view("#TITLE t\r\n#00111:01\r\n"));
    }
    const auto plan = workflow::planPictures(folder, dir / "pictures");
    ASSERT_TRUE(plan) << plan.error().message;
    std::vector<std::string> pictures;
    for (const auto& picture : *plan) {
        pictures.push_back(picture.chart.filename().string() + " " +
                           picture.picture.lexically_relative(dir.path()).string());
    }
    EXPECT_EQ(pictures, (std::vector<std::string>{"a.bms pictures/a.bms.png", "a.bmson pictures/a.bmson.png",
                                                  "b_H.BME pictures/b_H.png", "b_N.bms pictures/b_N.png"}));
}

}  // namespace
}  // namespace zentrowe::testing
