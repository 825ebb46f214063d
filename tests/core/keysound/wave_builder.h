#pragma once

// RIFF/WAVE files built byte by byte for the cutter's tests.

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zentrowe::testing {

struct RiffChunk {
    std::string id;
    Bytes body;
    // The size field as written; by default the body's size.
    std::int64_t declaredSize = -1;
};

inline void appendU16le(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void appendU32le(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline std::uint32_t u32leAt(const Bytes& bytes, std::size_t offset)
{
    return std::uint32_t{bytes.at(offset)} | (std::uint32_t{bytes.at(offset + 1)} << 8) |
           (std::uint32_t{bytes.at(offset + 2)} << 16) | (std::uint32_t{bytes.at(offset + 3)} << 24);
}

// "RIFF", a size, "WAVE", then the chunks, each followed by a pad byte when its body is odd.
inline Bytes riffWave(const std::vector<RiffChunk>& chunks)
{
    Bytes out;
    appendText(out, "RIFF");
    appendU32le(out, 0);
    appendText(out, "WAVE");
    for (const auto& chunk : chunks) {
        appendText(out, chunk.id);
        const auto size = chunk.declaredSize >= 0 ? static_cast<std::uint64_t>(chunk.declaredSize) : chunk.body.size();
        appendU32le(out, static_cast<std::uint32_t>(size));
        append(out, chunk.body);
        if (chunk.body.size() % 2 != 0) {
            out.push_back(0);
        }
    }
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) {
        out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    }
    return out;
}

// The 16 bytes of a plain "fmt " chunk.
inline Bytes fmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t sampleRate, std::uint32_t byteRate,
                     std::uint16_t blockAlign, std::uint16_t bits)
{
    Bytes out;
    appendU16le(out, tag);
    appendU16le(out, channels);
    appendU32le(out, sampleRate);
    appendU32le(out, byteRate);
    appendU16le(out, blockAlign);
    appendU16le(out, bits);
    return out;
}

// A WAVE_FORMAT_EXTENSIBLE "fmt " chunk of 40 bytes around the given sub-format tag.
inline Bytes extensibleFmtBody(std::uint16_t subFormat, std::uint16_t channels, std::uint32_t sampleRate,
                               std::uint16_t bits)
{
    const auto blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    Bytes out = fmtBody(0xFFFE, channels, sampleRate, sampleRate * blockAlign, blockAlign, bits);
    appendU16le(out, 22);    // cbSize
    appendU16le(out, bits);  // valid bits
    appendU32le(out, 0);     // channel mask
    appendU16le(out, subFormat);
    append(out, bytes({0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}));
    return out;
}

inline Bytes cdFmt()
{
    return fmtBody(1, 2, 44100, 176400, 4, 16);
}

// Sample bytes that differ from their neighbours, so a shifted cut shows.
inline Bytes patternBytes(std::size_t count)
{
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>((i * 7 + i / 251 + 1) % 256);
    }
    return out;
}

}  // namespace zentrowe::testing
