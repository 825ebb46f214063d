#include "core/workflow/prepared_song.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/audio/song_sequence.h"
#include "core/base/file_reading.h"
#include "core/convert/chart_generator.h"
#include "core/keysound/keysound_instruments.h"
#include "core/song/song_events.h"
#include "core/workflow/song_parts.h"
#include "support/build_request.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using song::ChannelInstrument;

using EventFields = std::tuple<std::int64_t, std::uint8_t, std::uint8_t, std::uint8_t>;
using StartFields = std::tuple<std::int64_t, std::int64_t, std::int64_t, std::uint8_t, std::uint8_t, std::uint8_t,
                               std::int64_t, song::ChannelState>;

std::vector<EventFields> fieldsOf(std::span<const audio::TimedEvent> events)
{
    std::vector<EventFields> out;
    for (const auto& event : events) {
        out.emplace_back(event.frame, event.status, event.data1, event.data2);
    }
    return out;
}

// Each note start with the channel state it starts with.
std::vector<StartFields> fieldsOf(const keysound::TrackNoteStarts& starts)
{
    std::vector<StartFields> out;
    for (const auto& note : starts.notes) {
        out.emplace_back(note.startTick, note.lengthTicks, note.soundingTicks, note.channel, note.note, note.velocity,
                         note.chokeTicks, starts.states[note.state]);
    }
    return out;
}

TimedEvent program(std::int64_t time, int number, int channel = 0)
{
    return {time, static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(number), 0};
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
        const auto ready = preparedSong(midiFile(1, 96, c.tracks), dir.path(), c.parts);
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
        const auto ready = preparedSong(*c.file, dir.path(), c.parts);
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

TEST(PreparedSong, HoldsWhatTheBgmStepsReadOfTheOtherPartsAsTheBytesGiveIt)
{
    // 96 ticks a quarter. Track 1 sets up channel 2 for track 2 (a guitar, held by the pedal);
    // track 3 plays drums and a piano note; track 4 sends a controller, then a text long after;
    // track 5 holds the tempo alone.
    const std::vector<Bytes> tracks = {
        eventTrack({program(0, 25, 1), control(0, 7, 90, 1), on(0, 60), off(96, 60), on(96, 62), off(192, 62)}),
        eventTrack({control(0, 64, 127, 1), on(0, 64, 100, 1), off(48, 64, 1), on(96, 67, 80, 1),
                    control(150, 64, 0, 1), off(200, 67, 1)},
                   0),
        eventTrack({on(0, 36, 110, 9), off(10, 36, 9), on(96, 62, 100, 0), off(140, 62, 0), on(384, 38, 90, 9),
                    off(390, 38, 9)},
                   0),
        bytes({0x83, 0x74, 0xB3, 0x0A, 0x14, 0x83, 0x10, 0xFF, 0x01, 0x01, 0x78, 0x00, 0xFF, 0x2F, 0x00}),
        eventTrack({}),
    };
    const Bytes song = midiFile(1, 96, tracks);
    Bytes cutShort = song;  // the file ends inside track 4, after its controller: track 5 is never read
    cutShort.resize(song.size() - trackChunk(tracks[4]).size() - 9);
    // Track 3's last event, a text, claims more bytes than its track holds.
    const Bytes damaged = midiFile(
        1, 96,
        {tracks[0], tracks[2], bytes({0x00, 0x91, 0x40, 0x64, 0x60, 0x81, 0x40, 0x40, 0x00, 0xFF, 0x01, 0x7F, 0x61})});
    struct Case {
        const char* name;
        const Bytes* file;
        std::vector<song::TrackPart> parts;
    };
    const std::vector<Case> cases = {
        {"a whole track charted", &song, {{1, 0}}},
        {"a channel of a track charted: its other channel plays on", &song, {{3, 10}}},
        {"two parts, one of them a channel", &song, {{2, 0}, {3, 1}}},
        {"every channel of a track charted part by part", &song, {{3, 1}, {3, 10}}},
        {"a file that ends inside a track", &cutShort, {{1, 0}}},
        {"a track whose bytes are damaged", &damaged, {{1, 0}}},
        {"the damaged track charted", &damaged, {{3, 0}}},
    };
    const workflow::BgmMode modes[] = {workflow::BgmMode::None, workflow::BgmMode::Slices, workflow::BgmMode::One,
                                       workflow::BgmMode::Keysounds};
    for (const auto& c : cases) {
        const auto summary = summaryOf(*c.file);
        for (const auto bgm : modes) {
            SCOPED_TRACE(std::string(c.name) + ", BGM mode " + std::to_string(static_cast<int>(bgm)));
            TempDir dir;
            const auto ready = preparedSong(*c.file, dir.path(), c.parts, bgm);
            // The BGM: the parts not charted, as the whole song's walk sequences them.
            const auto otherParts = bgm == workflow::BgmMode::None
                                        ? std::vector<audio::TimedEvent>()
                                        : audio::sequenceOtherParts(*c.file, summary, c.parts);
            EXPECT_EQ(fieldsOf(ready.otherParts), fieldsOf(otherParts));
            // Where each track's own sequence ends, at the frame its last event takes.
            std::vector<std::optional<std::int64_t>> endFrames;
            std::vector<std::optional<std::int64_t>> sequenceEnds;
            for (std::size_t k = 0; k < ready.trackEndTicks.size(); ++k) {
                const std::int64_t tick = ready.trackEndTicks[k];
                endFrames.push_back(tick < 0 ? std::nullopt
                                             : std::optional(ready.timeline.frame(tick, audio::kSampleRate)));
            }
            for (int track = 1; bgm == workflow::BgmMode::One && track <= static_cast<int>(summary.tracks.size());
                 ++track) {
                const song::TrackPart whole[] = {{track, 0}};
                const auto events = audio::sequenceParts(*c.file, summary, whole);
                sequenceEnds.push_back(events.empty() ? std::nullopt : std::optional(events.back().frame));
            }
            EXPECT_EQ(endFrames, sequenceEnds);
            // The other tracks' notes, each track read alone as the background keysounds read it.
            std::vector<std::pair<int, std::vector<StartFields>>> held;
            std::vector<std::pair<int, std::vector<StartFields>>> read;
            for (const auto& track : ready.otherTracks) {
                held.emplace_back(track.trackNumber, fieldsOf(track.starts));
            }
            for (int track = 1; bgm == workflow::BgmMode::Keysounds && track <= static_cast<int>(summary.tracks.size());
                 ++track) {
                const bool whole = std::any_of(c.parts.begin(), c.parts.end(), [&](const song::TrackPart& part) {
                    return part.trackNumber == track && part.channel == 0;
                });
                if (!whole) {
                    read.emplace_back(track, fieldsOf(keysound::readNoteStarts(*c.file, summary, track)));
                }
            }
            EXPECT_EQ(held, read);
            // The lanes' notes strike the keys each part's track, read alone, strikes on its channels.
            std::set<std::tuple<std::int64_t, int, int>> laneKeys;
            std::set<std::tuple<std::int64_t, int, int>> partKeys;
            for (const auto& note : ready.notes.notes) {
                laneKeys.emplace(note.startTick, note.channel, note.note);
            }
            for (const auto& part : c.parts) {
                for (const auto& note : keysound::readNoteStarts(*c.file, summary, part.trackNumber).notes) {
                    if (part.takes(note.channel)) {
                        partKeys.emplace(note.startTick, note.channel, note.note);
                    }
                }
            }
            EXPECT_EQ(laneKeys, partKeys);
        }
    }
}

TEST(PreparedSong, ChoosingAndPreparingFromEventsDecodedOnceNeverWalkTheBytesAgain)
{
    // 96 ticks a quarter. Track 1 names the song; track 2 sets up channel 2 for track 3, which
    // also plays drums. No delta or data byte lies between 0x90 and 0x9F.
    const Bytes song = midiFile(
        1, 96,
        {bytes({0x00, 0xFF, 0x03, 0x02, 'H', 'i', 0x10, 0xB3, 0x0A, 0x14, 0x00, 0xFF, 0x2F, 0x00}),
         eventTrack({program(0, 25, 1), control(0, 7, 90, 1), on(0, 60), off(96, 60), on(96, 62), off(192, 62)}),
         eventTrack({control(0, 64, 127, 1), on(0, 64, 100, 1), off(48, 64, 1), on(96, 36, 110, 9), off(106, 36, 9)},
                    0)});
    const auto fieldsOfSong = [](const workflow::PreparedSong& p) {
        std::vector<std::pair<int, std::vector<StartFields>>> otherTracks;
        for (const auto& track : p.otherTracks) {
            otherTracks.emplace_back(track.trackNumber, fieldsOf(track.starts));
        }
        return std::tuple(p.sourceSize, p.parts, p.credits.title, p.credits.artist,
                          std::vector<song::PartNote>(p.partNotes.begin(), p.partNotes.end()), p.partNotes.lastTime(),
                          fieldsOf(p.notes), fieldsOf(p.otherParts), p.trackEndTicks, otherTracks);
    };
    for (const auto bgm : {workflow::BgmMode::None, workflow::BgmMode::One, workflow::BgmMode::Keysounds}) {
        SCOPED_TRACE("BGM mode " + std::to_string(static_cast<int>(bgm)));
        TempDir dir;
        const auto request = partsBuildRequest(song, dir.path(), {{3, 2}, {2, 0}}, bgm);
        Bytes file = song;
        const song::SongEvents decoded = song::decodeSong(file, request.conversion.song);
        for (auto& byte : file) {  // every Note On now a Note Off: a walk of the bytes finds no note
            byte = (byte & 0xF0) == 0x90 ? static_cast<std::uint8_t>(byte & 0xEF) : byte;
        }
        const auto fromBytes = workflow::prepareSong(request, song);
        EXPECT_EQ(fieldsOfSong(workflow::prepareSong(request, decoded)), fieldsOfSong(fromBytes));
        EXPECT_EQ(fromBytes.credits.title, "Hi");
        workflow::SongParts fromDecoded(decoded, request.conversion.song);
        workflow::SongParts parts(song, request.conversion.song);
        ASSERT_EQ(fromDecoded.rows().size(), 3u) << "track 2's channel 1, track 3's channels 2 and 10";
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(fromDecoded.rows()[k].noteCount, parts.rows()[k].noteCount);
            EXPECT_EQ(fromDecoded.noteStarts(parts.rows()[k].part), parts.noteStarts(parts.rows()[k].part));
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
