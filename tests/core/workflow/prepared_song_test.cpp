#include "core/workflow/prepared_song.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/base/file_reading.h"
#include "core/convert/chart_generator.h"
#include "core/keysound/keysound_instruments.h"
#include "support/build_request.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using song::ChannelInstrument;

TimedEvent program(std::int64_t time, int number, int channel = 0)
{
    return {time, static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(number), 0};
}

// The song `file` prepared for a build charting `parts`.
workflow::PreparedSong prepared(const TempDir& dir, const Bytes& file, std::vector<song::TrackPart> parts)
{
    auto request = wavBuildRequest(file, dir.path() / "song.mid", dir.path() / "out");
    request.conversion.trackNumber = parts.front().trackNumber;
    request.conversion.channel = parts.front().channel;
    request.conversion.moreParts.assign(parts.begin() + 1, parts.end());
    return workflow::prepareSong(request, file);
}

TEST(PreparedSong, EachNoteStartsWithTheInstrumentItsChannelHolds)
{
    // 96 ticks a quarter. General MIDI: controller 0 selects the bank, controller 32 its LSB,
    // which a synthesiser adds below it; the drum channel (10) takes its kit by program alone.
    struct Case {
        const char* name;
        std::vector<Bytes> tracks;
        std::vector<song::TrackPart> parts;
        std::vector<ChannelInstrument> expected;        // per note start, in time order
        std::vector<ChannelInstrument> keysounds = {};  // per keysound (note, length, velocity); none: as expected
    };
    const std::vector<Case> cases = {
        {"a program change", {eventTrack({program(0, 33), on(0, 40), off(96, 40)})}, {{1, 0}}, {{0, 33, false}}},
        {"a bank select, then programs",
         {eventTrack(
             {control(0, 0, 8), program(0, 33), on(0, 40), off(96, 40), program(96, 34), on(96, 43), off(192, 43)})},
         {{1, 0}},
         {{8, 33, false}, {8, 34, false}}},
        {"a bank select on the drum channel selects nothing",
         {eventTrack({control(0, 0, 8, 9), program(0, 5, 9), on(0, 36, 100, 9), off(96, 36, 9)})},
         {{1, 0}},
         {{0, 5, true}}},
        {"the bank's LSB alone leaves the bank",
         {eventTrack({control(0, 32, 3), on(0, 40), off(96, 40)})},
         {{1, 0}},
         {{0, 0, false}}},
        {"a program change after a note's start is the next note's",
         {eventTrack({on(0, 40), program(48, 7), off(96, 40), on(96, 41), off(192, 41)})},
         {{1, 0}},
         {{0, 0, false}, {0, 7, false}}},
        {"another track's program change on the channel counts",
         {eventTrack({program(0, 20), control(0, 0, 2, 9)}), eventTrack({on(0, 40), off(96, 40)})},
         {{2, 0}},
         {{0, 20, false}}},
        {"channels of two parts keep their own",
         {eventTrack({program(0, 11), program(0, 12, 1), on(0, 40), on(48, 41, 100, 1), off(96, 40), off(96, 41, 1)})},
         {{1, 2}, {1, 1}},
         {{0, 11, false}, {0, 12, false}}},
        {"a keysound struck again after a program change keeps its first note's",
         {eventTrack({program(0, 3), on(0, 40), off(96, 40), program(96, 7), on(96, 40), off(192, 40)})},
         {{1, 0}},
         {{0, 3, false}, {0, 7, false}},
         {{0, 3, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto ready = prepared(dir, midiFile(1, 96, c.tracks), c.parts);
        std::vector<ChannelInstrument> instruments;
        for (const auto& note : ready.notes.notes) {
            instruments.push_back(song::instrumentOf(ready.notes.states[note.state], note.channel));
        }
        EXPECT_EQ(instruments, c.expected);
        // A keysound per note, length and velocity: its instrument is that of its first note.
        convert::KeysoundTable table;
        for (const auto& note : ready.notes.notes) {
            ASSERT_TRUE(table.findOrAdd(note.note, note.lengthTicks, note.velocity, note.startTick));
        }
        EXPECT_EQ(keysound::keysoundInstruments(ready.notes, table, false),
                  c.keysounds.empty() ? c.expected : c.keysounds);
    }
}

TEST(PreparedSong, KeysoundsGetTheInstrumentsAndStatesTheSongsOwnWalkGives)
{
    // Songs whose tracks set their own channels: the prepared notes give each keysound the
    // instrument and state the walks over the bytes give it, choked by the same soundfont.
    const auto demo = std::filesystem::path(ZENTROWE_TEST_DATA) / ".." / ".." / "data" / "demo" / "ode-to-joy.mid";
    const auto demoBytes = readFileBytes(demo);
    ASSERT_TRUE(demoBytes.ok()) << demoBytes.error().message;
    const Bytes demoFile(demoBytes->bytes().begin(), demoBytes->bytes().end());
    const Bytes twoChannels =
        midiFile(1, 96,
                 {eventTrack({control(0, 0, 8), program(0, 33), program(0, 12, 1), on(0, 40), on(0, 41, 90, 1),
                              off(96, 40), program(96, 34), on(96, 40), off(150, 41, 1), off(192, 40),
                              on(192, 41, 90, 1), off(288, 41, 1)})});
    struct Case {
        const char* name;
        const Bytes* file;
        std::vector<song::TrackPart> parts;
        bool percussion;
    };
    const std::vector<Case> cases = {
        {"the demo's melody", &demoFile, {{2, 0}}, false},
        {"the demo's bass and drums", &demoFile, {{3, 0}, {4, 0}}, false},
        {"the demo's drums in percussion mode", &demoFile, {{4, 0}}, true},
        {"two channels of a track", &twoChannels, {{1, 2}, {1, 1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto ready = prepared(dir, *c.file, c.parts);
        const auto summary = summaryOf(*c.file);
        convert::ConversionSettings settings;
        settings.percussion = c.percussion;
        NullProgress quiet;
        const auto chart = convert::generateChart(*c.file, summary, c.parts, settings, quiet);
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        ASSERT_FALSE(chart->keysounds.empty());
        EXPECT_EQ(keysound::keysoundInstruments(ready.notes, chart->keysounds, c.percussion),
                  keysound::keysoundInstruments(*c.file, summary, c.parts, chart->keysounds, c.percussion));
        const keysound::KeysoundStates fromPrepared(ready.notes, keysound::stateMerge(settings, summary));
        const auto fromBytes = keysound::readKeysoundStates(*c.file, summary, c.parts, settings, ready.groups());
        ASSERT_EQ(fromPrepared.variantCount(), fromBytes.variantCount());
        for (std::uint32_t k = 0; k < fromBytes.variantCount(); ++k) {
            EXPECT_EQ(fromPrepared.state(k), fromBytes.state(k)) << k;
        }
        for (std::uint64_t start = 0; start < ready.notes.notes.size(); ++start) {
            EXPECT_EQ(fromPrepared.variantOf(start), fromBytes.variantOf(start)) << start;
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
