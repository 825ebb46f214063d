#include "core/audio/sound_file_reader.h"

#include <sndfile.h>

#include <algorithm>
#include <memory>

#include "core/audio/resampler.h"
#include "core/base/file_error.h"

namespace zentrowe::audio {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

Result<StereoSound> readSoundFile(const std::filesystem::path& path, int sampleRate)
{
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        return fileError(ErrorCode::CannotOpen, path, "read", sf_strerror(nullptr));
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        return fileError(ErrorCode::CannotOpen, path, "read", "no channels or no sample rate");
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto longest = static_cast<sf_count_t>(kLongestSoundSeconds * info.samplerate);
    // Mono and stereo files are decoded straight into the stereo buffer (mono spread out in
    // place afterwards): a preview reads thousands of files, and a second buffer per file costs
    // more than the copying.
    const std::size_t readWidth = std::max<std::size_t>(channels, 2);
    const sf_count_t expected = info.frames > 0 ? std::min(info.frames, longest) : 0;
    std::vector<float> read(static_cast<std::size_t>(expected) * readWidth);
    sf_count_t frames = expected > 0 ? sf_readf_float(file.get(), read.data(), expected) : 0;
    // Some formats do not know their length up front: read in blocks until the file ends.
    if (info.frames <= 0) {
        constexpr sf_count_t kBlockFrames = 1 << 14;
        while (frames < longest) {
            read.resize(static_cast<std::size_t>(frames + kBlockFrames) * readWidth);
            const sf_count_t got = sf_readf_float(file.get(), read.data() + static_cast<std::size_t>(frames) * channels,
                                                  std::min(kBlockFrames, longest - frames));
            if (got <= 0) {
                break;
            }
            frames += got;
        }
    }
    frames = std::max<sf_count_t>(frames, 0);
    if (sf_error(file.get()) != SF_ERR_NO_ERROR && frames == 0) {
        return fileError(ErrorCode::CannotOpen, path, "read", sf_strerror(file.get()));
    }

    // Frame f of the file starts at f * channels; it moves to f * 2, never before where it is,
    // so walking backwards reads every frame before it is overwritten when channels < 2, and
    // walking forwards does when channels > 2.
    const auto count = static_cast<std::size_t>(frames);
    if (channels == 1) {
        for (std::size_t frame = count; frame-- > 0;) {
            const float value = read[frame];
            read[frame * 2] = value;
            read[frame * 2 + 1] = value;
        }
    } else if (channels > 2) {
        for (std::size_t frame = 0; frame < count; ++frame) {
            read[frame * 2] = read[frame * channels];
            read[frame * 2 + 1] = read[frame * channels + 1];
        }
    }
    read.resize(count * 2);
    std::vector<float>& stereo = read;

    StereoSound sound;
    sound.sampleRate = sampleRate;
    sound.samples = info.samplerate == sampleRate ? std::move(stereo)
                                                  : resampleStereo(stereo, info.samplerate, sampleRate);
    return sound;
}

}  // namespace zentrowe::audio
