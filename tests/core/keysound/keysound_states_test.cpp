#include "core/keysound/keysound_states.h"

#include <gtest/gtest.h>

#include "core/convert/convert_test_support.h"

namespace zentrowe::testing {
namespace {

using keysound::KeysoundStates;
using keysound::StateMerge;

// Note starts of one track: (start, length, sounding) in ticks on channel 0 unless given, each
// with its own channel state.
struct Note {
    std::int64_t length = 480;
    std::int64_t sounding = 480;
    song::ChannelState state;
    std::uint8_t channel = 0;
};

keysound::TrackNoteStarts startsOf(const std::vector<Note>& notes)
{
    keysound::TrackNoteStarts starts;
    for (const auto& note : notes) {
        starts.notes.push_back({0, note.length, note.sounding, static_cast<std::uint32_t>(starts.states.size()),
                                note.channel});
        starts.states.push_back(note.state);
    }
    return starts;
}

song::ChannelState with(void (*change)(song::ChannelState&))
{
    song::ChannelState state;
    change(state);
    return state;
}

TEST(KeysoundStates, PartsThatDifferWithinTheTrackTellKeysoundsApartAndNameThem)
{
    const song::ChannelState plain;
    const auto quieter = with([](song::ChannelState& s) { s.volume = 80; });
    const auto left = with([](song::ChannelState& s) { s.pan = 30; });
    const auto leftish = with([](song::ChannelState& s) { s.pan = 34; });
    const auto bentUp = with([](song::ChannelState& s) { s.pitchBend = 16383; });
    const auto wideBend = with([](song::ChannelState& s) {
        s.pitchBend = 0;
        s.bendRangeSemitones = 12;
    });
    // Volume 127 at expression 100 scales the sound as volume 100 at expression 127 does.
    const auto swapped = with([](song::ChannelState& s) {
        s.volume = 127;
        s.expression = 100;
    });
    const auto guitar = with([](song::ChannelState& s) { s.program = 25; });
    const auto banked = with([](song::ChannelState& s) {
        s.program = 25;
        s.bankMsb = 8;
    });
    const auto bankOnly = with([](song::ChannelState& s) { s.bankMsb = 8; });
    const auto vibrato = with([](song::ChannelState& s) {
        s.modulation = 40;
        s.pressure = 9;
    });
    struct Case {
        const char* name;
        std::vector<Note> notes;
        StateMerge merge;
        std::size_t variants;
        std::vector<std::string> suffixes;  // per note
    };
    const StateMerge exact{0, 0, 1920, false};
    const std::vector<Case> cases = {
        {"one state, not the default, names nothing", {{480, 480, quieter}, {240, 240, quieter}}, exact, 1, {"", ""}},
        {"volume changes", {{480, 480, plain}, {480, 480, quieter}}, exact, 2, {"", "-v80"}},
        {"equal volume × expression", {{480, 480, plain}, {480, 480, swapped}}, exact, 1, {"", ""}},
        {"pan changes", {{480, 480, left}, {480, 480, plain}}, exact, 2, {"-p30", ""}},
        {"pans merged by the velocity step", {{480, 480, left}, {480, 480, leftish}}, {8, 0, 1920, false}, 1, {"", ""}},
        {"pans apart after merging", {{480, 480, left}, {480, 480, plain}}, {8, 0, 1920, false}, 2, {"-p32", ""}},
        {"bend through its range, to the cent",
         {{480, 480, plain}, {480, 480, bentUp}, {480, 480, wideBend}},
         {16, 4, 1920, false},
         3,
         {"", "-b+200", "-b-1200"}},
        {"programs and banks",
         {{480, 480, plain}, {480, 480, guitar}, {480, 480, banked}},
         exact,
         3,
         {"", "-i25", "-i25b8"}},
        {"modulation and pressure", {{480, 480, vibrato}, {480, 480, plain}}, exact, 2, {"-m40-a9", ""}},
        // A quarter note held by the pedal to a half note: 48 slots sounding 96.
        {"sounding lengths", {{480, 480, plain}, {480, 960, plain}, {480, 240, plain}}, exact, 3, {"", "-s96", "-s24"}},
        {"sounding lengths merged by the length step",
         {{480, 960, plain}, {480, 970, plain}},
         {0, 12, 1920, false},
         1,
         {"", ""}},
        {"pedalled notes sound past their lengths",
         {{480, 960, plain}, {240, 720, plain}, {480, 960, plain}},
         exact,
         2,
         {"-s96", "-s72", "-s96"}},
        {"drums ring out whatever their length", {{480, 480, plain, 9}, {480, 960, plain, 9}}, exact, 1, {"", ""}},
        {"melodic and drum notes", {{480, 480, plain, 9}, {480, 480, plain, 0}}, exact, 2, {"-k0", ""}},
        // A synthesiser ignores bank select on the drum channel: one kit, one keysound.
        {"bank select on the drum channel", {{480, 480, plain, 9}, {480, 480, banked, 9}}, exact, 2, {"-k0", "-k25"}},
        {"bank select alone on the drum channel", {{480, 480, plain, 9}, {480, 480, bankOnly, 9}}, exact, 1, {"", ""}},
        {"percussion plays the kit on every channel",
         {{480, 480, plain, 9}, {480, 960, plain, 0}},
         {0, 0, 1920, true},
         1,
         {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeysoundStates states(startsOf(c.notes), c.merge);
        EXPECT_EQ(states.variantCount(), c.variants);
        ASSERT_EQ(c.suffixes.size(), c.notes.size());
        for (std::size_t i = 0; i < c.notes.size(); ++i) {
            EXPECT_EQ(states.suffixOf(states.variantOf(i)), c.suffixes[i]) << "note " << i;
        }
    }
    // A variant sounds as its first note, with the merged level, pan and sounding length in place.
    const auto sound = KeysoundStates(startsOf({{480, 970, left}}), {16, 12, 1920, false}).sound(0);
    EXPECT_EQ(sound.channel.volume, 96);
    EXPECT_EQ(sound.channel.pan, 32);
    EXPECT_EQ(sound.soundingTicks, 960);
    EXPECT_EQ(KeysoundStates(startsOf({{480, 970, left}}), exact).sound(0).channel, left);
}

TEST(KeysoundStates, NotesSoundUntilTheirNoteOffThePedalsReleaseOrTheirKeysNextStrike)
{
    struct Case {
        const char* name;
        std::vector<TimedEvent> events;
        std::vector<std::pair<std::int64_t, std::int64_t>> lengthAndSounding;  // per note start
    };
    const std::vector<Case> cases = {
        {"plain notes", {on(0, 60), off(480, 60), on(480, 62), off(720, 62)}, {{480, 480}, {240, 240}}},
        {"held by the pedal until it is lifted",
         {control(0, 64, 127), on(0, 60), off(240, 60), on(240, 62), control(600, 64, 0), off(960, 62)},
         {{240, 600}, {720, 720}}},
        {"the pedal on another channel holds nothing",
         {control(0, 64, 127, 1), on(0, 60), off(240, 60)}, {{240, 240}}},
        {"struck again: the first voice ends at the strike, the next at the first note-off",
         {on(0, 60), on(240, 60), off(480, 60), off(720, 60)}, {{480, 240}, {480, 240}}},
        {"struck again under the pedal, both ring until it is lifted",
         {control(0, 64, 100), on(0, 60), off(100, 60), on(300, 60), off(400, 60), control(900, 64, 0)},
         {{100, 900}, {100, 600}}},
        {"held and struck again under the pedal",
         {control(0, 64, 100), on(0, 60), on(300, 60), off(400, 60), off(500, 60), control(900, 64, 0)},
         {{400, 900}, {200, 600}}},
        {"Reset All Controllers lifts the pedal but releases nothing",
         {control(0, 64, 127), on(0, 60), off(100, 60), control(200, 121, 0), on(300, 62), off(400, 62),
          control(960, 7, 100)},
         {{100, 960}, {100, 100}}},
        {"All Notes Off releases unless the pedal holds",
         {on(0, 60), on(0, 64), control(300, 123, 0), control(960, 7, 100)}, {{960, 300}, {960, 300}}},
        {"unended notes end with the track", {on(0, 60), control(700, 7, 90)}, {{700, 700}}},
        {"notes 0 and 127 make no note", {on(0, 0), on(0, 127), on(10, 61), off(20, 61), off(30, 0)}, {{10, 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = oneTrackSong(c.events);
        const auto starts = keysound::readNoteStarts(file, summaryOf(file), 1);
        ASSERT_EQ(starts.notes.size(), c.lengthAndSounding.size());
        for (std::size_t i = 0; i < starts.notes.size(); ++i) {
            EXPECT_EQ(starts.notes[i].lengthTicks, c.lengthAndSounding[i].first) << "note " << i;
            EXPECT_EQ(starts.notes[i].soundingTicks, c.lengthAndSounding[i].second) << "note " << i;
        }
    }
}

// A kit whose hi-hats (42 closed, 44 pedal, 46 open) are one choke group, and a melodic
// program 5 whose keys from 60 up are another, numbered past 127 as a soundfont may.
keysound::ExclusiveClasses hiHatGroups()
{
    keysound::ExclusiveClasses classes;
    keysound::ExclusiveClasses::KeyClasses kit{};
    kit[42] = kit[44] = kit[46] = 1;
    classes.setPreset(keysound::kDrumKitBank, 0, kit);
    keysound::ExclusiveClasses::KeyClasses melodic{};
    std::fill(melodic.begin() + 60, melodic.end(), 300);
    classes.setPreset(0, 5, melodic);
    return classes;
}

// A note of a choke group silences what its channel still sounds of the group, rung out or not:
// chokeTicks from the earlier note's start to the choking note (-1 for none).
TEST(KeysoundStates, AChokeGroupSilencesTheEarlierNotesOfItsGroupOnItsChannel)
{
    constexpr int kDrums = 9;
    struct Case {
        const char* name;
        std::vector<TimedEvent> events;
        std::vector<std::int64_t> chokes;  // per note start
    };
    const std::vector<Case> cases = {
        {"open and closed hat alternating in eighths",
         {on(0, 46, 100, kDrums), off(10, 46, kDrums), on(240, 42, 100, kDrums), off(250, 42, kDrums),
          on(480, 46, 100, kDrums), off(490, 46, kDrums), on(720, 42, 100, kDrums), off(730, 42, kDrums)},
         {240, 240, 240, -1}},
        {"a snare between chokes nothing",
         {on(0, 46, 100, kDrums), on(240, 38, 100, kDrums), off(480, 38, kDrums)},
         {-1, -1}},
        {"struck together, the hats sound together", {on(0, 46, 100, kDrums), on(0, 42, 100, kDrums)}, {-1, -1}},
        {"the open hat struck again chokes its earlier strike",
         {on(0, 46, 100, kDrums), on(480, 46, 100, kDrums)},
         {480, -1}},
        {"the kit's keys on a melodic channel are no group",
         {on(0, 46), off(10, 46), on(240, 42), off(250, 42)},
         {-1, -1}},
        {"another channel's hat chokes nothing", {on(0, 46, 100, kDrums), on(240, 42, 100, 10)}, {-1, -1}},
        {"a melodic program's group",
         {{0, 0xC0, 5, 0}, on(0, 64), off(100, 64), on(300, 70), off(400, 70), on(500, 50), off(600, 50)},
         {300, -1, -1}},
    };
    const auto classes = hiHatGroups();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = oneTrackSong(c.events);
        const auto starts = keysound::readNoteStarts(file, summaryOf(file), 1, &classes);
        ASSERT_EQ(starts.notes.size(), c.chokes.size());
        for (std::size_t i = 0; i < starts.notes.size(); ++i) {
            EXPECT_EQ(starts.notes[i].chokeTicks, c.chokes[i]) << "note " << i;
        }
        for (const auto& note : keysound::readNoteStarts(file, summaryOf(file), 1).notes) {
            EXPECT_EQ(note.chokeTicks, keysound::NoteStart::kNotChoked);  // no soundfont, no groups
        }
    }
}

// A choked note is a keysound of its own, named by its length up to the choke ("-c" and 1/192
// measure: 240 ticks of 1920 are 24), and rendered up to it; a choke later than a sound lasts
// makes none.
TEST(KeysoundStates, AChokedNoteIsAKeysoundUpToItsChoke)
{
    constexpr int kDrums = 9;
    const Bytes file = oneTrackSong({on(0, 46, 100, kDrums), on(240, 42, 100, kDrums), on(480, 46, 100, kDrums),
                                     on(20000, 42, 100, kDrums), off(20100, 42, kDrums)});
    const auto classes = hiHatGroups();
    const auto summary = summaryOf(file);
    const StateMerge merge{0, 0, 1920, false, song::Timeline(summary), 500000};
    const KeysoundStates states(keysound::readNoteStarts(file, summary, 1, &classes), merge);
    const std::vector<std::string> suffixes{"-c24", "-c24", "", ""};  // the choke 19,520 ticks (20 s) on is too late
    for (std::size_t i = 0; i < suffixes.size(); ++i) {
        SCOPED_TRACE(i);
        const auto variant = states.variantOf(i);
        EXPECT_EQ(states.suffixOf(variant), suffixes[i]);
        EXPECT_EQ(states.sound(variant).cutTicks,
                  suffixes[i].empty() ? std::nullopt : std::optional<std::int64_t>(240));
    }
}

// A player cuts a keysound struck again; a cymbal rings on over its next strike in the song. So a
// cymbal struck again within kCymbalRingSeconds takes turns with a second file of its sound.
TEST(KeysoundStates, ACymbalStruckAgainWhileItRingsTakesASecondFile)
{
    constexpr int kDrums = 9;
    struct Case {
        const char* name;
        std::vector<TimedEvent> events;  // 120 BPM, 480 ticks a beat
        std::vector<std::string> suffixes;
    };
    const std::vector<Case> cases = {
        {"a crash every beat",
         {on(0, 49, 100, kDrums), on(480, 49, 100, kDrums), on(960, 49, 100, kDrums)},
         {"", "-r2", ""}},
        {"a ride in eighths",
         {on(0, 51, 90, kDrums), on(240, 51, 90, kDrums), on(480, 51, 90, kDrums)},
         {"", "-r2", ""}},
        {"a crash every three seconds has rung out", {on(0, 49, 100, kDrums), on(2880, 49, 100, kDrums)}, {"", ""}},
        {"another velocity is another keysound", {on(0, 49, 100, kDrums), on(480, 49, 60, kDrums)}, {"", ""}},
        {"a kick is no cymbal", {on(0, 36, 100, kDrums), on(480, 36, 100, kDrums)}, {"", ""}},
        {"a piano's note 49 is no cymbal", {on(0, 49), off(100, 49), on(480, 49), off(580, 49)}, {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = oneTrackSong(c.events);
        const auto summary = summaryOf(file);
        const StateMerge merge{0, 0, 1920, false, song::Timeline(summary), 500000};
        const auto starts = keysound::readNoteStarts(file, summary, 1);
        ASSERT_EQ(starts.notes.size(), c.suffixes.size());
        const KeysoundStates states(starts, merge);
        for (std::size_t i = 0; i < c.suffixes.size(); ++i) {
            EXPECT_EQ(states.suffixOf(states.variantOf(i)), c.suffixes[i]) << "note " << i;
        }
    }
}

// A first track that sets the channel up, and a pedal another track presses, reach the chosen
// track's notes as they do when the song plays whole.
TEST(KeysoundStates, OtherTracksControlsOnTheChannelCount)
{
    const Bytes file = midiFile(1, 480, {eventTrack({control(0, 7, 50), control(0, 10, 20), control(0, 7, 90, 1),
                                                     control(300, 64, 127)}),
                                         eventTrack({on(0, 60), off(240, 60), on(480, 62), off(600, 62),
                                                     control(960, 11, 127)},
                                                    0)});
    const auto starts = keysound::readNoteStarts(file, summaryOf(file), 2);
    ASSERT_EQ(starts.notes.size(), 2u);
    const auto& first = starts.states[starts.notes[0].state];
    EXPECT_EQ(first.volume, 50);
    EXPECT_EQ(first.pan, 20);
    EXPECT_EQ(starts.notes[1].lengthTicks, 120);
    EXPECT_EQ(starts.notes[1].soundingTicks, 480);  // held by the pedal until the track ends
}

}  // namespace
}  // namespace zentrowe::testing
