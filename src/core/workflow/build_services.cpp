#include "core/workflow/build_services.h"

#include <utility>

#include "core/audio/preview_writer.h"
#include "core/audio/synth_renderer.h"

namespace zentrowe::workflow {

// The synthesiser with the request's soundfont, where the caller gave none; with kept sounds, it
// takes what it can from them.
BuildServices withDefaultServices(BuildServices services, const BuildRequest& request, KeptSounds* kept)
{
    const bool synthesiser = !services.renderers;
    if (synthesiser) {
        services.renderers = [soundFont = request.soundFont]() -> Result<std::unique_ptr<audio::Renderer>> {
            auto opened = audio::SynthRenderer::open(soundFont);
            if (!opened) {
                return opened.error();
            }
            return std::unique_ptr<audio::Renderer>(std::make_unique<audio::SynthRenderer>(std::move(opened).value()));
        };
    }
    if (services.fileSystem == nullptr) {
        services.fileSystem = &realFileSystem();
    }
    if (kept != nullptr) {
        services.renderers =
            kept->renderers(std::move(services.renderers), synthesiser ? audio::synthPlayedAs : nullptr);
    }
    return services;
}

// The sound file and preview writers in the request's format, where the caller gave no stand-ins:
// they take what they can from the kept sounds, and leave a file the folder holds already with
// the same bytes where it is (`unchanged`).
BuildServices withStagedWriters(BuildServices services, const BuildRequest& request, KeptSounds* kept,
                                UnchangedFiles& unchanged)
{
    audio::SoundBytesWriter place = [&unchanged](const std::filesystem::path& target,
                                                 std::span<const std::uint8_t> bytes) {
        return unchanged.write(target, bytes);
    };
    const auto encoding = [place](audio::SoundFormat format, double quality, audio::SoundChannels channels) {
        return [place, format, quality, channels](const std::filesystem::path& target, std::span<const float> samples) {
            NullProgress quiet;
            auto encoded = audio::encodeSound(target, samples, format, quality, audio::kSampleRate, quiet, channels);
            return encoded ? place(target, *encoded) : Status(encoded.error());
        };
    };
    if (!services.writer) {
        services.writer = kept != nullptr
                              ? kept->writer(request.format, request.quality, place)
                              : encoding(request.format, request.quality, audio::SoundChannels::MonoWhereAlike);
    }
    if (!services.previewWriter) {
        services.previewWriter = kept != nullptr ? kept->previewWriter(place)
                                                 : encoding(audio::SoundFormat::OggVorbis, audio::kPreviewOggQuality,
                                                            audio::SoundChannels::Stereo);
    }
    return services;
}

}  // namespace zentrowe::workflow
