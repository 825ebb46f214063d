#include "core/song/chart_file_name.h"

#include <gtest/gtest.h>

namespace zentrowe::song {
namespace {

TEST(ChartFileName, BaseNameUpToTheLastMidPlusBms)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\songs\\My Song.MID", "My Song.bms"},
        {"D:\\a.mid.b\\x.mid", "x.bms"},
        {"C:\\t\\v1.midi", "v1.bms"},
        {"C:\\music\\Song.Mid", "Song.bms"},
        {"/home/user/songs/欢乐颂.mid", "欢乐颂.bms"},
        {"song.mid", "song.bms"},
        {"a.mid.mid", "a.mid.bms"},
        {"/x/.mid", ".bms"},
        {"/x.mid/song.kar", "song.kar.bms"},  // no ".mid" in the base name
        {"song.kar", "song.kar.bms"},
        {"README", "README.bms"},
        {"dir/sub\\mixed.mId", "mixed.bms"},
        {"", ".bms"},
        {"ÄMID.mid", "ÄMID.bms"},  // only ASCII letters are folded
    };
    for (const auto& [path, name] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(deriveChartFileName(path), name);
    }
}

}  // namespace
}  // namespace zentrowe::song
