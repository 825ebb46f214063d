#include "core/song/song_credits.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "core/base/progress.h"
#include "core/base/text_decoding.h"
#include "core/song/instrument_names.h"
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
    void onEvent(std::int64_t, std::uint32_t, const ChannelEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const SysExEvent&) { }
    void onEvent(std::int64_t, std::uint32_t, const MetaEvent& event)
    {
        if (event.type == 0x03) {
            name = decodeDetectedText(event.data);
        } else if (event.type == 0x02 && !copyright) {
            copyright = decodeDetectedText(event.data);
        }
        if ((event.type == 0x01 || event.type == 0x03) && author.empty()) {
            author = authorNamedIn(decodeDetectedText(event.data));
        }
    }

    std::string name;  // the track's last name, as the track list shows it
    std::optional<std::string> copyright;
    std::string author;
};

// The song's title among its tracks' names (by track, as `song` lists them): the sequence name,
// else a name of a track without notes, unless each is generic.
std::string titleAmong(const std::vector<std::string>& names, const SongSummary& song)
{
    if (song.format > 1) {
        return {};
    }
    for (std::size_t k = 0; k < names.size() && k < song.tracks.size(); ++k) {
        const bool named = k == 0 || (song.format == 1 && song.tracks[k].noteCount == 0);
        if (named && !isGenericName(names[k])) {
            return trimmed(names[k]);
        }
    }
    return {};
}

// The words of a name, lower-case, one space apart: runs of ASCII letters and of other
// characters than ASCII (so that a Chinese name is one word); digits and punctuation part them.
std::string wordsOf(std::string_view name)
{
    std::string words;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalpha(byte) != 0 || byte >= 0x80) {
            words += static_cast<char>(std::tolower(byte));
        } else if (!words.empty() && words.back() != ' ') {
            words += ' ';
        }
    }
    if (!words.empty() && words.back() == ' ') {
        words.pop_back();
    }
    return words;
}

// Words that name a track's role, its instrument or its place in the file: a name made of them
// alone is not a title (the Chinese ones: melody, accompaniment, bass, drums, track, untitled),
// each with a space either side.
constexpr std::string_view kRoleWords =
    " track part channel ch staff instrument untitled unnamed no name noname new sequence seq tempo"
    " map conductor system setup control midi gm gs xg reset melody lead bass drums drum kit"
    " percussion perc piano guitar voice vocal vocals strings string pad keys keyboard chord chords"
    " arp fx sfx effects organ synth harmony accompaniment backing rhythm main solo brass flute"
    " violin cello choir cymbals muted electric acoustic right left hand rh lh upper lower high low"
    " horn horns sax trumpet clarinet harp bell bells 主旋律 旋律 伴奏 低音 鼓 鼓组 音轨 未命名 无标题 無題 ";

// True if the name is a General MIDI instrument's or family's, in English or Chinese, as the
// track list shows them ("Acoustic Grand Piano 大钢琴（声学钢琴）").
bool isInstrumentName(std::string_view words)
{
    const auto matches = [&](std::string_view shown) {
        const auto chinese = std::find_if(shown.begin(), shown.end(), [](char c) { return c & 0x80; });
        const auto english = static_cast<std::size_t>(chinese - shown.begin());
        return words == wordsOf(shown.substr(0, english)) || words == wordsOf(shown.substr(english));
    };
    return std::any_of(kInstrumentNames.begin(), kInstrumentNames.end(), matches) ||
           std::any_of(kFamilyNames.begin(), kFamilyNames.end(), matches);
}

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
    if (lower.starts_with("by ")) {
        return authorNamedIn("composed " + std::string(text));
    }
    return {};
}

bool isGenericName(std::string_view name)
{
    const std::string lower = lowered(name);
    if (!authorNamedIn(name).empty()) {
        return true;
    }
    for (const std::string_view credit :
         {"sequenced", "arranged by", "transcribed", "copyright", "(c)", "\xC2\xA9", "@", "http", "www."}) {
        if (lower.find(credit) != std::string::npos) {
            return true;
        }
    }
    const std::string words = wordsOf(name);
    if (words.empty() || isInstrumentName(words) || words == "new song" || words == "untitled song") {
        return true;
    }
    for (std::size_t at = 0; at < words.size();) {
        const std::size_t end = std::min(words.find(' ', at), words.size());
        const std::string_view word = std::string_view(words).substr(at, end - at);
        if (kRoleWords.find(" " + std::string(word) + " ") == std::string_view::npos) {
            return false;
        }
        at = end + 1;
    }
    return true;
}

std::string titleOfFileName(const std::filesystem::path& midiFile)
{
    std::string title = midiFile.stem().string();
    std::replace(title.begin(), title.end(), '_', ' ');
    return tidied(title);
}

SongCredits readSongCredits(SongSource file, const SongSummary& song)
{
    SongCredits credits;
    NullProgress quiet;
    std::optional<std::string> copyright;
    std::string author;
    std::vector<std::string> names;
    for (const auto& track : song.tracks) {
        CreditTexts texts;
        ProgressThrottle throttle(quiet, static_cast<std::int64_t>(file.size()));
        walkTrack(file, track.location, texts, throttle);
        names.push_back(texts.name);
        if (!copyright && texts.copyright) {
            copyright = texts.copyright;
        }
        if (author.empty()) {
            author = texts.author;
        }
    }
    credits.title = titleAmong(names, song);
    credits.artist = !author.empty() ? author : copyright ? copyrightHolder(*copyright) : std::string();
    return credits;
}

SongCredits songCredits(const SongSummary& song)
{
    SongCredits credits;
    std::vector<std::string> names;
    for (const auto& track : song.tracks) {
        names.push_back(track.name);
    }
    credits.title = titleAmong(names, song);
    if (song.copyright) {
        credits.artist = trimmed(*song.copyright);
    }
    return credits;
}

}  // namespace zentrowe::song
