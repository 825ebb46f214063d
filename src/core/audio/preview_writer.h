#pragma once

#include <filesystem>
#include <optional>

#include "core/audio/stereo_sound.h"
#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::audio {

enum class PreviewFormat { Wav, Ogg };

// The OGG Vorbis quality a preview is encoded at.
inline constexpr double kPreviewOggQuality = 0.5;

// The format a file name asks for: ".wav" or ".ogg" in any case; nullopt for anything else.
std::optional<PreviewFormat> previewFormatOf(const std::filesystem::path& path);

// Fades the start in and the end out along straight lines; fades longer than the sound are
// shortened to it.
void applyFades(StereoSound& sound, double fadeInSeconds, double fadeOutSeconds);

// Writes the sound as 16-bit PCM WAV or OGG Vorbis (quality 0.5) through a temporary file renamed
// into place. Samples past full scale are clipped. WriteFailed naming the file if it cannot be
// encoded or written (an earlier file of that name is then left as it was); Cancelled, with
// nothing written, when the sink asks to stop while encoding.
Status writePreviewFile(const std::filesystem::path& path, const StereoSound& sound, PreviewFormat format,
                        ProgressSink& progress);

}  // namespace zentrowe::audio
