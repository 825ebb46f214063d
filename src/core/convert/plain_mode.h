#pragma once

#include <cstdint>

#include "core/convert/chart_builder.h"
#include "core/convert/pending_note_table.h"

namespace zentrowe::convert {

// Places a normal note starting at `startTime`: its own lane if the slot is free, else the
// highest-numbered lane whose slot is free, else the background channel. Does nothing for code 0
// (the codes ran out) or a measure past 999 (the builder records why).
void placeNormalNote(ChartBuilder& chart, std::int64_t startTime, std::uint8_t note, std::uint16_t code);

// Plain mode: every note is a normal note on the lane of its note number, placed at its start
// when it ends.
class PlainMode {
public:
    static constexpr int kBuffers = kLanes;

    explicit PlainMode(ChartBuilder& chart) : m_chart(chart) { }

    void noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity);
    void noteEnd(std::int64_t time, std::uint8_t channel, std::uint8_t note);
    // A sequencer stops every sounding note at the end of the track: starts still waiting end at
    // `time`, the track's last event, in the order they were struck.
    void trackEnd(std::int64_t time);

private:
    void place(std::uint8_t note, PendingNoteTable::PendingNote start, std::int64_t endTime);

    ChartBuilder& m_chart;
    PendingNoteTable m_pending;
};

}  // namespace zentrowe::convert
