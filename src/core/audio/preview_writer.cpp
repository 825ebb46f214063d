#include "core/audio/preview_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/audio/sound_file_writer.h"

namespace zentrowe::audio {

namespace {

}  // namespace

std::optional<PreviewFormat> previewFormatOf(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (extension == ".wav") {
        return PreviewFormat::Wav;
    }
    if (extension == ".ogg") {
        return PreviewFormat::Ogg;
    }
    return std::nullopt;
}

void applyFades(StereoSound& sound, double fadeInSeconds, double fadeOutSeconds)
{
    const std::size_t frames = sound.frames();
    const auto framesOf = [&](double seconds) {
        return std::min(frames, static_cast<std::size_t>(std::max(seconds, 0.0) * sound.sampleRate));
    };
    const std::size_t fadeIn = framesOf(fadeInSeconds);
    for (std::size_t frame = 0; frame < fadeIn; ++frame) {
        const auto gain = static_cast<float>(static_cast<double>(frame) / static_cast<double>(fadeIn));
        sound.samples[frame * 2] *= gain;
        sound.samples[frame * 2 + 1] *= gain;
    }
    const std::size_t fadeOut = framesOf(fadeOutSeconds);
    for (std::size_t i = 0; i < fadeOut; ++i) {
        const std::size_t frame = frames - 1 - i;
        const auto gain = static_cast<float>(static_cast<double>(i) / static_cast<double>(fadeOut));
        sound.samples[frame * 2] *= gain;
        sound.samples[frame * 2 + 1] *= gain;
    }
}

Status writePreviewFile(const std::filesystem::path& path, const StereoSound& sound, PreviewFormat format,
                        ProgressSink& progress)
{
    return writeSoundFile(path, sound.samples,
                          format == PreviewFormat::Wav ? SoundFormat::Wave : SoundFormat::OggVorbis, kPreviewOggQuality,
                          sound.sampleRate, progress);
}

}  // namespace zentrowe::audio
