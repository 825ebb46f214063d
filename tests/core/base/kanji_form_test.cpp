#include "core/base/kanji_form.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zentrowe {
namespace {

TEST(KanjiForms, TextWithoutAShiftJisFormTakesItsJapaneseKanji)
{
    // Expected forms from the Japanese writing of the words (shinjitai), not from the tables.
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"欢乐颂", "歓楽頌"},                  // Ode to Joy, simplified, as the demo names itself
        {"Ode 欢乐颂!", "Ode 歓楽頌!"},        // ASCII around it stays
        {"头发", "頭髪"},                      // 发 in a phrase is 髪 (hair), not 発
        {"夜明けのテーマ", "夜明けのテーマ"},  // all Shift_JIS already: as written
        {"欢乐のテーマ", "歓楽のテーマ"},      // kana kept, hanzi converted
        {"Song 1", "Song 1"},
        {"Ode \xF0\x9F\x8E\xB5", std::nullopt},  // an emoji has no kanji form
        {"Caf\xC3\xA9", std::nullopt},           // é: Shift_JIS has no accented Latin letters
        {"\xE6\xAC", std::nullopt},              // a character cut short: not UTF-8
    };
    KanjiForms forms;
    for (const auto& [text, form] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(forms.shiftJisForm(text), form);
    }
}

}  // namespace
}  // namespace zentrowe
