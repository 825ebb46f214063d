#include "core/song/song_credits.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>

#include "core/base/progress.h"
#include "core/base/text_decoding.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

namespace {

std::string trimmed(std::string_view text)
{
    constexpr std::string_view kPadding(" \t\r\n\0", 5);
    const auto first = text.find_first_not_of(kPadding);
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(kPadding) - first + 1));
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isWordByte(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Removes every whole-word `word` (ASCII, lower-case) from `text`, whatever its case.
void removeWord(std::string& text, std::string_view word)
{
    for (std::size_t at = lowered(text).find(word); at != std::string::npos; at = lowered(text).find(word, at)) {
        const bool startsWord = at == 0 || !isWordByte(text[at - 1]) || !isWordByte(word.front());
        const std::size_t end = at + word.size();
        const bool endsWord = end >= text.size() || !isWordByte(text[end]) || !isWordByte(word.back());
        if (startsWord && endsWord) {
            text.replace(at, word.size(), " ");
        } else {
            ++at;
        }
    }
}

// Removes years (four digits from 1900 to 2099) and ranges of them ("1997-2003", "1997, 2003").
void removeYears(std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const bool year = i + 4 <= text.size() && (i == 0 || !isWordByte(text[i - 1])) &&
                          (text.compare(i, 2, "19") == 0 || text.compare(i, 2, "20") == 0) &&
                          std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i),
                                      text.begin() + static_cast<std::ptrdiff_t>(i + 4),
                                      [](unsigned char c) { return std::isdigit(c) != 0; }) &&
                          (i + 4 == text.size() || !isWordByte(text[i + 4]));
        if (year) {
            out += ' ';
            i += 4;
        } else {
            out += text[i++];
        }
    }
    text = std::move(out);
}

// Without the spaces and the punctuation a removal leaves at either end, and with runs of
// spaces made one.
std::string tidied(std::string_view text)
{
    constexpr std::string_view kLoose(" \t\r\n\0.,;:-/|", 12);
    std::string out;
    for (const char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) {
            continue;
        }
        out += c;
    }
    const auto first = out.find_first_not_of(kLoose);
    if (first == std::string::npos) {
        return {};
    }
    return out.substr(first, out.find_last_not_of(kLoose) - first + 1);
}

// The texts a build's credits come from, each decoded by detection.
class CreditTexts {
public:
    explicit CreditTexts(bool firstTrack) : m_firstTrack(firstTrack) { }

    void onEvent(std::int64_t, std::uint32_t, const ChannelEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent& event)
    {
        if (event.type == 0x03 && m_firstTrack) {
            title = decodeDetectedText(event.data);
        } else if (event.type == 0x02 && !copyright) {
            copyright = decodeDetectedText(event.data);
        } else if (event.type == 0x01 && author.empty()) {
            author = authorNamedIn(decodeDetectedText(event.data));
        }
    }

    std::string title;
    std::optional<std::string> copyright;
    std::string author;

private:
    bool m_firstTrack;
};

}  // namespace

std::string copyrightHolder(std::string_view notice)
{
    std::string text(notice);
    for (const std::string_view sign :
         {"\xC2\xA9", "\xE2\x84\x97", "(c)", "(p)", "all rights reserved", "copyright", "by"}) {
        removeWord(text, sign);
    }
    removeYears(text);
    // What a range or list of years leaves between them.
    std::string joined;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '-' || c == ',') && tidied(joined).empty()) {
            continue;
        }
        joined += c;
    }
    return tidied(joined);
}

std::string authorNamedIn(std::string_view text)
{
    static constexpr std::array<std::string_view, 8> kMarks = {
        "words and music by",
        "composed by",
        "music by",
        "written by",
        "composer:",
        "artist:",
        "\xE4\xBD\x9C\xE6\x9B\xB2:",
        "\xE4\xBD\x9C\xE6\x9B\xB2\xEF\xBC\x9A"};  // 作曲: and 作曲：
    const std::string lower = lowered(text);
    for (const auto mark : kMarks) {
        const auto at = lower.find(mark);
        if (at == std::string::npos) {
            continue;
        }
        std::string_view rest = text.substr(at + mark.size());
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
        rest = rest.substr(0, std::min(rest.find_first_of("\r\n"), rest.find("  ")));
        return tidied(rest);
    }
    return {};
}

SongCredits readSongCredits(std::span<const std::uint8_t> file, const SongSummary& song)
{
    SongCredits credits;
    NullProgress quiet;
    std::optional<std::string> copyright;
    std::string author;
    for (std::size_t k = 0; k < song.tracks.size(); ++k) {
        CreditTexts texts(k == 0 && song.format <= 1);
        ProgressThrottle throttle(quiet, static_cast<std::int64_t>(file.size()));
        walkTrack(file, song.tracks[k].location, texts, throttle);
        if (k == 0) {
            credits.title = trimmed(texts.title);
        }
        if (!copyright && texts.copyright) {
            copyright = texts.copyright;
        }
        if (author.empty()) {
            author = texts.author;
        }
    }
    credits.artist = !author.empty() ? author : copyright ? copyrightHolder(*copyright) : std::string();
    return credits;
}

SongCredits songCredits(const SongSummary& song)
{
    SongCredits credits;
    if (song.format <= 1 && !song.tracks.empty()) {
        credits.title = trimmed(song.tracks.front().name);
    }
    if (song.copyright) {
        credits.artist = trimmed(*song.copyright);
    }
    return credits;
}

}  // namespace zentrowe::song
