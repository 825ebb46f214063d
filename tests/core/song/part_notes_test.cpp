#include "core/song/part_notes.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace zentrowe::song {
namespace {

using testing::Bytes;
using testing::bytes;
using testing::midiFile;

constexpr std::uint16_t kDivision = 480;

TEST(PartNotes, ReadsTheStartsAndEndsAConversionCharts)
{
    const Bytes oneNote = bytes({0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
    // Five deltas of 0x0FFFFFFF under empty texts: more ticks than one record's delta holds.
    Bytes farApart = bytes({0x00, 0x90, 0x3C, 0x40});
    for (int k = 0; k < 5; ++k) {
        testing::append(farApart, bytes({0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00}));
    }
    testing::append(farApart, bytes({0x00, 0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}));
    constexpr std::int64_t kFar = 5 * std::int64_t{0x0FFFFFFF};
    struct Case {
        const char* name;
        std::vector<Bytes> tracks;
        std::vector<TrackPart> parts;
        std::vector<PartNote> notes;
        std::int64_t lastTime;
        std::vector<std::int64_t> soundingNotes;  // per part
    };
    const std::vector<Case> cases = {
        {"a Note On of velocity 0 ends the note",
         {bytes({0x00, 0x90, 0x3C, 0x40, 0x10, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00})},
         {{1, 0}},
         {{0, 0, 0, 60, 64}, {16, 0, 0, 60, 0}},
         16,
         {1}},
        {"notes 0 and 127 make no note, yet sound",
         {bytes({0x00, 0x90, 0x00, 0x40, 0x00, 0x90, 0x7F, 0x40, 0x05, 0x80,
                 0x00, 0x40, 0x00, 0x92, 0x3D, 0x40, 0x00, 0xFF, 0x2F, 0x00})},
         {{1, 0}},
         {{5, 0, 2, 61, 64}},
         5,
         {3}},
        {"running status carries Note On; velocities past 127 clip",
         {bytes({0x00, 0x91, 0x3C, 0x40, 0x10, 0x3E, 0x90, 0x08, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00})},
         {{1, 0}},
         {{0, 0, 1, 60, 64}, {16, 0, 1, 62, 127}, {24, 0, 1, 60, 0}},
         24,
         {2}},
        {"two tracks merge in time order, each note naming its part",
         {bytes({0x00, 0x90, 0x3C, 0x40, 0x64, 0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}),
          bytes({0x32, 0x91, 0x30, 0x50, 0x32, 0x81, 0x30, 0x40, 0x0A, 0xFF, 0x2F, 0x00})},
         {{2, 0}, {1, 0}},
         {{0, 1, 0, 60, 64}, {50, 0, 1, 48, 80}, {100, 0, 1, 48, 0}, {100, 1, 0, 60, 0}},
         110,
         {1, 1}},
        {"a track cut short keeps the notes before the damage",
         {bytes({0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x40, 0x05, 0x90, 0x3E})},
         {{1, 0}},
         {{0, 0, 0, 60, 64}, {16, 0, 0, 60, 0}},
         16,
         {1}},
        {"meta and system-exclusive events after the last note set the last time",
         {bytes(
             {0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x40, 0x10, 0xF0, 0x01, 0xF7, 0x83, 0x60, 0xFF, 0x2F, 0x00})},
         {{1, 0}},
         {{0, 0, 0, 60, 64}, {16, 0, 0, 60, 0}},
         512,
         {1}},
        {"an end more ticks after its start than a record holds",
         {farApart},
         {{1, 0}},
         {{0, 0, 0, 60, 64}, {kFar, 0, 0, 60, 0}},
         kFar,
         {1}},
        {"a part the song lacks: no notes, the parts before it counted", {oneNote}, {{1, 0}, {3, 0}}, {}, 0, {1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = midiFile(1, kDivision, c.tracks);
        NullProgress quiet;
        const auto summary = summarizeSong(file, "test.mid", quiet);
        ASSERT_TRUE(summary.ok()) << summary.error().message;
        const PartNotes read = readPartNotes(file, *summary, c.parts);
        EXPECT_EQ(std::vector<PartNote>(read.begin(), read.end()), c.notes);
        EXPECT_EQ(read.size(), c.notes.size());
        EXPECT_EQ(read.lastTime(), c.lastTime);
        for (std::size_t part = 0; part < c.soundingNotes.size(); ++part) {
            EXPECT_EQ(read.soundingNotes(part), c.soundingNotes[part]) << part;
        }
    }
}

}  // namespace
}  // namespace zentrowe::song
