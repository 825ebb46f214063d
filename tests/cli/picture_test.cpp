#include <QImage>
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

// Eight measures of key 1 at 150 BPM; `more` adds lines.
std::string chartText(const std::string& more = "")
{
    std::string text = "#PLAYER 1\n#TITLE Picture\n#BPM 150\n#WAV01 a.wav\n";
    for (int m = 0; m < 8; ++m) {
        text += "#00" + std::to_string(m) + "11:01010101\n";
    }
    return text + more;
}

// Pixels a red-dominated note would paint (the scratch's), none of the lanes' dark grounds.
int reddishPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 200 && c.green() < 120 && c.blue() < 120 ? 1 : 0;
        }
    }
    return count;
}

TEST(PictureCommand, DrawsTheChartsNotesColouredByKey)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string text;
        bool scratch;
    };
    const Case cases[] = {
        {"keys.bms", chartText(), false},
        {"scratch.bms", chartText("#00316:01010101\n"), true},
        {"both sides.bms", chartText("#00321:01010101\n"), false},
    };
    int singleWidth = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / c.name, c.text);
        const auto png = dir / (std::string(c.name) + ".png");
        const auto run = runCli({"picture", (dir / c.name).string(), "--out", png.string()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");  // no word of Qt's on stderr
        const QImage image(QString::fromStdString(png.string()));
        ASSERT_FALSE(image.isNull());
        EXPECT_GT(image.height(), 300);
        EXPECT_EQ(reddishPixels(image) > 0, c.scratch);
        if (singleWidth == 0) {
            singleWidth = image.width();
        }
        // The second player's lanes stand beside the first's.
        EXPECT_EQ(image.width() > singleWidth, std::string(c.name) == "both sides.bms");
    }
}

TEST(PictureCommand, DrawsEveryChartOfAFolder)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "set");
    writeFile(dir / "set" / "song_N.bms", chartText());
    writeFile(dir / "set" / "song_H.bms", chartText("#00313:01010101\n"));
    writeFile(dir / "set" / "notes.txt", "not a chart");
    const auto run = runCli({"picture", (dir / "set").string(), "--out", (dir / "pictures").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(QImage(QString::fromStdString((dir / "pictures" / "song_N.png").string())).isNull());
    EXPECT_FALSE(QImage(QString::fromStdString((dir / "pictures" / "song_H.png").string())).isNull());
    EXPECT_FALSE(std::filesystem::exists(dir / "pictures" / "notes.png"));
}

TEST(PictureCommand, RefusesWhatItCannotDrawInASentence)
{
    TempDir dir;
    writeFile(dir / "empty.bms", "#TITLE nothing\n");
    writeFile(dir / "forever.bms", "#TITLE t\n#BPM 1e-300\n#00111:01\n#00211:01\n");
    writeFile(dir / "itself.bms", chartText());
    std::filesystem::create_directory(dir / "no charts");
    struct Case {
        std::vector<std::string> arguments;
        std::string sentence;
    };
    const Case cases[] = {
        {{"picture", (dir / "empty.bms").string(), "--out", (dir / "e.png").string()}, "nothing to draw"},
        {{"picture", (dir / "missing.bms").string(), "--out", (dir / "m.png").string()}, "missing.bms: cannot"},
        {{"picture", (dir / "no charts").string(), "--out", (dir / "out").string()}, "holds no BMS or bmson chart"},
        {{"picture", (dir / "forever.bms").string(), "--out", (dir / "f.png").string()},
         "forever.bms: the chart lasts 4.8e+302 s"},
        {{"picture", (dir / "itself.bms").string(), "--out", (dir / "itself.bms").string()},
         "itself.bms: is the chart itself.bms; nothing was drawn"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        const auto run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(c.sentence), std::string::npos) << run.err;
    }
    EXPECT_EQ(readText(dir / "itself.bms"), chartText());
    writeFile(dir / "song.bms", chartText());
    const auto run = runCli({"picture", (dir / "song.bms").string(), "--out", (dir / "absent" / "a.png").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("a.png"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace zentrowe::testing
