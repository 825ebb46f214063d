#include "core/song/track_details.h"

#include <gtest/gtest.h>

#include "song_test_support.h"

namespace zentrowe::song {
namespace {

using testing::Bytes;

// Note On events `apart` ticks after each other (division 96, the default 120 BPM: a tick is
// 1/192 s), each as (channel index, key); apart 0 strikes them together.
Bytes notes(std::initializer_list<std::pair<int, int>> played, int apart)
{
    Bytes events;
    bool first = true;
    for (const auto& [channel, key] : played) {
        testing::append(events, testing::bytes({first ? 0 : apart, 0x90 | channel, key, 100}));
        first = false;
    }
    testing::append(events, testing::kEndOfTrack);
    return events;
}

TEST(TrackDetails, TimesDensitiesAndPitchesOfEachTrack)
{
    const Bytes melody = notes({{0, 72}, {0, 74}, {0, 76}, {0, 77}, {0, 79}, {0, 77}, {0, 76}, {0, 74}}, 96);
    const Bytes drums = notes({{9, 36}, {9, 42}, {9, 38}, {9, 42}}, 0);
    const Bytes pad = notes({{1, 60}, {2, 64}, {1, 67}}, 0);
    const Bytes silent = testing::bytes({0x00, 0x90, 0x40, 0x00, 0x00, 0xFF, 0x2F, 0x00});  // velocity 0
    const Bytes file = testing::midiFile(1, 96, {melody, drums, pad, silent});
    const auto song = test::summary(file);
    NullProgress quiet;
    const auto details = readTrackDetails(file, song, quiet);
    ASSERT_TRUE(details.ok());
    ASSERT_EQ(details->size(), 4U);

    const auto& tune = (*details)[0];
    EXPECT_EQ(channelListText(tune.channels), "1");
    EXPECT_EQ(tune.noteCount, 8);
    EXPECT_DOUBLE_EQ(tune.firstNoteSeconds, 0);
    EXPECT_DOUBLE_EQ(tune.lastNoteSeconds, 3.5);  // seven quarter notes at 120 BPM
    EXPECT_DOUBLE_EQ(tune.averageNotesPerSecond, 8 / 3.5);
    // Two notes a second in any two seconds, below the average over 3.5 s: the peak is the average.
    EXPECT_DOUBLE_EQ(tune.peakNotesPerSecond, 8 / 3.5);
    EXPECT_EQ(pitchName(tune.lowestPitch) + "-" + pitchName(tune.highestPitch), "C5-G5");

    EXPECT_TRUE((*details)[1].onlyDrumChannel());
    EXPECT_DOUBLE_EQ((*details)[1].peakNotesPerSecond, 4);
    EXPECT_DOUBLE_EQ((*details)[1].averageNotesPerSecond, 4);  // over at least one second
    EXPECT_EQ(channelListText((*details)[2].channels), "2,3");
    EXPECT_DOUBLE_EQ((*details)[2].chordShare, 1);
    EXPECT_EQ((*details)[3].noteCount, 0);
    EXPECT_EQ(likelyMelodyTrack(*details), 1);
}

// `count` notes of `key` on channel 1, `apart` ticks after each other (a tick is 1/192 s as
// above), the one at index `late` coming `rest` ticks later still.
Bytes line(int key, int count, int apart, int late, int rest)
{
    Bytes events;
    for (int k = 0; k < count; ++k) {
        const int delta = k == 0 ? 0 : apart + (k == late ? rest : 0);
        testing::append(events, testing::varLen(static_cast<std::uint32_t>(delta)));
        testing::append(events, testing::bytes({0x90, key, 100}));
    }
    testing::append(events, testing::kEndOfTrack);
    return events;
}

TEST(TrackDetails, ATuneThatRestsMostOfTheSongIsNotTheMelody)
{
    // A high line of 16ths at 120 BPM (0.25 s) that rests 20.25 s after its 20th note, and a lower
    // line of one note a second through all 30 s: over the song's 30 s the first plays 9.5.
    const Bytes resting = line(76, 40, 48, 20, 3840);
    const Bytes steady = line(65, 31, 192, 0, 0);
    const Bytes file = testing::midiFile(1, 96, {resting, steady});
    const auto song = test::summary(file);
    NullProgress quiet;
    const auto details = readTrackDetails(file, song, quiet);
    ASSERT_TRUE(details.ok());
    ASSERT_EQ(details->size(), 2U);
    const auto& spans = (*details)[0].playing;
    ASSERT_EQ(spans.size(), 2U);
    EXPECT_DOUBLE_EQ(spans[0].startSeconds, 0);
    EXPECT_DOUBLE_EQ(spans[0].endSeconds, 4.75);
    EXPECT_DOUBLE_EQ(spans[1].startSeconds, 25);
    EXPECT_DOUBLE_EQ(spans[1].endSeconds, 29.75);
    EXPECT_DOUBLE_EQ((*details)[0].playingSeconds(), 9.5);
    EXPECT_DOUBLE_EQ((*details)[1].playingSeconds(), 30);
    EXPECT_EQ(likelyMelodyTrack(*details), 2);
}

TEST(TrackDetails, NoMelodyAmongDrumsChordsAndBassLines)
{
    const auto at = [](double averagePitch, double chordShare, double perSecond, std::uint16_t channels) {
        TrackDetails details;
        details.channels = channels;
        details.noteCount = 100;
        details.lastNoteSeconds = 60;
        details.playing = {{0, 60}};
        details.averagePitch = averagePitch;
        details.chordShare = chordShare;
        details.averageNotesPerSecond = perSecond;
        return details;
    };
    struct Case {
        const char* what;
        std::vector<TrackDetails> tracks;
        std::optional<int> melody;
    };
    const Case cases[] = {
        {"drums only", {at(70, 0, 4, 1U << 9)}, std::nullopt},
        {"chords only", {at(70, 0.9, 4, 1)}, std::nullopt},
        {"bass line", {at(40, 0, 4, 1)}, std::nullopt},
        {"sparse", {at(70, 0, 0.5, 1)}, std::nullopt},
        {"the higher tune", {at(62, 0, 2, 1), at(75, 0.1, 3, 2), at(90, 0.8, 3, 4)}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(likelyMelodyTrack(c.tracks), c.melody);
    }
}

TEST(TrackDetails, NamesPitchesWithMiddleCAsC4)
{
    const std::pair<int, const char*> names[] = {{60, "C4"}, {0, "C-1"}, {61, "C#4"}, {127, "G9"}, {21, "A0"}};
    for (const auto& [note, name] : names) {
        EXPECT_EQ(pitchName(static_cast<std::uint8_t>(note)), name);
    }
}

}  // namespace
}  // namespace zentrowe::song
