#include "core/song/song_credits.h"

#include <string_view>

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

}  // namespace

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
