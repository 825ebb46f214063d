#pragma once

// Runs the reading passes on bytes in memory, for the song tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "support/test_support.h"

namespace zentrowe::song::test {

using testing::Bytes;
using testing::bytes;

inline Result<SongSummary> summarize(const Bytes& file)
{
    NullProgress quiet;
    return summarizeSong(file, "test.mid", quiet);
}

// A summary that must succeed.
inline SongSummary summary(const Bytes& file)
{
    auto result = summarize(file);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
    return result.ok() ? std::move(result).value() : SongSummary{};
}

// One track of format 0, division 480, with the given events (no end of track added).
inline SongSummary summarizeTrack(const Bytes& events)
{
    return summary(testing::midiFile(0, 480, {events}));
}

struct Row {
    std::string delta;
    std::string label;
    std::string description;

    friend bool operator==(const Row&, const Row&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Row& row)
    {
        return out << '[' << row.delta << "|" << row.label << "|" << row.description << ']';
    }
};

class CollectRows final : public EventRowSink {
public:
    void addRow(std::string_view delta, std::string_view label, std::string_view description) override
    {
        rows.push_back({std::string(delta), std::string(label), std::string(description)});
    }
    std::vector<Row> rows;
};

inline std::vector<Row> listRows(const Bytes& file, int trackNumber = 1)
{
    const auto song = summary(file);
    CollectRows sink;
    NullProgress quiet;
    const auto listed = listTrackEvents(file, song, trackNumber, sink, quiet);
    EXPECT_TRUE(listed.ok()) << (listed.ok() ? "" : listed.error().message);
    return sink.rows;
}

// The rows of a one-track file holding the given events.
inline std::vector<Row> listTrack(const Bytes& events)
{
    return listRows(testing::midiFile(0, 480, {events}));
}

}  // namespace zentrowe::song::test
