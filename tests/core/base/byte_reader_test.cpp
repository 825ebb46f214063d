#include "core/base/byte_reader.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::bytes;

TEST(ByteReader, ReadsBigAndLittleEndianNumbers)
{
    const auto data =
        bytes({0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD, 0xAB, 0xCD, 1, 2, 3, 4, 5, 6, 7, 0x88});
    ByteReader reader(data);
    EXPECT_EQ(reader.u32be(), 0x12345678u);
    EXPECT_EQ(reader.u32le(), 0x78563412u);
    EXPECT_EQ(reader.u16be(), 0xABCDu);
    EXPECT_EQ(reader.u16le(), 0xCDABu);
    EXPECT_EQ(reader.u64le(), 0x8807060504030201u);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.u8(), std::nullopt);
}

TEST(ByteReader, ShortReadReturnsNothingAndLeavesTheReaderAtTheEnd)
{
    const auto data = bytes({0x01, 0x02, 0x03});
    struct Case {
        const char* name;
        bool (*read)(ByteReader&);
    };
    const Case cases[] = {
        {"u32be", [](ByteReader& r) { return r.u32be().has_value(); }},
        {"u32le", [](ByteReader& r) { return r.u32le().has_value(); }},
        {"u64le", [](ByteReader& r) { return r.u64le().has_value(); }},
        {"take(4)", [](ByteReader& r) { return r.take(4).has_value(); }},
        {"skip(4)", [](ByteReader& r) { return r.skip(4); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteReader reader(data);
        EXPECT_FALSE(c.read(reader));
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(reader.remaining(), 0u);
    }
    ByteReader reader(data);
    reader.skip(2);
    EXPECT_FALSE(reader.u16be().has_value());
    EXPECT_TRUE(reader.atEnd());
}

TEST(ByteReader, SkipAndTakeOfExactlyWhatRemainsSucceed)
{
    const auto data = bytes({1, 2, 3, 4});
    ByteReader reader(data);
    ASSERT_TRUE(reader.skip(1));
    const auto part = reader.take(3);
    ASSERT_TRUE(part.has_value());
    EXPECT_EQ(part->size(), 3u);
    EXPECT_EQ((*part)[2], 4);
    EXPECT_TRUE(reader.skip(0));
    EXPECT_FALSE(reader.skip(1));
}

TEST(ByteReader, HugeLengthsDoNotWrapAround)
{
    const auto data = bytes({1, 2, 3, 4});
    ByteReader reader(data);
    reader.skip(2);
    EXPECT_FALSE(reader.skip(SIZE_MAX));
    EXPECT_TRUE(reader.atEnd());
    ByteReader other(data);
    other.skip(1);
    EXPECT_FALSE(other.take(SIZE_MAX - 1).has_value());
}

// Variable-length quantities as the Standard MIDI File specification lists them.
TEST(ByteReader, VariableLengthQuantities)
{
    struct Case {
        testing::Bytes encoded;
        std::uint32_t value;
    };
    const Case cases[] = {
        {bytes({0x00}), 0},
        {bytes({0x40}), 0x40},
        {bytes({0x7F}), 0x7F},
        {bytes({0x81, 0x00}), 0x80},
        {bytes({0xC0, 0x00}), 0x2000},
        {bytes({0xFF, 0x00}), 16256},  // a long delta whose first byte looks like a meta status
        {bytes({0xFF, 0x7F}), 0x3FFF},
        {bytes({0x81, 0x80, 0x00}), 0x4000},
        {bytes({0xFF, 0xFF, 0x7F}), 0x1FFFFF},
        {bytes({0x81, 0x80, 0x80, 0x00}), 0x200000},
        {bytes({0xFF, 0xFF, 0xFF, 0x7F}), 0x0FFFFFFF},
        {bytes({0x80, 0x80, 0x80, 0x80, 0x01}), 1},  // padded with empty groups
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto data = c.encoded;
        data.push_back(0x55);
        ByteReader reader(data);
        EXPECT_EQ(reader.varLen(), c.value);
        EXPECT_EQ(reader.u8(), 0x55) << "the reader stops on the byte after the quantity";
    }
}

TEST(ByteReader, VariableLengthQuantityCutShortByTheEnd)
{
    for (const auto& data : {bytes({}), bytes({0x81}), bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}) {
        SCOPED_TRACE(data.size());
        ByteReader reader(data);
        EXPECT_EQ(reader.varLen(), std::nullopt);
        EXPECT_TRUE(reader.atEnd());
    }
}

}  // namespace
}  // namespace zentrowe
