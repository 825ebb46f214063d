#include "core/chart/wav_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace zentrowe::chart {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(WavNames, ReadsEveryDefinitionAsTheChartReaderDoes)
{
    struct Case {
        const char* name;
        std::string chart;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"upper case", "#TITLE t\r\n#WAV01 kick.wav\r\n#WAV02 snare.wav\r\n", {"kick.wav", "snare.wav"}},
        // Players read commands without case: these names belong to the chart too.
        {"lower and mixed case", "#wav01 kick.wav\n#Wav02 snare.wav\n", {"kick.wav", "snare.wav"}},
        {"tab and blanks around the name", "#WAV01\tkick drum.wav  \r\n", {"kick drum.wav"}},
        {"indented line", "  #WAV01 kick.wav\n", {"kick.wav"}},
        {"CR alone ends lines", "#TITLE t\r#WAV01 kick.wav\r#WAV02 snare.wav", {"kick.wav", "snare.wav"}},
        {"other lines passed over", "*--\n#EXWAV01 p 0 a.wav\n#00111:01\n#BMP01 a.bmp\nWAV01 a.wav\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / "song.bms", c.chart);
        const auto names = readWavNames(dir / "song.bms");
        ASSERT_TRUE(names) << names.error().message;
        EXPECT_EQ(*names, c.names);
    }
}

TEST(WavNames, RefusesADefinitionWithoutANameByItsLine)
{
    struct Case {
        const char* name;
        std::string chart;
        std::int64_t line;
    };
    const std::vector<Case> cases = {
        {"no name", "#TITLE t\n#WAV01\n", 2},
        {"lower case, only blanks", "#TITLE t\r\n\r\n#wav01   \r\n", 3},
        {"code of one character", "#WAV1 kick.wav\n", 1},
        {"two CRs are two line ends", "#TITLE t\r\r#WAV0x", 3},
        {"name past any file system's", "#WAV01 " + std::string(5000, 'a') + "\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / "song.bms", c.chart);
        const auto names = readWavNames(dir / "song.bms");
        ASSERT_FALSE(names);
        EXPECT_EQ(names.error().code, ErrorCode::InvalidSetting);
        EXPECT_EQ(names.error().number, c.line);
        EXPECT_NE(names.error().message.find("song.bms: line " + std::to_string(c.line)), std::string::npos)
            << names.error().message;
    }
}

TEST(WavNames, CountsACrLfSplitBetweenBlocksAsOneLineEnd)
{
    // The file is read in blocks of 64 KiB: the CR ends the first block, its LF starts the second.
    const std::size_t block = 1 << 16;
    std::string chart = "#TITLE t\r\n";
    chart += std::string(block - chart.size() - 1, '*') + "\r\n#WAV01\n";
    ASSERT_EQ(chart[block - 1], '\r');
    TempDir dir;
    writeFile(dir / "song.bms", chart);
    const auto names = readWavNames(dir / "song.bms");
    ASSERT_FALSE(names);
    EXPECT_EQ(names.error().number, 3);
}

}  // namespace
}  // namespace zentrowe::chart
