#pragma once

#include <array>
#include <cstdint>

#include "core/convert/chart_builder.h"
#include "core/convert/pending_note_table.h"

namespace zentrowe::convert {

// Long-note mode: a note held for more than the threshold (in 1/192 of a measure) becomes a start
// and an end marker on the long-note channel of its lane, and no two notes of a lane overlap in
// time. A note no lane is free for plays from the background channel at its start.
class LongNoteMode {
public:
    static constexpr int kBuffers = 2 * kLanes;

    LongNoteMode(ChartBuilder& chart, std::int32_t threshold);

    void noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity);
    void noteEnd(std::int64_t time, std::uint8_t channel, std::uint8_t note);
    // Starts still waiting end at `time`, the track's last event, in the order they were struck.
    void trackEnd(std::int64_t time);

private:
    void place(std::uint8_t note, PendingNoteTable::PendingNote start, std::int64_t endTime);
    bool isFree(int lane, int slot, std::int64_t startPosition) const;

    ChartBuilder& m_chart;
    std::int32_t m_threshold;
    PendingNoteTable m_pending;
    std::array<std::int64_t, kLanes> m_laneBusyUntil{};  // end position of each lane's last note
};

}  // namespace zentrowe::convert
