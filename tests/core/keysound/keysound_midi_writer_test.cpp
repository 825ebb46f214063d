#include "core/keysound/keysound_midi_writer.h"

#include <gtest/gtest.h>

#include "core/keysound/keysound_cuts.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

using keysound::encodeVarLen;

// "K-Midi.mid" of a table the writer accepts.
Bytes midiOf(const convert::KeysoundTable& table, std::int32_t ticksPerQuarter, std::array<std::uint8_t, 3> tempo,
             std::int32_t gap)
{
    auto file = keysound::buildKeysoundMidi(table, ticksPerQuarter, tempo, gap);
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
    const auto longest = keysound::buildKeysoundMidi(tableOf({{60, (1 << 28) - 1, 100}}), 96, {0x07, 0xA1, 0x20}, 0);
    ASSERT_TRUE(longest.ok());
    ASSERT_GE(longest->size(), 13u);
    EXPECT_EQ(Bytes(longest->end() - 13, longest->end()),
              bytes({0x91, 60, 100, 0xFF, 0xFF, 0xFF, 0x7F, 60, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
    for (const std::int64_t duration : {std::int64_t{1} << 28, std::int64_t{1} << 40, INT64_MAX}) {
        SCOPED_TRACE(duration);
        // The second keysound's first note starts at tick 1000.
        const auto refused =
            keysound::buildKeysoundMidi(tableOf({{60, 96, 100}, {62, duration, 100}}), 96, {0x07, 0xA1, 0x20}, 100);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().code, ErrorCode::NoteTooLong);
        EXPECT_NE(refused.error().message.find("tick 1000 "), std::string::npos) << refused.error().message;
    }
}

TEST(KeysoundMidi, OneKeysoundLayout)
{
    // TicksPerQuarter 480: 480 ticks become 96.
    const auto file = midiOf(tableOf({{60, 480, 100}}), 480, {0x07, 0xA1, 0x20}, 100);
    Bytes expected = header(7 + 3 + 1 + 3 + 1 + 2 + 1 + 3);
    append(expected, bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC7, 0x00,  // tempo, program
                            0x64, 0x91, 60, 100, 0x60, 60, 0x00,                         // gap, note
                            0x64, 0xFF, 0x2F, 0x00}));                                  // gap, end of track
    EXPECT_EQ(file, expected);
}

TEST(KeysoundMidi, LaterKeysoundsUseRunningStatusAndLongQuantitiesGrowTheTrack)
{
    // Gap 200 takes two bytes, a duration of 200 (TicksPerQuarter 96) two more.
    const auto file = midiOf(tableOf({{60, 48, 100}, {62, 200, 90}, {64, 0, 80}}), 96, {0x09, 0x89, 0x68}, 200);
    Bytes events = bytes({0x00, 0xFF, 0x51, 0x03, 0x09, 0x89, 0x68, 0x00, 0xC7, 0x00,
                          0x81, 0x48, 0x91, 60, 100, 0x30, 60, 0x00,
                          0x81, 0x48, 62, 90, 0x81, 0x48, 62, 0x00,
                          0x81, 0x48, 64, 80, 0x00, 64, 0x00,
                          0x81, 0x48, 0xFF, 0x2F, 0x00});
    Bytes expected = header(static_cast<std::uint32_t>(events.size()));
    append(expected, events);
    EXPECT_EQ(file, expected);
}

TEST(KeysoundMidi, EmptyTableWritesOneSilentPairThatReadsBackAsNothing)
{
    TempDir dir;
    const auto file = midiOf(convert::KeysoundTable{}, 480, {0x07, 0xA1, 0x20}, 0);
    Bytes expected = header(7 + 3 + 1 + 1 + 2 + 1 + 2 + 1 + 3);
    append(expected, bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC7, 0x00,
                            0x00, 0x91, 0x00, 0x00, 0x00, 0x00, 0x00,
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
