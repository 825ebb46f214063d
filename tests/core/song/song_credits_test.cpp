#include "core/song/song_credits.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

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

// A track of meta texts and no note, as writers keep a song's name and credits.
Bytes noteless(const std::vector<std::pair<int, Bytes>>& texts)
{
    Bytes out;
    for (const auto& [type, text] : texts) {
        testing::append(out, bytes({0x00, 0xFF, type, static_cast<int>(text.size())}));
        testing::append(out, text);
    }
    testing::append(out, bytes({0x00, 0xFF, 0x2F, 0x00}));
    return out;
}

Bytes text(std::string_view t)
{
    return Bytes(t.begin(), t.end());
}

TEST(SongCredits, TitleAndArtistComeFromTheSongsOwnTexts)
{
    const Bytes joyGbk = bytes({0xBB, 0xB6, 0xC0, 0xD6, 0xCB, 0xCC});  // 欢乐颂 in code page 936
    const Bytes melody = bytes({'M', 'e', 'l', 'o', 'd', 'y'});
    using testing::midiFile;
    const std::vector<std::tuple<const char*, Bytes, std::string, std::string>> cases{
        {"format 1: the first track's name, from code page 936",
         midiFile(1, 480, {track({{3, joyGbk}}), track({{3, melody}})}), "欢乐颂", ""},
        {"format 1: a later track's name is not the song's", midiFile(1, 480, {track({}), track({{3, melody}})}), "",
         ""},
        {"format 0: its track's name, UTF-8 kept", midiFile(0, 480, {track({{3, bytes({0xE6, 0xAD, 0x8C})}})}), "歌",
         ""},
        {"format 2: independent patterns name no song", midiFile(2, 480, {track({{3, melody}})}), "", ""},
        {"a generic sequence name gives way to a track without notes",
         midiFile(1, 480,
                  {noteless({{3, text("Track 0")}}), track({{3, text("Lead")}}), noteless({{3, text("Ode to Joy")}})}),
         "Ode to Joy", ""},
        {"generic names alone name no song",
         midiFile(1, 480, {noteless({{3, text("Untitled")}}), track({{3, text("Slow Dance")}})}), "", ""},
        {"padding trimmed; the first copyright notice, in any track, is the artist",
         midiFile(1, 480,
                  {track({{3, bytes({' ', 'S', 0x00})}}), track({{2, bytes({'(', 'C', ')', ' ', 'A', ' '})}}),
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

TEST(SongCredits, ABuildTakesTheAuthorTheTextsNameElseTheCopyrightHolder)
{
    // 夜明けのテーマ in Shift_JIS.
    const Bytes dawnSjis = bytes({0x96, 0xE9, 0x96, 0xBE, 0x82, 0xAF, 0x82, 0xCC, 0x83, 0x65, 0x81, 0x5B, 0x83, 0x7D});
    using testing::midiFile;
    const std::vector<std::tuple<const char*, Bytes, std::string, std::string>> cases{
        {"a Shift_JIS name is read as Shift_JIS", midiFile(1, 480, {track({{3, dawnSjis}})}), "夜明けのテーマ", ""},
        {"the copyright line without the sign and the year",
         midiFile(1, 480,
                  {track({{3, text("Song")},
                          {2, text("Copyright \xC2\xA9"
                                   "2010 Jane Roe")}})}),
         "Song", "Jane Roe"},
        {"a cp1252 sign, 'by' and the rights reserved",
         midiFile(1, 480, {track({{2, bytes({'C', 'o', 'p', 'y', 'r', 'i', 'g', 'h', 't', ' ', 0xA9, ' ',
                                             '1', '9', '9', '7', ' ', 'b', 'y', ' ', 'A', 'l', ' ',  'K'})}})}),
         "", "Al K"},
        {"a file that keeps its name and credits in tracks without notes",
         midiFile(1, 480,
                  {noteless({}), track({{3, text("Drums")}}), noteless({{3, text("I Wanna Be Sedated")}}),
                   noteless({{3, text("By The Ramones")}}), noteless({{3, text("Sequenced by")}}),
                   noteless({{3, text("someone@example.net")}})}),
         "I Wanna Be Sedated", "The Ramones"},
        {"a person the texts name wins over the copyright",
         midiFile(1, 480,
                  {track({{2, text("(c) 1997-2003 Big Label")}}),
                   track({{1, text("Sequenced 2001")}, {1, text("Composed by Mary Major\r\nv2")}})}),
         "", "Mary Major"},
    };
    for (const auto& [name, file, title, artist] : cases) {
        SCOPED_TRACE(name);
        const SongCredits credits = readSongCredits(file, summary(file));
        EXPECT_EQ(credits.title, title);
        EXPECT_EQ(credits.artist, artist);
    }
}

TEST(SongCredits, TheCopyrightHolderAndTheNamedAuthor)
{
    const std::vector<std::pair<std::string, std::string>> notices = {
        {"Copyright \xC2\xA9 1997 by Jane Doe. All rights reserved.", "Jane Doe"},
        {"(C) 1997-2003, Big Label", "Big Label"},
        {"\xE2\x84\x97 2020 Records Ltd", "Records Ltd"},
        {"Abby Road 1969", "Abby Road"},  // "by" only as a word
        {"Copyright", ""},
    };
    for (const auto& [notice, holder] : notices) {
        SCOPED_TRACE(notice);
        EXPECT_EQ(copyrightHolder(notice), holder);
    }
    EXPECT_EQ(authorNamedIn("Words and Music by Ann Lee"), "Ann Lee");
    EXPECT_EQ(authorNamedIn("\xE4\xBD\x9C\xE6\x9B\xB2\xEF\xBC\x9A\xE7\x8E\x8B"), "\xE7\x8E\x8B");  // 作曲：王
    EXPECT_EQ(authorNamedIn("Verse 1"), "");
    EXPECT_EQ(authorNamedIn("By The Ramones"), "The Ramones");
    EXPECT_EQ(authorNamedIn("Sequenced by"), "");
    EXPECT_EQ(authorNamedIn("Stand by Me"), "");
}

TEST(SongCredits, GenericNamesAreNotTitles)
{
    const std::vector<std::pair<std::string, bool>> names = {
        {"Track 0", true},
        {"Untitled", true},
        {"", true},
        {"  ", true},
        {"01", true},
        {"Acoustic Grand Piano", true},  // a General MIDI instrument
        {"Electric Bass(finger)", true},
        {"Piano ", true},
        {"Cymbals/Percussion", true},
        {"Muted Guitar", true},
        {"System Setup", true},
        {"New Song", true},
        {"\xE4\xB8\xBB\xE6\x97\x8B\xE5\xBE\x8B", true},  // 主旋律, the melody
        {"By The Ramones", true},                        // a credit line
        {"Sequenced by", true},
        {"sargepp67@earthlink.net", true},
        {"Copyright 1999 Somebody", true},
        {"Dreamy Oriental Nights", false},
        {"I Wanna Be Sedated", false},
        {"Piano Man", false},
        {"\xE6\xAC\xA2\xE4\xB9\x90\xE9\xA2\x82", false},  // 欢乐颂
    };
    for (const auto& [name, generic] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(isGenericName(name), generic);
    }
    EXPECT_EQ(titleOfFileName("/songs/I_Wanna_Be_Sedated.mid"), "I Wanna Be Sedated");
    EXPECT_EQ(titleOfFileName("bach-invention-01.mid"), "bach-invention-01");
    EXPECT_EQ(titleOfFileName("_intro_.mid"), "intro");
}

}  // namespace
}  // namespace zentrowe::song
