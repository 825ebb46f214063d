#include "core/song/song_credits.h"

#include <gtest/gtest.h>

#include "core/base/progress.h"
#include "song_test_support.h"

namespace zentrowe::song {
namespace {

using namespace test;
using testing::append;
using testing::kEndOfTrack;
using testing::midiFile;

// A meta text event at delta 0.
Bytes metaText(int type, const Bytes& text)
{
    Bytes out = bytes({0x00, 0xFF, type, static_cast<int>(text.size())});
    append(out, text);
    return out;
}

Bytes track(std::initializer_list<Bytes> events)
{
    Bytes out;
    for (const Bytes& event : events) {
        append(out, event);
    }
    append(out, bytes({0x00, 0x90, 0x3C, 0x40}));
    append(out, kEndOfTrack);
    return out;
}

const Bytes kJoyGbk = bytes({0xBB, 0xB6, 0xC0, 0xD6, 0xCB, 0xCC});  // 欢乐颂 in code page 936
const Bytes kMelody = bytes({'M', 'e', 'l', 'o', 'd', 'y'});

TEST(SongCredits, TitleAndArtistComeFromTheSongsOwnTexts)
{
    struct Case {
        const char* name;
        Bytes file;
        std::string title;
        std::string artist;
    };
    const std::vector<Case> cases{
        {"format 1: the first track's name, decoded from code page 936",
         midiFile(1, 480, {track({metaText(0x03, kJoyGbk)}), track({metaText(0x03, kMelody)})}), "欢乐颂", ""},
        {"format 1: a later track's name is not the song's",
         midiFile(1, 480, {track({}), track({metaText(0x03, kMelody)})}), "", ""},
        {"format 0: its one track's name, UTF-8 kept",
         midiFile(0, 480, {track({metaText(0x03, bytes({0xE6, 0xAD, 0x8C}))})}), "歌", ""},
        {"format 2: independent patterns name no song", midiFile(2, 480, {track({metaText(0x03, kMelody)})}), "", ""},
        {"spaces and NUL padding trimmed; the copyright notice is the artist",
         midiFile(1, 480, {track({metaText(0x03, bytes({' ', 'S', 'o', 'n', 'g', 0x00, 0x00})),
                                  metaText(0x02, bytes({'(', 'C', ')', ' ', 'A', 'n', 'n', ' '}))})}),
         "Song", "(C) Ann"},
        {"the first copyright notice wins, wherever it is",
         midiFile(1, 480, {track({}), track({metaText(0x02, bytes({'X'}))}), track({metaText(0x02, bytes({'Y'}))})}),
         "", "X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SongCredits credits = songCredits(summary(c.file));
        EXPECT_EQ(credits.title, c.title);
        EXPECT_EQ(credits.artist, c.artist);
    }
}

TEST(SongCredits, TheDemoSongNamesItself)
{
    NullProgress quiet;
    const auto song = readSongSummary("../../data/demo/ode-to-joy.mid", quiet);
    ASSERT_TRUE(song.ok());
    EXPECT_EQ(songCredits(*song).title, "欢乐颂");
}

}  // namespace
}  // namespace zentrowe::song
