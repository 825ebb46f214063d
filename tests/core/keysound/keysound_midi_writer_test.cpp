#include "core/keysound/keysound_midi_writer.h"

#include <gtest/gtest.h>

#include "core/keysound/keysound_cuts.h"
#include "core/keysound/keysound_instruments.h"
#include "core/song/song_summary.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using keysound::encodeVarLen;

// "K-Midi.mid" of a table the writer accepts.
Bytes midiOf(const convert::KeysoundTable& table, std::int32_t ticksPerQuarter, std::array<std::uint8_t, 3> tempo,
             std::int32_t gap, std::span<const keysound::KeysoundInstrument> instruments = {})
{
    auto file = keysound::buildKeysoundMidi(table, instruments, ticksPerQuarter, tempo, gap);
    EXPECT_TRUE(file.ok()) << file.error().message;
    return file.ok() ? std::move(file).value() : Bytes{};
}

convert::KeysoundTable tableOf(const std::vector<std::tuple<int, std::int64_t, int>>& keysounds)
{
    convert::KeysoundTable table;
    std::int64_t time = 0;
    for (const auto& [note, duration, velocity] : keysounds) {
        EXPECT_TRUE(table.findOrAdd(static_cast<std::uint8_t>(note), duration, static_cast<std::uint8_t>(velocity), time));
        time += 1000;
    }
    return table;
}

TEST(KeysoundMidi, VariableLengthQuantities)
{
    struct Case {
        std::uint64_t value;
        Bytes encoded;
    };
    for (const auto& c : std::vector<Case>{{0, {0x00}},
                                           {100, {0x64}},
                                           {127, {0x7F}},
                                           {128, {0x81, 0x00}},
                                           {200, {0x81, 0x48}},
                                           {16383, {0xFF, 0x7F}},
                                           {16384, {0x81, 0x80, 0x00}},
                                           {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
                                           {268435456, {0x81, 0x80, 0x80, 0x80, 0x00}}}) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(encodeVarLen(c.value), c.encoded);
    }
}

TEST(KeysoundMidi, LongBytesAreBigEndian)
{
    EXPECT_EQ(keysound::encodeLongBytes(500000), (std::array<std::uint8_t, 4>{0x00, 0x07, 0xA1, 0x20}));
    EXPECT_EQ(keysound::encodeLongBytes(0x01020304), (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(keysound::encodeLongBytes(0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST(KeysoundMidi, DurationsScaleTo96TicksPerQuarterRoundingHalfToEven)
{
    struct Case {
        std::int32_t ticksPerQuarter;
        std::int64_t duration;
        std::uint64_t scaled;
    };
    for (const auto& c : std::vector<Case>{{192, 1, 0}, {192, 3, 2}, {192, 5, 2}, {480, 12, 2}, {480, 13, 3},
                                           {480, 100, 20}, {96, 0, 0}, {96, 777, 777}, {48, 7, 14}}) {
        SCOPED_TRACE(std::to_string(c.ticksPerQuarter) + " " + std::to_string(c.duration));
        EXPECT_EQ(keysound::keysoundMidiDuration(c.duration, c.ticksPerQuarter), c.scaled);
    }
}

Bytes header(std::uint32_t trackLength)
{
    Bytes out = bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 0x60, 'M', 'T', 'r', 'k'});
    appendU32be(out, trackLength);
    return out;
}

TEST(KeysoundMidi, RefusesAKeysoundLongerThanADeltaTime)
{
    // At 96 ticks per quarter a duration is written as it is: 2^28 - 1 takes the four bytes a
    // delta time may have; 2^28 would take five and is refused, naming the tick of its note, as
    // is a duration so long that scaling it would overflow.
    const auto longest = keysound::buildKeysoundMidi(tableOf({{60, (1 << 28) - 1, 100}}), {}, 96, {0x07, 0xA1, 0x20}, 0);
    ASSERT_TRUE(longest.ok());
    ASSERT_GE(longest->size(), 13u);
    EXPECT_EQ(Bytes(longest->end() - 13, longest->end()),
              bytes({0x90, 60, 100, 0xFF, 0xFF, 0xFF, 0x7F, 60, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
    for (const std::int64_t duration : {std::int64_t{1} << 28, std::int64_t{1} << 40, INT64_MAX}) {
        SCOPED_TRACE(duration);
        // The second keysound's first note starts at tick 1000.
        const auto refused =
            keysound::buildKeysoundMidi(tableOf({{60, 96, 100}, {62, duration, 100}}), {}, 96, {0x07, 0xA1, 0x20}, 100);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().code, ErrorCode::NoteTooLong);
        EXPECT_NE(refused.error().message.find("tick 1000 "), std::string::npos) << refused.error().message;
    }
}

TEST(KeysoundMidi, OneKeysoundLayout)
{
    // TicksPerQuarter 480: 480 ticks become 96.
    const auto file = midiOf(tableOf({{60, 480, 100}}), 480, {0x07, 0xA1, 0x20}, 100);
    Bytes expected = header(7 + 4 + 3 + 1 + 3 + 1 + 2 + 1 + 3);
    append(expected, bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,                   // tempo
                            0x00, 0xB0, 0x00, 0x00, 0x00, 0xC0, 0x00,                   // bank 0, program 0
                            0x64, 0x90, 60, 100, 0x60, 60, 0x00,                         // gap, note
                            0x64, 0xFF, 0x2F, 0x00}));                                  // gap, end of track
    EXPECT_EQ(file, expected);
}

TEST(KeysoundMidi, LaterKeysoundsUseRunningStatusAndLongQuantitiesGrowTheTrack)
{
    // Gap 200 takes two bytes, a duration of 200 (TicksPerQuarter 96) two more.
    const auto file = midiOf(tableOf({{60, 48, 100}, {62, 200, 90}, {64, 0, 80}}), 96, {0x09, 0x89, 0x68}, 200);
    Bytes events = bytes({0x00, 0xFF, 0x51, 0x03, 0x09, 0x89, 0x68, 0x00, 0xB0, 0x00, 0x00, 0x00, 0xC0, 0x00,
                          0x81, 0x48, 0x90, 60, 100, 0x30, 60, 0x00,
                          0x81, 0x48, 62, 90, 0x81, 0x48, 62, 0x00,
                          0x81, 0x48, 64, 80, 0x00, 64, 0x00,
                          0x81, 0x48, 0xFF, 0x2F, 0x00});
    Bytes expected = header(static_cast<std::uint32_t>(events.size()));
    append(expected, events);
    EXPECT_EQ(file, expected);
}

TEST(KeysoundMidi, EachKeysoundPlaysWithItsInstrumentAndTheNotesKeepTheirTimes)
{
    // A bass (bank 0, program 33) twice, a kit strike on channel 10, a variation bank's bass: a
    // bank select and program change open the gap of every keysound whose instrument differs,
    // and its Note On names the channel again.
    using keysound::KeysoundInstrument;
    const std::vector<KeysoundInstrument> instruments = {{0, 33, false}, {0, 33, false}, {0, 0, true}, {8, 33, false}};
    const auto table = tableOf({{40, 96, 100}, {43, 96, 90}, {36, 96, 127}, {40, 48, 100}});
    const auto file = midiOf(table, 96, {0x07, 0xA1, 0x20}, 100, instruments);
    Bytes events = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
                          0x00, 0xB0, 0x00, 0x00, 0x00, 0xC0, 33,  0x64, 0x90, 40, 100, 0x60, 40, 0x00,
                          0x64, 43, 90, 0x60, 43, 0x00,
                          0x00, 0xB9, 0x00, 0x00, 0x00, 0xC9, 0x00, 0x64, 0x99, 36, 127, 0x60, 36, 0x00,
                          0x00, 0xB0, 0x00, 0x08, 0x00, 0xC0, 33,  0x64, 0x90, 40, 100, 0x30, 40, 0x00,
                          0x64, 0xFF, 0x2F, 0x00});
    Bytes expected = header(static_cast<std::uint32_t>(events.size()));
    append(expected, events);
    EXPECT_EQ(file, expected);

    // The program changes move no note: the cuts are those of the file without them.
    TempDir dir;
    writeFile(dir / "with.mid", file);
    writeFile(dir / "without.mid", midiOf(table, 96, {0x07, 0xA1, 0x20}, 100));
    NullProgress quiet;
    const auto with = keysound::readBackKeysoundFile(dir / "with.mid", 100, quiet);
    const auto without = keysound::readBackKeysoundFile(dir / "without.mid", 100, quiet);
    ASSERT_TRUE(with.ok() && without.ok());
    EXPECT_EQ(with->cuts, without->cuts);
    EXPECT_EQ(with->cuts.size(), 4u);
    // Read from the bytes the writer holds, rather than the file, the same.
    const auto held = keysound::readBackKeysoundBytes(file, "with.mid", 100, quiet);
    ASSERT_TRUE(held.ok());
    EXPECT_EQ(held->cuts, with->cuts);
    EXPECT_EQ(held->song.tracks.size(), with->song.tracks.size());
    EXPECT_EQ(held->song.ticksPerQuarter, with->song.ticksPerQuarter);
}

TEST(KeysoundMidi, InstrumentsAreThoseInForceAtEachKeysoundsFirstNote)
{
    // Channel 1: bank 8 program 33, then program 34 before the second note; channel 10: a kit
    // strike. In percussion mode every keysound is the kit's.
    Bytes events = bytes({0x00, 0xB0, 0x00, 0x08, 0x00, 0xC0, 33, 0x00, 0x90, 40, 100, 0x60, 0x80, 40, 0x00,
                          0x00, 0xC0, 34, 0x00, 0x90, 43, 100, 0x60, 0x80, 43, 0x00,
                          0x00, 0xC9, 0x05, 0x00, 0x99, 36, 100, 0x60, 0x89, 36, 0x00});
    append(events, kEndOfTrack);
    TempDir dir;
    writeFile(dir / "song.mid", midiFile(1, 96, {events}));
    NullProgress quiet;
    const auto summary = song::readSongSummary(dir / "song.mid", quiet);
    ASSERT_TRUE(summary.ok());
    const Bytes file = readFile(dir / "song.mid");
    convert::KeysoundTable table;
    ASSERT_TRUE(table.findOrAdd(40, 96, 100, 0) && table.findOrAdd(43, 96, 100, 96) && table.findOrAdd(36, 96, 100, 192));
    ASSERT_TRUE(table.findOrAdd(50, 96, 100, 5000));  // no such note: program 0
    using keysound::KeysoundInstrument;
    struct Case {
        bool percussion;
        std::vector<KeysoundInstrument> expected;
    };
    for (const auto& c : std::vector<Case>{
             {false, {{8, 33, false}, {8, 34, false}, {0, 5, true}, {0, 0, false}}},
             {true, {{0, 0, true}, {0, 0, true}, {0, 5, true}, {0, 0, true}}}}) {
        SCOPED_TRACE(c.percussion);
        EXPECT_EQ(keysound::keysoundInstruments(file, *summary, 1, table, c.percussion), c.expected);
    }
}

TEST(KeysoundMidi, EmptyTableWritesOneSilentPairThatReadsBackAsNothing)
{
    TempDir dir;
    const auto file = midiOf(convert::KeysoundTable{}, 480, {0x07, 0xA1, 0x20}, 0);
    Bytes expected = header(7 + 7 + 1 + 1 + 2 + 1 + 2 + 1 + 3);
    append(expected, bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xB0, 0x00, 0x00, 0x00, 0xC0, 0x00,
                            0x00, 0x90, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0xFF, 0x2F, 0x00}));
    EXPECT_EQ(file, expected);

    writeFile(dir / "K-Midi.mid", file);
    NullProgress quiet;
    const auto readBack = keysound::readBackKeysoundFile(dir / "K-Midi.mid", 0, quiet);
    ASSERT_TRUE(readBack.ok());
    EXPECT_TRUE(readBack->cuts.empty());
}

TEST(KeysoundMidi, ReadBackMeasuresEveryKeysoundWithItsGap)
{
    // Durations 48, 96 and 24 ticks at 96 ticks per quarter, gap 100: the Note Ons lie at 100,
    // 248 and 444.
    TempDir dir;
    writeFile(dir / "K-Midi.mid", midiOf(tableOf({{60, 48, 100}, {62, 96, 100}, {64, 24, 100}}), 96,
                                                    {0x07, 0xA1, 0x20}, 100));
    NullProgress quiet;
    const auto readBack = keysound::readBackKeysoundFile(dir / "K-Midi.mid", 100, quiet);
    ASSERT_TRUE(readBack.ok());
    EXPECT_EQ(readBack->cuts, (keysound::CutList{{60, 148, 0}, {62, 196, 148}, {64, 24, 344}}));
    EXPECT_EQ(readBack->song.firstNoteTime, 100);
    EXPECT_EQ(readBack->song.ticksPerQuarter, 96);
    ASSERT_EQ(readBack->song.tracks.size(), 1u);
    EXPECT_EQ(readBack->song.tracks[0].noteCount, 3);
}

TEST(KeysoundMidi, EveryTableWrittenReadsBackAsItsKeysounds)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::tuple<int, std::int64_t, int>> keysounds;
        const int count = 1 + static_cast<int>(random() % 60);
        for (int k = 0; k < count; ++k) {
            keysounds.emplace_back(1 + static_cast<int>(random() % 126), static_cast<std::int64_t>(random() % 5000),
                                   1 + static_cast<int>(random() % 127));
        }
        const auto table = tableOf(keysounds);
        const std::int32_t gap = static_cast<std::int32_t>(random() % 400);
        const std::int32_t ticksPerQuarter = 24 + static_cast<std::int32_t>(random() % 1000);
        TempDir dir;
        writeFile(dir / "K-Midi.mid", midiOf(table, ticksPerQuarter, {0x07, 0xA1, 0x20}, gap));
        NullProgress quiet;
        const auto readBack = keysound::readBackKeysoundFile(dir / "K-Midi.mid", gap, quiet);
        ASSERT_TRUE(readBack.ok());
        ASSERT_EQ(readBack->cuts.size(), table.size());
        std::int64_t start = 0;
        for (std::size_t k = 0; k < table.size(); ++k) {
            const auto duration = static_cast<std::int64_t>(keysound::keysoundMidiDuration(table[k].duration, ticksPerQuarter));
            EXPECT_EQ(readBack->cuts[k].note, table[k].note);
            EXPECT_EQ(readBack->cuts[k].start, start);
            EXPECT_EQ(readBack->cuts[k].length, k + 1 == table.size() ? duration : duration + gap);
            start += duration + gap;
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
