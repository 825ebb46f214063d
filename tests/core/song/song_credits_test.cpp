#include "core/song/song_credits.h"

#include <gtest/gtest.h>

#include "core/base/progress.h"
#include "song_test_support.h"

namespace zentrowe::song {
namespace {

using namespace test;

// A track of meta texts (type, bytes) at delta 0, then one note.
Bytes track(const std::vector<std::pair<int, Bytes>>& texts)
{
    Bytes out;
    for (const auto& [type, text] : texts) {
        testing::append(out, bytes({0x00, 0xFF, type, static_cast<int>(text.size())}));
        testing::append(out, text);
    }
    testing::append(out, bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}));
    return out;
}

TEST(SongCredits, TitleAndArtistComeFromTheSongsOwnTexts)
{
    const Bytes joyGbk = bytes({0xBB, 0xB6, 0xC0, 0xD6, 0xCB, 0xCC});  // 欢乐颂 in code page 936
    const Bytes melody = bytes({'M', 'e', 'l', 'o', 'd', 'y'});
    using testing::midiFile;
    const std::vector<std::tuple<const char*, Bytes, std::string, std::string>> cases{
        {"format 1: the first track's name, from code page 936", midiFile(1, 480, {track({{3, joyGbk}}), track({{3, melody}})}),
         "欢乐颂", ""},
        {"format 1: a later track's name is not the song's", midiFile(1, 480, {track({}), track({{3, melody}})}), "", ""},
        {"format 0: its track's name, UTF-8 kept", midiFile(0, 480, {track({{3, bytes({0xE6, 0xAD, 0x8C})}})}), "歌", ""},
        {"format 2: independent patterns name no song", midiFile(2, 480, {track({{3, melody}})}), "", ""},
        {"padding trimmed; the first copyright notice, in any track, is the artist",
         midiFile(1, 480, {track({{3, bytes({' ', 'S', 0x00})}}), track({{2, bytes({'(', 'C', ')', ' ', 'A', ' '})}}),
                           track({{2, bytes({'B'})}})}),
         "S", "(C) A"},
    };
    for (const auto& [name, file, title, artist] : cases) {
        SCOPED_TRACE(name);
        const SongCredits credits = songCredits(summary(file));
        EXPECT_EQ(credits.title, title);
        EXPECT_EQ(credits.artist, artist);
    }
    NullProgress quiet;
    const auto demo = readSongSummary("../../data/demo/ode-to-joy.mid", quiet);
    ASSERT_TRUE(demo.ok());
    EXPECT_EQ(songCredits(*demo).title, "欢乐颂");
}

}  // namespace
}  // namespace zentrowe::song
