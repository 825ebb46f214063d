#pragma once

// Big Standard MIDI Files made on demand, for benchmarks (never checked in).
//
//   generateMidiFile(129, 78125, {.conductorTrack = true})  // ~70 MB, 10,000,000 notes
//   generateMidiFile(1, 1000000)                            // one track, 2,000,000 events
//
// Every note is a Note On followed, after its length, by its end: a Note On of velocity 0
// written with running status (what most sequencers write), or a Note Off if asked. Notes of a
// track follow each other without overlapping, so a chart made of them is well defined. The
// content is pseudo-random but fixed by the seed: the same arguments give the same bytes.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zentrowe::bench {

struct MidiGeneratorOptions {
    std::uint16_t division = 480;     // ticks per quarter note
    bool conductorTrack = false;      // track 1 holds name, time signature and tempos, no notes
    bool noteOffEvents = false;       // end notes with 0x80 instead of a Note On of velocity 0
    int tempoChanges = 16;            // Set Tempo events of the conductor (or of the only track)
    std::uint32_t seed = 1;
    // Note numbers are drawn from lowestNote..highestNote, velocities from 1..127 in steps of
    // velocityStep (a coarse step keeps the number of distinct keysounds realistic).
    std::uint8_t lowestNote = 36;
    std::uint8_t highestNote = 96;
    std::uint8_t velocityStep = 16;
    // Note lengths and the gaps between notes are drawn from these ticks.
    std::vector<std::uint32_t> lengths{60, 120, 240, 480};
    std::vector<std::uint32_t> gaps{0, 0, 60, 120};
};

namespace detail {

class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void u8(unsigned value) { m_out.push_back(static_cast<std::uint8_t>(value)); }
    void u16be(unsigned value)
    {
        u8(value >> 8);
        u8(value & 0xFF);
    }
    void u32be(std::uint32_t value)
    {
        u16be(value >> 16);
        u16be(value & 0xFFFF);
    }
    void text(const std::string& s) { m_out.insert(m_out.end(), s.begin(), s.end()); }
    void varLen(std::uint32_t value)
    {
        std::uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (n > 1) {
            u8(groups[--n] | 0x80u);
        }
        u8(groups[0]);
    }

private:
    std::vector<std::uint8_t>& m_out;
};

// xorshift32: fast and good enough to spread notes around.
class Random {
public:
    explicit Random(std::uint32_t seed) : m_state(seed == 0 ? 0x9E3779B9u : seed) {}
    std::uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>((std::uint64_t{next()} * bound) >> 32); }

private:
    std::uint32_t m_state;
};

inline void writeTempos(ByteWriter& w, const MidiGeneratorOptions& options, std::uint32_t spacing)
{
    for (int i = 0; i < options.tempoChanges; ++i) {
        const std::uint32_t micros = 400000u + static_cast<std::uint32_t>(i % 8) * 25000u;
        w.varLen(i == 0 ? 0 : spacing);
        w.u8(0xFF);
        w.u8(0x51);
        w.u8(3);
        w.u8(micros >> 16);
        w.u8((micros >> 8) & 0xFF);
        w.u8(micros & 0xFF);
    }
}

}  // namespace detail

// A whole file: format 0 for one track, else format 1.
inline std::vector<std::uint8_t> generateMidiFile(int tracks, std::int64_t notesPerTrack,
                                                  const MidiGeneratorOptions& options = {})
{
    std::vector<std::uint8_t> out;
    const bool conductor = options.conductorTrack && tracks > 1;
    const std::int64_t noteTracks = conductor ? tracks - 1 : tracks;
    out.reserve(static_cast<std::size_t>(64 + tracks * 64 + noteTracks * notesPerTrack * 8));
    detail::ByteWriter w(out);
    w.text("MThd");
    w.u32be(6);
    w.u16be(tracks == 1 ? 0 : 1);
    w.u16be(static_cast<unsigned>(tracks));
    w.u16be(options.division);

    detail::Random random(options.seed);
    const std::uint32_t tempoSpacing = options.division * 4u * 8u;  // every eight measures
    for (int t = 0; t < tracks; ++t) {
        w.text("MTrk");
        const std::size_t lengthAt = out.size();
        w.u32be(0);
        const std::size_t start = out.size();
        const std::string name = "Track " + std::to_string(t + 1);
        w.u8(0x00);
        w.u8(0xFF);
        w.u8(0x03);
        w.varLen(static_cast<std::uint32_t>(name.size()));
        w.text(name);
        const bool isConductor = conductor && t == 0;
        if (isConductor || tracks == 1) {
            w.u8(0x00);
            for (const unsigned b : {0xFFu, 0x58u, 0x04u, 0x04u, 0x02u, 0x18u, 0x08u}) {
                w.u8(b);
            }
            detail::writeTempos(w, options, tempoSpacing);
        }
        if (!isConductor) {
            const unsigned channel = static_cast<unsigned>(t) % 16u;
            w.u8(0x00);
            w.u8(0xC0 | channel);
            w.u8(static_cast<unsigned>(t) % 128u);
            // Starting delta and per-note pauses; running status carries the Note On status.
            const unsigned noteOn = 0x90 | channel;
            const unsigned noteOff = 0x80 | channel;
            unsigned running = 0xC0 | channel;
            const std::uint32_t noteRange = options.highestNote - options.lowestNote + 1u;
            const std::uint32_t velocities = 127u / options.velocityStep + 1u;
            std::uint32_t pause = 0;
            for (std::int64_t n = 0; n < notesPerTrack; ++n) {
                const unsigned note = options.lowestNote + random.below(noteRange);
                const unsigned velocity = std::max(1u, 127u - random.below(velocities) * options.velocityStep);
                const auto length = options.lengths[random.below(static_cast<std::uint32_t>(options.lengths.size()))];
                w.varLen(pause);
                if (running != noteOn) {
                    w.u8(noteOn);
                    running = noteOn;
                }
                w.u8(note);
                w.u8(velocity);
                w.varLen(length);
                if (options.noteOffEvents) {
                    if (running != noteOff) {
                        w.u8(noteOff);
                        running = noteOff;
                    }
                    w.u8(note);
                    w.u8(64);
                } else {
                    w.u8(note);
                    w.u8(0);
                }
                pause = options.gaps[random.below(static_cast<std::uint32_t>(options.gaps.size()))];
            }
        }
        for (const unsigned b : {0x00u, 0xFFu, 0x2Fu, 0x00u}) {
            w.u8(b);
        }
        const auto length = static_cast<std::uint32_t>(out.size() - start);
        for (int i = 0; i < 4; ++i) {
            out[lengthAt + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
        }
    }
    return out;
}

// Writes the file unless one of the same size is already there (the content is fixed by the
// arguments). Returns the path.
inline std::filesystem::path writeMidiFileOnce(const std::filesystem::path& path, int tracks,
                                               std::int64_t notesPerTrack, const MidiGeneratorOptions& options = {})
{
    const auto bytes = generateMidiFile(tracks, notesPerTrack, options);
    std::error_code error;
    if (std::filesystem::file_size(path, error) == bytes.size() && !error) {
        return path;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace zentrowe::bench
