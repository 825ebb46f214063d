#include "core/base/text_decoding.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zentrowe {
namespace {

using testing::bytes;

std::string decode(const testing::Bytes& data)
{
    return decodeMidiText(data);
}

TEST(TextDecoding, ValidUtf8IsKeptAsItIs)
{
    const std::string texts[] = {"", "Piano", "低音", "鼓组 drums", "\t tab and\r\nnew line", "\xF0\x9F\x8E\xB9"};
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodeMidiText({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}), text);
    }
}

TEST(TextDecoding, Codepage936TextIsConvertedToUtf8)
{
    // "主旋律" and "欢乐颂" in code page 936.
    EXPECT_EQ(decode(bytes({0xD6, 0xF7, 0xD0, 0xFD, 0xC2, 0xC9})), "主旋律");
    EXPECT_EQ(decode(bytes({0xBB, 0xB6, 0xC0, 0xD6, 0xCB, 0xCC})), "欢乐颂");
    EXPECT_EQ(decode(bytes({'A', 0xB9, 0xC4, ' ', '1'})), "A鼓 1");
    // 0x80 is the euro sign in code page 936.
    EXPECT_EQ(decode(bytes({0x80})), "€");
}

TEST(TextDecoding, BytesThatStartNoCharacterBecomeOneReplacementEach)
{
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        testing::Bytes data;
        std::string text;
    };
    const Case cases[] = {
        {bytes({0xFF}), r},
        {bytes({'a', 0xFF, 'b'}), "a" + r + "b"},
        {bytes({0xFF, 0xFF}), r + r},
        {bytes({0xD6}), r},                        // lead byte at the end of the text
        {bytes({0xD6, 0xF7, 0xD0}), "主" + r},      // second character cut short
        {bytes({0x81, 0x20, 'x'}), r + " x"},      // lead byte followed by a byte that cannot trail
        {bytes({0xFF, 0xD6, 0xF7}), r + "主"},      // decoding resumes on the next byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decode(c.data), c.text);
    }
}

TEST(TextDecoding, InvalidUtf8FormsAreNotTakenForUtf8)
{
    struct Case {
        const char* what;
        testing::Bytes data;
    };
    const Case cases[] = {
        {"overlong slash", bytes({0xC0, 0xAF})},
        {"overlong three-byte", bytes({0xE0, 0x80, 0xAF})},
        {"surrogate", bytes({0xED, 0xA0, 0x80})},
        {"above U+10FFFF", bytes({0xF4, 0x90, 0x80, 0x80})},
        {"five-byte lead", bytes({0xF8, 0x88, 0x80, 0x80, 0x80})},
        {"lone continuation", bytes({0x80})},
        {"cut short", bytes({0xE4, 0xB8})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(isValidUtf8(c.data));
        const auto text = decode(c.data);
        EXPECT_TRUE(isValidUtf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}))
            << "whatever comes in, what comes out is valid UTF-8";
    }
    EXPECT_TRUE(isValidUtf8(bytes({0xF4, 0x8F, 0xBF, 0xBF})));  // U+10FFFF itself
    EXPECT_TRUE(isValidUtf8(bytes({0xEF, 0xBF, 0xBD})));
}

}  // namespace
}  // namespace zentrowe
