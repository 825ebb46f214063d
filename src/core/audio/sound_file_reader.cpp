#include "core/audio/sound_file_reader.h"

#include <sndfile.h>

#include <algorithm>
#include <memory>

#include "core/audio/resampler.h"
#include "core/base/file_io.h"

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
        return Error{ErrorCode::CannotOpen, displayPath(path) + ": " + sf_strerror(nullptr)};
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        return Error{ErrorCode::CannotOpen, displayPath(path) + ": no channels or no sample rate"};
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto longest = static_cast<sf_count_t>(kLongestSoundSeconds * info.samplerate);
    // Some formats do not know their length up front: read in blocks until the file ends.
    const sf_count_t expected = info.frames > 0 ? std::min(info.frames, longest) : 0;
    std::vector<float> read(static_cast<std::size_t>(expected) * channels);
    sf_count_t frames = expected > 0 ? sf_readf_float(file.get(), read.data(), expected) : 0;
    if (info.frames <= 0) {
        constexpr sf_count_t kBlockFrames = 1 << 14;
        while (frames < longest) {
            read.resize(static_cast<std::size_t>(frames + kBlockFrames) * channels);
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
        return Error{ErrorCode::CannotOpen, displayPath(path) + ": " + sf_strerror(file.get())};
    }

    std::vector<float> stereo(static_cast<std::size_t>(frames) * 2);
    for (std::size_t frame = 0; frame < static_cast<std::size_t>(frames); ++frame) {
        const float left = read[frame * channels];
        stereo[frame * 2] = left;
        stereo[frame * 2 + 1] = channels > 1 ? read[frame * channels + 1] : left;
    }
    StereoSound sound;
    sound.sampleRate = sampleRate;
    sound.samples = info.samplerate == sampleRate ? std::move(stereo)
                                                  : resampleStereo(stereo, info.samplerate, sampleRate);
    return sound;
}

}  // namespace zentrowe::audio
