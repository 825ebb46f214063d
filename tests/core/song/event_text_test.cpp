#include "core/song/event_text.h"

#include <gtest/gtest.h>

namespace zentrowe::song {
namespace {

TEST(EventText, NoteNames)
{
    const std::pair<int, const char*> cases[] = {
        {60, "C4"}, {61, "C#4"}, {69, "A4"}, {0, "C-1"}, {11, "B-1"}, {12, "C0"}, {127, "G9"}, {70, "A#4"},
    };
    for (const auto& [note, name] : cases) {
        SCOPED_TRACE(note);
        EXPECT_EQ(noteName(note), name);
    }
}

TEST(EventText, HexBytes)
{
    EXPECT_EQ(hexByte(10), "0A");
    EXPECT_EQ(hexByte(255), "FF");
    EXPECT_EQ(hexByte(0), "00");
    EXPECT_EQ(hexByte(0x7E), "7E");
}

TEST(EventText, BeatsPerMinuteHaveThreeIntegerDigitsAndTwoDecimals)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        {500000, "120.00"},
        {600000, "100.00"},
        {250000, "240.00"},
        {1000000, "060.00"},
        {10000000, "006.00"},
        {1, "60000000.00"},
        {0, "000.00"},
        {454545, "132.00"},       // 132.0000132...
        {16777215, "003.58"},
        {480000, "125.00"},
        {461538, "130.00"},       // 130.0000866...
        {3200000, "018.75"},      // exactly 18.75
        {1280000, "046.88"},      // exactly 46.875: ties go to the even digit
        {2560000, "023.44"},      // exactly 23.4375
        {9600000, "006.25"},      // exactly 6.25
        {768000, "078.12"},       // exactly 78.125: the tie goes down to the even digit
    };
    for (const auto& [tempo, text] : cases) {
        SCOPED_TRACE(tempo);
        EXPECT_EQ(formatBpm(tempo), text);
    }
}

TEST(EventText, ExactBpmTakesTheDecimalsThatKeepTheBeat)
{
    const std::vector<std::pair<std::uint32_t, std::string>> cases{
        {500000, "120.00"},      // exact at two decimals: as formatBpm
        {1000000, "060.00"},
        {461538, "130.00013"},   // 130.000130...
        {631579, "094.999992"},  // 94.99999208...: two decimals would read 95
        {16777215, "003.576278900"},  // the slowest tempo takes all nine
        {0, "000.00"},
    };
    for (const auto& [tempo, text] : cases) {
        SCOPED_TRACE(tempo);
        EXPECT_EQ(formatExactBpm(tempo), text);
    }
}

}  // namespace
}  // namespace zentrowe::song
