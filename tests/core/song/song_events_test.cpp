#include "core/song/song_events.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "core/song/track_part.h"
#include "core/song/track_walk.h"
#include "song_test_support.h"
#include "support/recording_progress.h"

namespace zentrowe::song {
namespace {

using testing::Bytes;
using testing::bytes;
using testing::midiFile;

// Every call, step and end of a walk: what a pass reading the song can tell apart.
struct Walked {
    std::vector<std::string> calls;
    std::vector<std::int64_t> positions;
    WalkEnd end = WalkEnd::Complete;
    friend bool operator==(const Walked&, const Walked&) = default;
    friend void PrintTo(const Walked& walked, std::ostream* out)
    {
        *out << ::testing::PrintToString(walked.calls) << ", steps " << ::testing::PrintToString(walked.positions)
             << ", end " << static_cast<int>(walked.end);
    }

    void add(std::int64_t time, std::uint32_t delta, Bytes fields)
    {
        calls.push_back(std::to_string(time) + " +" + std::to_string(delta) + " " + ::testing::PrintToString(fields));
    }
    void onEvent(std::int64_t t, std::uint32_t d, const ChannelEvent& e) { add(t, d, {e.status, e.data1, e.data2}); }
    void onEvent(std::int64_t t, std::uint32_t d, const MetaEvent& e)
    {
        Bytes fields{0xFF, e.type, e.lengthByte, static_cast<std::uint8_t>(e.declaredLength)};
        fields.insert(fields.end(), e.data.begin(), e.data.end());
        add(t, d, fields);
    }
    void onEvent(std::int64_t t, std::uint32_t d, const SysExEvent& e)
    {
        add(t, d, {e.status, static_cast<std::uint8_t>(e.length)});
    }
};

constexpr std::size_t kNoStop = std::numeric_limits<std::size_t>::max();

// Walks `parts` (a track alone: one whole part) stepping progress at every event, stopped once
// it has stepped `stopAfter` times.
Walked walkOf(SongSource source, const SongSummary& song, std::vector<TrackPart> parts, std::size_t stopAfter)
{
    testing::RecordingProgress progress(stopAfter);
    ProgressThrottle everyStep(progress, 0, 1);
    Walked walked;
    walked.end = walkParts(source, song, parts, walked, everyStep,
                           [&](std::size_t part) { walked.calls.push_back("part " + std::to_string(part)); });
    walked.positions = progress.positions;
    return walked;
}

// A format-1 file whose first chunk declares 3 bytes, which end inside a note.
Bytes noteRunningPastItsTrack()
{
    Bytes file = testing::midiHeader(1, 2, 96);
    testing::append(file, bytes({'M', 'T', 'r', 'k', 0, 0, 0, 3, 0x00, 0x90, 0x3C}));
    testing::append(file, testing::trackChunk(bytes({0x00, 0x92, 0x40, 0x40, 0x00, 0xFF, 0x2F, 0x00})));
    return file;
}

TEST(SongEvents, ReplayMeetsWhatTheBytesGiveHoweverTheFileEndsOrTheWalkStops)
{
    const std::vector<std::pair<const char*, Bytes>> songs = {
        {"running status carries to the next note",
         midiFile(0, 96, {bytes({0x00, 0x90, 0x3C, 0x40, 0x10, 0x3E, 0x40, 0x81, 0x00, 0x3C, 0x00})})},
        {"data bytes before any status and system statuses carry nothing but their deltas",
         midiFile(0, 96,
                  {bytes({0x05, 0x3C, 0x00, 0x90, 0x3C, 0x40, 0x10, 0xF4, 0x20, 0x3E, 0x40, 0x00, 0xF1, 0x7F})})},
        {"one-byte meta lengths read their own count whatever they declare",
         midiFile(0, 96, {bytes({0x00, 0xFF, 0x51, 0x05, 0x07, 0xA1, 0x20, 0x01, 0x02, 0x00, 0xFF,
                                 0x20, 0x00, 0x00, 0xFF, 0x00, 0x01, 0x05, 0x00, 0xFF, 0x58, 0x02,
                                 0x04, 0x02, 0x18, 0x08, 0x00, 0xFF, 0x03, 0x02, 0x41, 0x42})})},
        {"system-exclusive and escape events leave the running status alone",
         midiFile(0, 96,
                  {bytes({0x00, 0x91, 0x3C, 0x40, 0x00, 0xF0, 0x03, 0x43, 0x12, 0xF7, 0x08, 0xF7, 0x02, 0xF3, 0x01,
                          0x10, 0x3C, 0x00})})},
        {"a note runs past its track's length into the next chunk", noteRunningPastItsTrack()},
        {"an empty track among others", midiFile(1, 96, {{}, bytes({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40})})},
        {"a meta event claims more than the file holds", midiFile(0, 96, {bytes({0x00, 0xFF, 0x01, 0x7F, 0x61})})},
    };
    for (const auto& [name, whole] : songs) {
        for (std::size_t size = 0; size <= whole.size(); ++size) {
            const Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            const auto summary = test::summarize(file);
            if (!summary.ok()) {
                continue;
            }
            const SongEvents decoded = decodeSong(file, *summary);
            const std::size_t stops[] = {1, 2, 3, 5, 8, kNoStop};
            for (std::size_t track = 1; track <= summary->tracks.size(); ++track) {
                for (const std::size_t stopAfter : stops) {
                    SCOPED_TRACE(std::string(name) + ": " + std::to_string(size) + " bytes, track " +
                                 std::to_string(track) + ", stopped after " + std::to_string(stopAfter) + " steps");
                    const std::vector<TrackPart> alone = {{static_cast<int>(track), 0}};
                    EXPECT_EQ(walkOf(decoded, *summary, alone, stopAfter), walkOf(file, *summary, alone, stopAfter));
                }
            }
        }
    }
}

TEST(SongEvents, ATrackNotDecodedIsWalkedAsOnePastTheFilesEnd)
{
    const Bytes file = midiFile(0, 96, {bytes({0x00, 0x90, 0x3C, 0x40})});
    const auto summary = test::summary(file);
    const std::uint64_t elsewhere = summary.tracks.front().location.dataStart + 2;
    const std::vector<TrackPart> alone = {{1, 0}};
    for (const auto& [length, end] : {std::pair{0u, WalkEnd::Complete}, std::pair{4u, WalkEnd::Truncated}}) {
        SongSummary moved = summary;
        moved.tracks.front().location = {elsewhere, length};
        EXPECT_EQ(walkOf(decodeSong(file, summary), moved, alone, kNoStop), (Walked{{"part 0"}, {}, end}));
    }
}

}  // namespace
}  // namespace zentrowe::song
