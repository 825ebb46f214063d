#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zentrowe {

// Chart text for players that read only Shift_JIS (code page 932): a Chinese title written in
// simplified hanzi has no form there, but the same words in Japanese kanji mostly do (欢乐颂 is
// 歓楽頌). The conversion goes through OpenCC's simplified-to-traditional table, then its
// traditional-to-Japanese (shinjitai) one; the tables are opened at the first text that needs
// them, once per instance.
class KanjiForms {
public:
    KanjiForms();
    ~KanjiForms();
    KanjiForms(const KanjiForms&) = delete;
    KanjiForms& operator=(const KanjiForms&) = delete;

    // The UTF-8 text with every character that has no Shift_JIS form replaced by its Japanese
    // kanji form; characters that have one stay as they are. The text itself when all of it fits
    // already. Nothing if some character has no such form either (an emoji, a hanzi Japanese
    // lacks), if the text is not valid UTF-8, or if OpenCC's tables cannot be opened.
    std::optional<std::string> shiftJisForm(std::string_view utf8);

private:
    struct Tables;
    std::unique_ptr<Tables> m_tables;
    bool m_opened = false;
};

}  // namespace zentrowe
