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

TEST(TextDecoding, ListedTextIsDetectedAndKeepsItsLayout)
{
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        const char* what;
        testing::Bytes data;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-8 with a tab and a line break, kept", bytes({'a', '\t', 'b', '\r', '\n'}), "a\tb\r\n"},
        // 夜明けのテーマ in Shift_JIS: GBK would take these bytes too, as other characters.
        {"Shift_JIS", bytes({0x96, 0xE9, 0x96, 0xBE, 0x82, 0xAF, 0x82, 0xCC, 0x83, 0x65, 0x81, 0x5B, 0x83, 0x7D}),
         "夜明けのテーマ"},
        {"Shift_JIS with a tab", bytes({0x83, 0x65, 0x81, 0x5B, 0x83, 0x7D, '\t', '1'}), "テーマ\t1"},
        {"GBK", bytes({0xBB, 0xB6, 0xC0, 0xD6, 0xCB, 0xCC}), "欢乐颂"},
        {"cp1252", bytes({'C', 'a', 'f', 0xE9}), "Café"},
        // 0x81 0x20: no encoding takes it whole; code page 936 marks the byte.
        {"nothing whole", bytes({0x81, 0x20, 'x', 0x81}), r + " x" + r},
        // テーマ and 0xFD, a byte Shift_JIS leaves undefined (Windows' table passes it through as
        // a private-use character): no encoding takes it whole, so code page 936 reads it.
        {"Shift_JIS but for an undefined byte", bytes({0x83, 0x65, 0x81, 0x5B, 0x83, 0x7D, 0xFD}), "僥乕儅" + r},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decodeListedText(c.data), c.text);
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

namespace zentrowe {
namespace {

using testing::bytes;

TEST(DetectedText, TheEncodingThatDecodesWholeAndReadsMostPlausiblyWins)
{
    struct Case {
        const char* name;
        testing::Bytes data;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"ASCII", bytes({'S', 'o', 'n', 'g'}), "Song"},
        {"UTF-8 kept", bytes({0xE6, 0xAD, 0x8C, ' ', 'A'}), "歌 A"},
        // 夜明けのテーマ, which code page 936 reads as 栭柧偗偺僥乕儅.
        {"Shift_JIS", bytes({0x96, 0xE9, 0x96, 0xBE, 0x82, 0xAF, 0x82, 0xCC, 0x83, 0x65, 0x81, 0x5B, 0x83, 0x7D}),
         "夜明けのテーマ"},
        // 欢乐颂, which Shift_JIS reads as six half-width katakana.
        {"GBK", bytes({0xBB, 0xB6, 0xC0, 0xD6, 0xCB, 0xCC}), "欢乐颂"},
        {"GBK among ASCII", bytes({'A', 0xB9, 0xC4, ' ', '1'}), "A鼓 1"},
        // © is 0xA9 in cp1252: no GBK character, a half-width katakana in Shift_JIS.
        {"cp1252 copyright sign", bytes({'(', 0xA9, ')', ' ', '1', '9', '9', '7'}), "(©) 1997"},
        {"cp1252 accent at the end", bytes({'C', 'a', 'f', 0xE9}), "Café"},
        {"a U+FFFD in UTF-8 is dropped", bytes({'a', 0xEF, 0xBF, 0xBD, 'b'}), "ab"},
        {"control characters become spaces", bytes({'a', '\r', '\n', 'b'}), "a  b"},
        {"bytes no encoding takes whole", bytes({'x', 0x81, 0xFF}), "xÿ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string decoded = decodeDetectedText(c.data);
        EXPECT_EQ(decoded, c.text);
        EXPECT_EQ(decoded.find("\xEF\xBF\xBD"), std::string::npos);
    }
}

TEST(DetectedText, ShiftJisOnlyWhenEveryCharacterHasAForm)
{
    EXPECT_EQ(encodeShiftJis("Song 1"), std::optional<std::string>("Song 1"));
    EXPECT_EQ(encodeShiftJis("夜明けのテーマ"),
              std::optional<std::string>("\x96\xE9\x96\xBE\x82\xAF\x82\xCC\x83\x65\x81\x5B\x83\x7D"));
    EXPECT_EQ(encodeShiftJis("欢乐颂"), std::nullopt);  // simplified hanzi JIS does not have
    EXPECT_EQ(encodeShiftJis("Café"), std::nullopt);
    EXPECT_EQ(encodeShiftJis("\xFF"), std::nullopt);  // not UTF-8
    // A C1 control and a private-use character: Windows' table gives them bytes JIS leaves undefined.
    EXPECT_EQ(encodeShiftJis("\xC2\x80"), std::nullopt);
    EXPECT_EQ(encodeShiftJis("\xEF\xA3\xB0"), std::nullopt);
}

}  // namespace
}  // namespace zentrowe
