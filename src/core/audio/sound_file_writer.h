#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "core/base/file_system.h"
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
// through the atomic writer, straight to the disk (a build stages its sounds through its own file
// system: encodeSound, then writeSoundBytes). `quality` (0 to 1, OGG Vorbis only) is set before
// the first samples are written, as the encoder fixes it then. Samples beyond +-1 are clipped.
// WriteFailed naming the target if the file cannot be written or the encoder refuses;
// InvalidSetting for a quality that is not a number from 0 to 1. The sink is polled while
// encoding: Cancelled (nothing written) when it asks to stop.
Status writeSoundFile(const std::filesystem::path& target, std::span<const float> interleaved, SoundFormat format,
                      double quality, int sampleRate, ProgressSink& progress);
Status writeSoundFile(const std::filesystem::path& target, std::span<const float> interleaved, SoundFormat format,
                      double quality, int sampleRate);

enum class SoundChannels {
    Stereo,
    // One channel where every frame's two sides lie within one 16-bit step of each other: a player
    // plays a mono file on both sides, so it sounds the same, and encodes in half the time.
    MonoWhereAlike,
};

// The bytes writeSoundFile would write to `target` (an Ogg stream numbered after its name), from
// interleaved stereo, in one channel where `channels` allows; its refusals but the file's own.
Result<std::vector<std::uint8_t>> encodeSound(const std::filesystem::path& target, std::span<const float> stereo,
                                              SoundFormat format, double quality, int sampleRate,
                                              ProgressSink& progress, SoundChannels channels);
// Numbers the Ogg stream of `bytes` (encoded for another name) as encodeSound numbers one for
// `target`, so the same sound under the same name is the same bytes; other bytes are left alone.
void renameOggStream(std::vector<std::uint8_t>& bytes, const std::filesystem::path& target);
// Writes encoded bytes through the atomic writer on `files`; WriteFailed naming the target.
Status writeSoundBytes(const std::filesystem::path& target, std::span<const std::uint8_t> bytes, FileSystem& files);
// Puts a sound file's encoded bytes under its name, as writeSoundBytes does or in its place.
using SoundBytesWriter =
    std::function<Status(const std::filesystem::path& target, std::span<const std::uint8_t> bytes)>;

}  // namespace zentrowe::audio
