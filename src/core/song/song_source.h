#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/song/song_events.h"

namespace zentrowe::song {

// Anything a span of a file's bytes is made from: a span, a std::vector, FileBytes' bytes().
template <typename Bytes>
concept ByteView = std::convertible_to<const Bytes&, std::span<const std::uint8_t>>;

// What a pass reads a song from: the MIDI file's bytes, or its events decoded once
// (decodeSong), which a pass over several tracks reads from memory instead of the bytes. Cheap to
// copy: a view either way, which must not outlive what it views.
class SongSource {
public:
    template <ByteView Bytes>
    SongSource(const Bytes& bytes) : m_bytes(bytes)
    {
    }
    SongSource(const SongEvents& events) : m_bytes(events.file), m_events(&events) { }

    // The file's bytes, also when decoded: what a pass reads other than through the track walk.
    std::span<const std::uint8_t> bytes() const { return m_bytes; }
    std::size_t size() const { return m_bytes.size(); }
    // The decoded events; nullptr for bytes.
    const SongEvents* events() const { return m_events; }

private:
    std::span<const std::uint8_t> m_bytes;
    const SongEvents* m_events = nullptr;
};

}  // namespace zentrowe::song
