#pragma once

#include <filesystem>

#include "core/audio/stereo_sound.h"
#include "core/base/result.h"

namespace zentrowe::audio {

// Sounds longer than this are read only this far: a keysound is seconds long, and a damaged
// header can claim days.
inline constexpr double kLongestSoundSeconds = 600;

// Any file libsndfile reads (WAV, OGG Vorbis, FLAC, ...) as stereo at `sampleRate`: mono is
// spread to both sides, channels past the second are left out, and a file at another rate is
// resampled. CannotOpen naming the file and libsndfile's reason if it cannot be read.
Result<StereoSound> readSoundFile(const std::filesystem::path& path, int sampleRate);

}  // namespace zentrowe::audio
