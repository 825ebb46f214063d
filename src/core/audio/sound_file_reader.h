#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>

#include "core/audio/stereo_sound.h"
#include "core/base/result.h"

namespace zentrowe::audio {

// Sounds longer than this are read only this far: a keysound is seconds long, and a damaged
// header can claim days.
inline constexpr double kLongestSoundSeconds = 600;
// The rates and channel counts a sound file may claim; anything else is a damaged or hostile
// header, refused before a sample is read.
inline constexpr int kLowestSoundRate = 1000;
inline constexpr int kHighestSoundRate = 768000;
inline constexpr int kMostSoundChannels = 32;

// Takes each decoded block in order: interleaved stereo at the rate asked for.
using SoundBlockSink = std::function<void(std::span<const float>)>;

// Decodes any file libsndfile reads (WAV, FLAC, ...; OGG Vorbis through libvorbisfile) as
// stereo at `sampleRate`, a block at a time, and stops after `maxFrames` frames: memory grows
// with what is decoded, never with what a header claims. Mono is spread to both sides, channels
// past the second are left out, and a file at another rate is resampled. Returns the frames
// given to `take`. CannotOpen naming the file if it cannot be opened, claims a rate outside
// kLowestSoundRate..kHighestSoundRate or more than kMostSoundChannels, or ends before the length
// it claims or with damage ("cannot decode, N frames read").
Result<std::int64_t> streamSoundFile(const std::filesystem::path& path, int sampleRate, std::int64_t maxFrames,
                                     const SoundBlockSink& take);

// The length a sound file states before its samples, in seconds (a WAV's or FLAC's frames over
// its rate), without decoding it: for telling how long a sound read only to kLongestSoundSeconds
// really is. nullopt for a stream that states none (OGG Vorbis), or a file no decoder opens.
std::optional<double> statedSoundSeconds(const std::filesystem::path& path);

// The whole sound (up to kLongestSoundSeconds) in memory, as streamSoundFile decodes it.
Result<StereoSound> readSoundFile(const std::filesystem::path& path, int sampleRate);

}  // namespace zentrowe::audio
