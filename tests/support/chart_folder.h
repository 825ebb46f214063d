#pragma once

// A small chart folder that passes the release audit, for tests to plant defects in.

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/keysound/wave_builder.h"
#include "support/test_support.h"

namespace zentrowe::testing {

// Mono 16-bit PCM of `frames` samples at `rate`, each `level` (a click when short, a tone when
// the level alternates in sign).
inline Bytes pcmWave(std::uint32_t frames, std::uint32_t rate = 44100, std::int16_t level = 8000)
{
    Bytes samples;
    for (std::uint32_t i = 0; i < frames; ++i) {
        appendU16le(samples, static_cast<std::uint16_t>(i % 2 == 0 ? level : -level));
    }
    return riffWave({{"fmt ", fmtBody(1, 1, rate, rate * 2, 2, 16)}, {"data", samples}});
}

// The header every planted defect starts from: all that the checklist asks for.
inline const std::string kGoodHeader = "#PLAYER 1\r\n#GENRE Test\r\n#TITLE Good Song\r\n#ARTIST Someone\r\n"
                                       "#BPM 120\r\n#PLAYLEVEL 3\r\n#RANK 2\r\n#TOTAL 300\r\n#DIFFICULTY 2\r\n";
// Two keysounds, each placed, in measures 001 and 002.
inline const std::string kGoodBody = "#WAV01 kick.wav\r\n#WAV02 snare.wav\r\n#00111:0102\r\n#00211:01000200\r\n";

// song.bms of that header and body, and its two sounds.
inline void writeGoodFolder(const std::filesystem::path& folder)
{
    writeFile(folder / "song.bms", kGoodHeader + kGoodBody);
    writeFile(folder / "kick.wav", pcmWave(441));
    writeFile(folder / "snare.wav", pcmWave(882));
}

}  // namespace zentrowe::testing
