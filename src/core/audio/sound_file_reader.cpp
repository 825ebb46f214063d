#include "core/audio/sound_file_reader.h"

#include <sndfile.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/audio/resampler.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/native_io.h"

namespace zentrowe::audio {

namespace {

constexpr long kBlockFrames = 4096;

// One open sound file, read as stereo blocks at its own rate.
class Decoder {
public:
    virtual ~Decoder() = default;
    // Up to `frames` frames into `out` (2 * frames floats): the count read, 0 at the end of the
    // sound, negative when the data is damaged.
    virtual long readStereo(float* out, long frames) = 0;
    // After the last frame: whether the file ends where its data says it does.
    virtual bool endsWhole() { return true; }

    long rate = 0;
    int channels = 0;
    std::int64_t claimedFrames = -1;  // the length the file states, -1 if it states none
};

void spreadToStereo(const float* const* channelData, int channels, long frames, float* out)
{
    const float* left = channelData[0];
    const float* right = channels > 1 ? channelData[1] : channelData[0];
    for (long frame = 0; frame < frames; ++frame) {
        out[2 * frame] = left[frame];
        out[2 * frame + 1] = right[frame];
    }
}

// OGG Vorbis straight through libvorbisfile: a preview reads thousands of them, and going through
// libsndfile costs a third again.
class VorbisDecoder final : public Decoder {
public:
    ~VorbisDecoder() override
    {
        if (m_open) {
            ov_clear(&m_file);  // closes the FILE as well
        }
    }

    // 0 when open; OV_ENOTVORBIS for an Ogg stream of another codec; another negative code else.
    int open(std::FILE* file)
    {
        // Read as a stream, front to back: opened seekable, it would first search the file for
        // its last page, only to learn the length that decoding finds anyway. (A stream with
        // headers and no audio page then decodes to nothing and is refused.)
        const int result = ov_open_callbacks(file, &m_file, nullptr, 0, OV_CALLBACKS_STREAMONLY);
        if (result != 0) {
            return result;
        }
        m_open = true;
        m_stream = file;
        const vorbis_info* info = ov_info(&m_file, -1);
        rate = info->rate;
        channels = info->channels;
        return 0;
    }

    long readStereo(float* out, long frames) override
    {
        float** pcm = nullptr;
        int link = 0;
        const long got = ov_read_float(&m_file, &pcm, static_cast<int>(frames), &link);
        if (got <= 0) {
            return got;
        }
        // A chained stream may change its layout from one link to the next.
        const vorbis_info* info = ov_info(&m_file, link);
        if (info == nullptr || info->rate != rate || info->channels < 1) {
            return -1;
        }
        spreadToStereo(pcm, info->channels, got, out);
        return got;
    }

    // libvorbisfile plays a file cut at a page boundary as far as it goes without a word; but an
    // encoder marks the last page of a stream, so a file whose last whole page is unmarked was
    // cut short. (A stream that cannot seek, a pipe, is taken as whole.)
    bool endsWhole() override
    {
        constexpr off_t kLongestPage = 27 + 255 + 255 * 255;
        if (::fseeko(m_stream, 0, SEEK_END) != 0) {
            return true;
        }
        const off_t size = ::ftello(m_stream);
        const off_t tail = std::min(size, kLongestPage);
        std::vector<unsigned char> bytes(static_cast<std::size_t>(std::max<off_t>(tail, 0)));
        if (size < 0 || ::fseeko(m_stream, size - tail, SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, bytes.size(), m_stream) != bytes.size()) {
            return true;
        }
        // The last page is the one whose header, segment table and body end exactly at the end.
        for (std::size_t at = bytes.size() >= 27 ? bytes.size() - 27 + 1 : 0; at-- > 0;) {
            if (std::memcmp(&bytes[at], "OggS", 4) != 0 || bytes[at + 4] != 0) {
                continue;
            }
            const std::size_t segments = bytes[at + 26];
            if (at + 27 + segments > bytes.size()) {
                continue;
            }
            std::size_t body = 0;
            for (std::size_t i = 0; i < segments; ++i) {
                body += bytes[at + 27 + i];
            }
            if (at + 27 + segments + body == bytes.size()) {
                return (bytes[at + 5] & 0x04) != 0;  // the end-of-stream flag
            }
        }
        return false;  // the file stops inside a page
    }

private:
    OggVorbis_File m_file{};
    std::FILE* m_stream = nullptr;
    bool m_open = false;
};

class SndfileDecoder final : public Decoder {
public:
    ~SndfileDecoder() override
    {
        if (m_file != nullptr) {
            sf_close(m_file);
        }
    }

    // False if libsndfile does not read the file; it owns `fd` either way.
    bool open(int fd)
    {
        SF_INFO info{};
        m_file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
        if (m_file == nullptr) {
            ::close(fd);
            return false;
        }
        rate = info.samplerate;
        channels = info.channels;
        claimedFrames = info.frames >= 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
        return true;
    }

    long readStereo(float* out, long frames) override
    {
        const auto width = static_cast<std::size_t>(channels);
        m_buffer.resize(static_cast<std::size_t>(frames) * width);
        const sf_count_t got = sf_readf_float(m_file, m_buffer.data(), frames);
        if (got <= 0) {
            return sf_error(m_file) != SF_ERR_NO_ERROR ? -1 : 0;
        }
        for (sf_count_t frame = 0; frame < got; ++frame) {
            const float* in = m_buffer.data() + static_cast<std::size_t>(frame) * width;
            out[2 * frame] = in[0];
            out[2 * frame + 1] = channels > 1 ? in[1] : in[0];
        }
        return static_cast<long>(got);
    }

private:
    SNDFILE* m_file = nullptr;
    std::vector<float> m_buffer;
};

Error soundError(const std::filesystem::path& path, const std::string& reason)
{
    return fileError(ErrorCode::CannotOpen, path, "read", reason);
}

std::string framesRead(std::int64_t frames)
{
    return "cannot decode, " + std::to_string(frames) + (frames == 1 ? " frame read" : " frames read");
}

// The decoder for the file's bytes: OGG Vorbis by its first page, anything else through libsndfile.
Result<std::unique_ptr<Decoder>> openDecoder(const std::filesystem::path& path)
{
    auto opened = openRegularFile(path);
    if (!opened) {
        return opened.error();
    }
    std::array<char, 64> magic{};
    const ssize_t head = ::pread(opened->fd, magic.data(), magic.size(), 0);
    const std::string_view start(magic.data(), head > 0 ? static_cast<std::size_t>(head) : 0);
    if (start.starts_with("OggS") && start.find("vorbis") != std::string_view::npos) {
        std::FILE* file = ::fdopen(opened->fd, "rb");
        if (file == nullptr) {
            ::close(opened->fd);
            return soundError(path, "cannot open the stream");
        }
        auto vorbis = std::make_unique<VorbisDecoder>();
        const int result = vorbis->open(file);
        if (result != 0) {
            std::fclose(file);
            return soundError(path, "not a readable OGG Vorbis stream");
        }
        return std::unique_ptr<Decoder>(std::move(vorbis));
    }
    auto sndfile = std::make_unique<SndfileDecoder>();
    if (!sndfile->open(opened->fd)) {
        return soundError(path, "not a sound file this program reads (WAV, OGG, FLAC, ...)");
    }
    return std::unique_ptr<Decoder>(std::move(sndfile));
}

// A rate and a channel count this reader takes.
Status checkSoundShape(const std::filesystem::path& path, const Decoder& sound)
{
    if (sound.rate < kLowestSoundRate || sound.rate > kHighestSoundRate) {
        return soundError(path, "a sample rate of " + std::to_string(sound.rate) + " Hz is outside " +
                                    std::to_string(kLowestSoundRate) + " to " + std::to_string(kHighestSoundRate) +
                                    " Hz");
    }
    if (sound.channels < 1 || sound.channels > kMostSoundChannels) {
        return soundError(path, std::to_string(sound.channels) + " channels; at most " +
                                    std::to_string(kMostSoundChannels) + " are read");
    }
    return {};
}

// Converted frames handed on as they come, up to the most asked for.
struct ConvertedOutput {
    const SoundBlockSink& take;
    std::int64_t maxFrames;
    std::vector<float> converted;
    std::int64_t given = 0;

    void give()
    {
        const auto count = std::min<std::int64_t>(static_cast<std::int64_t>(converted.size() / 2), maxFrames - given);
        if (count > 0) {
            take(std::span<const float>(converted.data(), static_cast<std::size_t>(count) * 2));
            given += count;
        }
        converted.clear();
    }
};

// At the stream's end: a file that ends before the length it states was cut short or is
// damaged; a stream that gives nothing at all is not a sound. Otherwise the converter's tail.
Status finishStream(const std::filesystem::path& path, Decoder& sound, std::int64_t decoded, StreamResampler& resampler,
                    ConvertedOutput& output)
{
    if ((sound.claimedFrames >= 0 && decoded < sound.claimedFrames) || (decoded == 0 && sound.claimedFrames != 0)) {
        return soundError(path, framesRead(decoded));
    }
    if (!sound.endsWhole()) {
        output.give();
        return soundError(path, framesRead(decoded) + "; the file stops before the stream's end");
    }
    if (auto done = resampler.process({}, true, output.converted); !done) {
        return soundError(path, "cannot resample: " + done.error().message);
    }
    output.give();
    return {};
}

}  // namespace

Result<std::int64_t> streamSoundFile(const std::filesystem::path& path, int sampleRate, std::int64_t maxFrames,
                                     const SoundBlockSink& take)
{
    auto decoder = openDecoder(path);
    if (!decoder) {
        return decoder.error();
    }
    Decoder& sound = **decoder;
    if (auto fits = checkSoundShape(path, sound); !fits) {
        return fits.error();
    }
    auto resampler = StreamResampler::open(static_cast<int>(sound.rate), sampleRate);
    if (!resampler) {
        return soundError(path, "cannot resample: " + resampler.error().message);
    }
    // Frames of the file that make `maxFrames` at the rate asked for, and a block more for the
    // converter's look-ahead.
    const double ratio = static_cast<double>(sound.rate) / sampleRate;
    const auto wanted = static_cast<std::int64_t>(std::ceil(static_cast<double>(maxFrames) * ratio)) + kBlockFrames;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * 2);
    ConvertedOutput output{take, maxFrames, {}};
    std::int64_t decoded = 0;
    while (output.given < maxFrames && decoded < wanted) {
        const long got =
            sound.readStereo(block.data(), static_cast<long>(std::min<std::int64_t>(kBlockFrames, wanted - decoded)));
        if (got < 0) {
            return soundError(path, framesRead(decoded));
        }
        if (got == 0) {
            if (auto finished = finishStream(path, sound, decoded, *resampler, output); !finished) {
                return finished.error();
            }
            break;
        }
        decoded += got;
        if (auto done = resampler->process({block.data(), static_cast<std::size_t>(got) * 2}, false, output.converted);
            !done) {
            return soundError(path, "cannot resample: " + done.error().message);
        }
        output.give();
    }
    return output.given;
}

std::optional<double> statedSoundSeconds(const std::filesystem::path& path)
{
    const auto decoder = openDecoder(path);
    if (!decoder || (*decoder)->claimedFrames < 0 || (*decoder)->rate <= 0) {
        return std::nullopt;
    }
    return static_cast<double>((*decoder)->claimedFrames) / static_cast<double>((*decoder)->rate);
}

Result<StereoSound> readSoundFile(const std::filesystem::path& path, int sampleRate)
{
    StereoSound sound;
    sound.sampleRate = sampleRate;
    const auto longest = static_cast<std::int64_t>(kLongestSoundSeconds * std::max(sampleRate, 0));
    auto read = streamSoundFile(path, sampleRate, longest, [&](std::span<const float> block) {
        sound.samples.insert(sound.samples.end(), block.begin(), block.end());
    });
    if (!read) {
        return read.error();
    }
    return sound;
}

}  // namespace zentrowe::audio
