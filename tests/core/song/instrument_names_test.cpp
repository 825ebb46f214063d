#include "core/song/instrument_names.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrowe::song {
namespace {

// Texts users know from the track list, spacing included.
TEST(InstrumentNames, TextsAreExactIncludingTheirSpaces)
{
    const std::pair<int, std::string_view> instruments[] = {
        {0, "Acoustic Grand Piano 大钢琴（声学钢琴） "},
        {23, "Tango Accordian 探戈手风琴  "},       // two trailing spaces
        {24, "Acoustic Guitar (nylon) 尼龙弦吉他 "},
        {31, "Guitar Harmonics 吉他和音  "},
        {34, "Electric Bass (pick)  电贝司（拨片） "},  // two spaces inside
        {52, "Choir Aahs 人声合唱“啊” "},
        {67, "Baritone Sax低音萨克斯风 "},           // no space inside
        {74, "Recorder  竖笛 "},
        {76, "Bottle Blow [中文名称暂缺]"},          // no trailing space
        {87, "Lead 8 (bass+lead)合成主音8（贝司加主音） "},
        {89, "Pad 2 (warm) 合成音色2 （温暖） "},
        {106, "Shamisen  三昧线（日本） "},
        {113, "Agogo [中文名称暂缺]"},
        {125, "Helicopter  直升机 "},
        {126, "Applause  鼓掌声 "},
        {127, "Gunshot 枪声 "},
    };
    for (const auto& [program, name] : instruments) {
        SCOPED_TRACE(program);
        EXPECT_EQ(kInstrumentNames[static_cast<std::size_t>(program)], name);
    }
    const std::pair<int, std::string_view> families[] = {
        {0, "钢琴 "}, {1, "色彩打击乐器 "}, {6, "合奏/合唱 "}, {14, "打击乐器 "}, {15, "Sound Effects 声音效果"},
    };
    for (const auto& [family, name] : families) {
        SCOPED_TRACE(family);
        EXPECT_EQ(kFamilyNames[static_cast<std::size_t>(family)], name);
    }
    EXPECT_EQ(kDrumFamily, "打击乐器");
    EXPECT_EQ(kDrumInstrument, "Drums 鼓");
}

TEST(InstrumentNames, EveryEntryIsFilledAndAllButTheNoted)
{
    for (std::size_t i = 0; i < kInstrumentNames.size(); ++i) {
        SCOPED_TRACE(i);
        const auto name = kInstrumentNames[i];
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.back() == ' ', i != 76 && i != 113) << "all but two end in a space";
        EXPECT_NE(name.front(), ' ');
    }
    for (std::size_t i = 0; i + 1 < kFamilyNames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kFamilyNames[i].back(), ' ');
    }
}

}  // namespace
}  // namespace zentrowe::song
