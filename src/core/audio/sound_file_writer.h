#pragma once

#include <filesystem>
#include <span>
#include <string_view>

#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::audio {

enum class SoundFormat {
    OggVorbis,
    Wave,  // 16-bit PCM
};

// The file name extension of a format, lower case: ".ogg" or ".wav".
std::string_view soundFileExtension(SoundFormat format);

// Encodes interleaved stereo float samples at `sampleRate` frames a second and writes them
// through the atomic writer. `quality` (0 to 1, OGG Vorbis only) is set before the first samples are written, as the
// encoder fixes it then. Samples beyond +-1 are clipped. WriteFailed naming the target if the
// file cannot be written or the encoder refuses; InvalidSetting for a quality that is not a number
// from 0 to 1. The sink is polled while encoding: Cancelled (nothing written) when it asks to stop.
Status writeSoundFile(const std::filesystem::path& target, std::span<const float> interleaved, SoundFormat format,
                      double quality, int sampleRate, ProgressSink& progress);
Status writeSoundFile(const std::filesystem::path& target, std::span<const float> interleaved, SoundFormat format,
                      double quality, int sampleRate);

}  // namespace zentrowe::audio
