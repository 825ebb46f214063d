#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::audio {

// A plain RIFF WAVE of 32-bit IEEE floats (format 3), stereo at kSampleRate: how a pass keeps a
// rendered sound on disk without loss until it needs it again. WriteFailed naming the file and
// the system's reason if it cannot be written whole.
Status writeFloatWave(const std::filesystem::path& path, std::span<const float> interleaved);

// The samples of a file writeFloatWave wrote (its fixed 44-byte header skipped, not checked).
// WriteFailed (the pass that spilled it cannot go on) naming the file if it cannot be read.
Result<std::vector<float>> readFloatWave(const std::filesystem::path& path);

inline constexpr std::size_t kFloatWaveHeaderBytes = 44;

// The header writeFloatWave puts before `dataBytes` bytes of samples: RIFF and data sizes past 32
// bits are written as 0xFFFFFFFF.
std::array<char, kFloatWaveHeaderBytes> floatWaveHeader(std::uint64_t dataBytes);

}  // namespace zentrowe::audio
