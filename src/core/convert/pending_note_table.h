#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zentrowe::convert {

// Note starts waiting for their ends, per MIDI channel and note number, oldest first: a note end
// closes the oldest start of its channel and note, so doubled note-offs, a key struck again
// while it sounds and the same note on two channels each pair up as they sound.
class PendingNoteTable {
public:
    struct PendingNote {
        std::int64_t startTime = 0;
        std::uint8_t velocity = 0;
        std::uint64_t order = 0;  // how many starts came before it in the track
    };
    struct Unended {
        std::uint8_t channel;
        std::uint8_t note;
        PendingNote start;
    };

    void push(std::uint8_t channel, std::uint8_t note, std::int64_t startTime, std::uint8_t velocity);
    std::optional<PendingNote> pop(std::uint8_t channel, std::uint8_t note);

    // Every start still waiting, in the order the starts were read; the table is then empty.
    std::vector<Unended> takeUnended();

private:
    class Queue {
    public:
        void push(PendingNote note) { m_notes.push_back(note); }
        std::optional<PendingNote> pop();
        std::vector<PendingNote> take();

    private:
        std::vector<PendingNote> m_notes;
        std::size_t m_head = 0;
    };

    static std::size_t key(std::uint8_t channel, std::uint8_t note) { return std::size_t{channel} * 128 + note; }

    std::array<Queue, 16 * 128> m_queues;
    std::uint64_t m_starts = 0;
};

}  // namespace zentrowe::convert
