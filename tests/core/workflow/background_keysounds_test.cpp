#include "core/workflow/background_keysounds.h"

#include <gtest/gtest.h>

#include "support/build_request.h"

namespace zentrowe::testing {
namespace {

// Track 1 is the lanes' (a piano on channel 1); track 2 a guitar (program 25) on channel 2;
// track 3 drums on channel 10 and one piano note on channel 1. Division 480: a measure is 1920
// ticks, a 1/192 measure 10 ticks.
Bytes threeTrackSong()
{
    const Bytes lanes = eventTrack({on(0, 60), off(480, 60), on(480, 62), off(960, 62)});
    const Bytes guitar = eventTrack({{0, 0xC1, 25, 0},
                                     on(0, 64, 100, 1),
                                     off(480, 64, 1),
                                     on(485, 64, 100, 1),  // the same sound again, off the grid
                                     on(960, 67, 90, 1),
                                     on(960, 67, 90, 1),  // doubled at one tick
                                     off(965, 64, 1),
                                     off(1200, 67, 1),
                                     off(1440, 67, 1)},
                                    0);
    const Bytes drums =
        eventTrack({on(0, 36, 110, 9), off(10, 36, 9), on(480, 62, 100, 0),   // the lanes play it already
                    on(960, 36, 110, 9), off(960, 62, 0), off(1400, 36, 9)},  // held longer: rings the same
                   0);
    return midiFile(1, 480, {lanes, guitar, drums});
}

// The other tracks' keysounds of `song` for a build charting `lanes`, from the song as prepared.
workflow::BackgroundKeysounds backgroundOf(const Bytes& song, const std::vector<song::TrackPart>& lanes,
                                           const convert::ConversionSettings& settings = {})
{
    const TempDir dir;
    const auto prepared = preparedSong(song, dir.path(), lanes, workflow::BgmMode::Keysounds);
    return workflow::backgroundKeysounds(prepared, summaryOf(song), settings);
}

TEST(BackgroundKeysounds, EveryOtherNoteIsAKeysoundPlacedOnceAtItsOwnTick)
{
    const Bytes song = threeTrackSong();
    const auto background = backgroundOf(song, {{1, 0}});

    struct Expected {
        std::int64_t tick;
        std::string stem;
        int track;
        int channel;
    };
    const std::vector<Expected> expected = {
        {0, "Abg64-48-100-i25", 2, 1},  // 480 ticks: a quarter of the measure's 192
        {0, "Abg36-10-110-k0", 3, 9},   // 100 ticks: a percussion strike's length
        {485, "Abg64-48-100-i25", 2, 1},
        // The doubled note once, the longer of the two, sounding as long as the synthesiser lets
        // both voices of the key: to the first Note Off.
        {960, "Abg67-48-90-i25-s24", 2, 1},
        {960, "Abg36-10-110-k0", 3, 9},  // the longer strike shares the first one's keysound
    };
    ASSERT_EQ(background.notes.size(), expected.size());
    EXPECT_EQ(background.table.size(), 3u);
    EXPECT_EQ(background.doubledNotes, 2);  // one of the doubled pair, and the lanes' own note
    for (std::size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE(k);
        const auto& note = background.notes[k];
        EXPECT_EQ(note.tick, expected[k].tick);
        EXPECT_EQ(background.stem("A", note.keysound, 1920), expected[k].stem);
        EXPECT_EQ(background.sources[note.keysound].track, expected[k].track);
        EXPECT_EQ(background.sources[note.keysound].channel, expected[k].channel);
    }
    // The guitar is rendered with its program, the drums with the kit.
    const auto& guitar = background.sounds[background.table.variant(background.notes[0].keysound)];
    EXPECT_EQ(guitar.instrument.program, 25);
    EXPECT_FALSE(guitar.instrument.drums);
    EXPECT_TRUE(background.sounds[background.table.variant(background.notes[1].keysound)].instrument.drums);
}

TEST(BackgroundKeysounds, EveryNoteNoLanePartTakesIsInTheBackground)
{
    struct Case {
        const char* name;
        std::vector<song::TrackPart> lanes;
        std::vector<std::tuple<std::int64_t, int, int>> notes;  // tick, track, channel index
        std::int64_t doubled;
    };
    const std::vector<Case> cases = {
        {"two tracks in the lanes: neither is heard twice", {{1, 0}, {2, 0}}, {{0, 3, 9}, {960, 3, 9}}, 1},
        {"the drum channel of track 3: its piano note and the other tracks play",
         {{3, 10}},
         {{0, 1, 0}, {0, 2, 1}, {480, 1, 0}, {485, 2, 1}, {960, 2, 1}},
         2},
        {"track 3's piano channel in the lanes: its drums play",
         {{1, 0}, {3, 1}},
         {{0, 2, 1}, {0, 3, 9}, {485, 2, 1}, {960, 2, 1}, {960, 3, 9}},
         1},  // the guitar's doubled note; the piano's is the lanes' to weed out
    };
    const Bytes song = threeTrackSong();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto background = backgroundOf(song, c.lanes);
        std::vector<std::tuple<std::int64_t, int, int>> notes;
        for (const auto& note : background.notes) {
            const auto& source = background.sources[note.keysound];
            notes.emplace_back(note.tick, source.track, source.channel);
        }
        EXPECT_EQ(notes, c.notes);
        EXPECT_EQ(background.doubledNotes, c.doubled);
    }
}

TEST(BackgroundKeysounds, RunningOutOfCodesNamesTheCountAndTheWaysOut)
{
    struct Case {
        const char* name;
        workflow::CodeDemand demand;
        std::optional<workflow::CodeRelief> relief;
        std::string message;  // empty: every keysound has a code
    };
    const std::vector<Case> cases = {
        {"fits to ZZ", {1000, 295, 0, false, false}, std::nullopt, ""},
        {"bmson numbers any", {5000, 5000, 0, false, true}, std::nullopt, ""},
        {"one past ZZ",
         {1000, 296, 0, false, false},
         workflow::CodeRelief{8, 0, 900},
         "the song has 1296 keysounds (1000 of the lanes' track, 296 of the other tracks), more than the codes "
         "after start code 00 up to ZZ can number; it would fit with base-62 codes (--codes 62), as a bmson chart "
         "(--chart-format bmson), merged with --velocity-step 8 (900 keysounds) or with the other tracks in BGM "
         "slices (--bgm slices); nothing was written"},
        {"past zz, the lanes alone past ZZ",
         {3000, 1000, 10, true, false},
         std::nullopt,
         "the song has 4000 keysounds (3000 of the lanes' track, 1000 of the other tracks), more than the codes "
         "after start code 0A up to zz can number; it would fit as a bmson chart (--chart-format bmson) or with "
         "the other tracks in BGM slices (--bgm slices); nothing was written"},
        {"the lanes alone",
         {1300, 0, 0, false, false},
         std::nullopt,
         "the track has 1300 keysounds, more than the codes after start code 00 up to ZZ can number; it would fit "
         "with base-62 codes (--codes 62) or as a bmson chart (--chart-format bmson); nothing was written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto refusal = workflow::codesExhausted(c.demand, c.relief);
        if (c.message.empty()) {
            EXPECT_FALSE(refusal.has_value());
            continue;
        }
        ASSERT_TRUE(refusal.has_value());
        EXPECT_EQ(refusal->code, ErrorCode::CodesExhausted);
        EXPECT_EQ(refusal->message, c.message);
    }
}

}  // namespace
}  // namespace zentrowe::testing
