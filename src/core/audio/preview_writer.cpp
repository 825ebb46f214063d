#include "core/audio/preview_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/base/file_io.h"

namespace zentrowe::audio {

namespace {

constexpr double kOggQuality = 0.5;

// libsndfile encodes into memory; the finished bytes go to disk in one atomic write.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    sf_count_t position = 0;

    static MemoryFile& of(void* self) { return *static_cast<MemoryFile*>(self); }
    static sf_count_t length(void* self) { return static_cast<sf_count_t>(of(self).bytes.size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* self)
    {
        auto& file = of(self);
        const sf_count_t base = whence == SEEK_CUR ? file.position : whence == SEEK_END ? length(self) : 0;
        file.position = std::max<sf_count_t>(base + offset, 0);
        return file.position;
    }
    static sf_count_t read(void* out, sf_count_t count, void* self)
    {
        auto& file = of(self);
        const sf_count_t available = std::max<sf_count_t>(length(self) - file.position, 0);
        const sf_count_t n = std::min(count, available);
        if (n > 0) {
            std::memcpy(out, file.bytes.data() + file.position, static_cast<std::size_t>(n));
            file.position += n;
        }
        return n;
    }
    static sf_count_t write(const void* in, sf_count_t count, void* self)
    {
        auto& file = of(self);
        const auto end = static_cast<std::size_t>(file.position + count);
        if (end > file.bytes.size()) {
            file.bytes.resize(end);
        }
        std::memcpy(file.bytes.data() + file.position, in, static_cast<std::size_t>(count));
        file.position += count;
        return count;
    }
    static sf_count_t tell(void* self) { return of(self).position; }
};

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

Status writePreviewFile(const std::filesystem::path& path, const StereoSound& sound, PreviewFormat format)
{
    const auto failure = [&](const std::string& why) {
        return Error{ErrorCode::WriteFailed, displayPath(path) + ": " + why};
    };
    if (sound.sampleRate <= 0) {
        return failure("no sample rate");
    }
    MemoryFile memory;
    SF_VIRTUAL_IO io{&MemoryFile::length, &MemoryFile::seek, &MemoryFile::read, &MemoryFile::write,
                     &MemoryFile::tell};
    SF_INFO info{};
    info.samplerate = sound.sampleRate;
    info.channels = 2;
    info.format = format == PreviewFormat::Wav ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16) : (SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (file == nullptr) {
        return failure(sf_strerror(nullptr));
    }
    // Float samples past ±1 are clipped rather than wrapped around.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (format == PreviewFormat::Ogg) {
        double quality = kOggQuality;
        sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    // In blocks: the Vorbis encoder takes what one call gives it as a single analysis buffer,
    // and minutes of sound in one call crash it.
    constexpr sf_count_t kBlockFrames = 4096;
    const auto frames = static_cast<sf_count_t>(sound.frames());
    std::string error;
    for (sf_count_t done = 0; done < frames && error.empty(); done += kBlockFrames) {
        const sf_count_t block = std::min(kBlockFrames, frames - done);
        if (sf_writef_float(file, sound.samples.data() + done * 2, block) != block) {
            error = sf_strerror(file);
        }
    }
    if (sf_close(file) != 0 && error.empty()) {
        error = "the encoder could not finish the file";
    }
    if (!error.empty()) {
        return failure(error);
    }
    return writeFileAtomically(path, memory.bytes);
}

}  // namespace zentrowe::audio
