#include "core/audio/sound_file_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/audio/synth_renderer.h"
#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"

namespace zentrowe::audio {

namespace {

// The encoder writes into memory (it seeks back to patch headers), and the finished bytes go
// through the atomic writer, so no reader ever sees half a sound file.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t memoryLength(void* user)
{
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) {
        base = file->position;
    } else if (whence == SEEK_END) {
        base = static_cast<sf_count_t>(file->bytes.size());
    }
    file->position = std::max<sf_count_t>(0, base + offset);
    return file->position;
}

sf_count_t memoryRead(void* destination, sf_count_t count, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const auto size = static_cast<sf_count_t>(file->bytes.size());
    const sf_count_t available = std::clamp<sf_count_t>(size - file->position, 0, count);
    std::memcpy(destination, file->bytes.data() + file->position, static_cast<std::size_t>(available));
    file->position += available;
    return available;
}

sf_count_t memoryWrite(const void* source, sf_count_t count, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const auto end = static_cast<std::size_t>(file->position + count);
    if (end > file->bytes.size()) {
        file->bytes.resize(end);
    }
    std::memcpy(file->bytes.data() + file->position, source, static_cast<std::size_t>(count));
    file->position += count;
    return count;
}

sf_count_t memoryTell(void* user)
{
    return static_cast<MemoryFile*>(user)->position;
}

// The checksum of an Ogg page: CRC-32 with polynomial 0x04C11DB7, no reflection, starting at 0.
std::uint32_t oggPageChecksum(std::span<const std::uint8_t> page)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t index = 0; index < 256; ++index) {
            std::uint32_t value = index << 24;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 0x80000000U) != 0 ? (value << 1) ^ 0x04C11DB7U : value << 1;
            }
            entries[index] = value;
        }
        return entries;
    }();
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : page) {
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xFF];
    }
    return crc;
}

void putU32le(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The encoder numbers each Ogg stream with a serial drawn from the clock, so the same sound
// encoded twice differs in every page. A serial from the file's name makes a build repeatable;
// every page it changes then gets its checksum again.
void setOggSerial(std::vector<std::uint8_t>& bytes, std::uint32_t serial)
{
    constexpr std::size_t kHeaderBytes = 27;  // up to the segment count
    std::size_t at = 0;
    while (bytes.size() - at >= kHeaderBytes && std::memcmp(bytes.data() + at, "OggS", 4) == 0) {
        const std::size_t segments = bytes[at + 26];
        if (bytes.size() - at - kHeaderBytes < segments) {
            return;
        }
        std::size_t bodyBytes = 0;
        for (std::size_t segment = 0; segment < segments; ++segment) {
            bodyBytes += bytes[at + kHeaderBytes + segment];
        }
        const std::size_t pageBytes = kHeaderBytes + segments + bodyBytes;
        if (bytes.size() - at < pageBytes) {
            return;
        }
        std::uint8_t* page = bytes.data() + at;
        if (page[14] == (serial & 0xFF) && page[15] == ((serial >> 8) & 0xFF) && page[16] == ((serial >> 16) & 0xFF) &&
            page[17] == serial >> 24) {
            // Already of this serial, and so already summed: the bytes a build kept of a file of
            // the same name are taken as they are, with no checksum computed again.
            at += pageBytes;
            continue;
        }
        putU32le(page + 14, serial);
        putU32le(page + 22, 0);
        putU32le(page + 22, oggPageChecksum({page, pageBytes}));
        at += pageBytes;
    }
}

// One 16-bit step: sides closer than this write the same samples to a 16-bit file.
constexpr float kSideStep = 1.0F / 32768;

// True when every frame's two sides lie within one step of each other.
bool sidesAlike(std::span<const float> stereo)
{
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
        if (!(std::fabs(stereo[i] - stereo[i + 1]) <= kSideStep)) {
            return false;
        }
    }
    return !stereo.empty();
}

std::vector<float> monoOf(std::span<const float> stereo)
{
    std::vector<float> mono(stereo.size() / 2);
    for (std::size_t frame = 0; frame < mono.size(); ++frame) {
        mono[frame] = (stereo[2 * frame] + stereo[2 * frame + 1]) / 2;
    }
    return mono;
}

// FNV-1a of the file's name: the same name gets the same serial in every build.
std::uint32_t serialOfName(const std::filesystem::path& target)
{
    std::uint32_t hash = 2166136261U;
    for (const char c : target.filename().string()) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619U;
    }
    return hash;
}

// Encodes `width` interleaved channels (1 or 2) of `interleaved` in memory.
Result<std::vector<std::uint8_t>> encodeChannels(const std::filesystem::path& target,
                                                 std::span<const float> interleaved, int width, SoundFormat format,
                                                 double quality, int sampleRate, ProgressSink& progress)
{
    if (!(quality >= 0 && quality <= 1)) {
        return Error{ErrorCode::InvalidSetting, "the OGG Vorbis quality must be a number from 0 to 1"}.about("quality");
    }
    auto refused = [&](const std::string& reason) {
        return fileError(ErrorCode::WriteFailed, target, "write", reason);
    };
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    MemoryFile memory;
    if (format == SoundFormat::Wave) {
        memory.bytes.reserve(interleaved.size() * 2 + 64);  // 16-bit samples and the header
    }
    if (sampleRate <= 0) {
        return refused("no sample rate");
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = width;
    info.format =
        format == SoundFormat::OggVorbis ? (SF_FORMAT_OGG | SF_FORMAT_VORBIS) : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* sound = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (sound == nullptr) {
        return refused("the encoder refused the format");
    }
    sf_command(sound, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (format == SoundFormat::OggVorbis) {
        double vorbisQuality = quality;
        sf_command(sound, SFC_SET_VBR_ENCODING_QUALITY, &vorbisQuality, sizeof(vorbisQuality));
    }
    // In blocks: the Vorbis encoder takes what one call gives it as a single analysis buffer,
    // and minutes of sound in one call crash it.
    constexpr sf_count_t kEncoderBlockFrames = 4096;
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(width));
    constexpr sf_count_t kBlocksBetweenPolls = 16;
    std::string encoderError;
    for (sf_count_t done = 0; done < frames && encoderError.empty(); done += kEncoderBlockFrames) {
        if (done % (kEncoderBlockFrames * kBlocksBetweenPolls) == 0 && progress.stopRequested()) {
            sf_close(sound);
            return Error{ErrorCode::Cancelled, "encoding stopped; " + displayPath(target) + " was not written"};
        }
        const sf_count_t block = std::min(kEncoderBlockFrames, frames - done);
        if (sf_writef_float(sound, interleaved.data() + done * width, block) != block) {
            encoderError = sf_strerror(sound);
        }
    }
    if (sf_close(sound) != 0 && encoderError.empty()) {
        return refused("the encoder failed");
    }
    if (!encoderError.empty()) {
        return refused(encoderError);
    }
    if (progress.stopRequested()) {
        return Error{ErrorCode::Cancelled, "encoding stopped; " + displayPath(target) + " was not written"};
    }
    if (format == SoundFormat::OggVorbis) {
        setOggSerial(memory.bytes, serialOfName(target));
    }
    return std::move(memory.bytes);
}

}  // namespace

std::string_view soundFileExtension(SoundFormat format)
{
    return format == SoundFormat::OggVorbis ? ".ogg" : ".wav";
}

Status writeSoundFile(const std::filesystem::path& target, std::span<const float> interleaved, SoundFormat format,
                      double quality, int sampleRate)
{
    NullProgress quiet;
    return writeSoundFile(target, interleaved, format, quality, sampleRate, quiet);
}

Status writeSoundFile(const std::filesystem::path& target, std::span<const float> interleaved, SoundFormat format,
                      double quality, int sampleRate, ProgressSink& progress)
{
    auto encoded = encodeSound(target, interleaved, format, quality, sampleRate, progress, SoundChannels::Stereo);
    if (!encoded) {
        return encoded.error();
    }
    return writeSoundBytes(target, *encoded, realFileSystem());
}

Result<std::vector<std::uint8_t>> encodeSound(const std::filesystem::path& target, std::span<const float> stereo,
                                              SoundFormat format, double quality, int sampleRate,
                                              ProgressSink& progress, SoundChannels channels)
{
    if (channels == SoundChannels::MonoWhereAlike && sidesAlike(stereo)) {
        const std::vector<float> mono = monoOf(stereo);
        return encodeChannels(target, mono, 1, format, quality, sampleRate, progress);
    }
    return encodeChannels(target, stereo, kChannelCount, format, quality, sampleRate, progress);
}

void renameOggStream(std::vector<std::uint8_t>& bytes, const std::filesystem::path& target)
{
    setOggSerial(bytes, serialOfName(target));
}

Status writeSoundBytes(const std::filesystem::path& target, std::span<const std::uint8_t> bytes, FileSystem& files)
{
    return writeFileAtomically(target, bytes, files);
}

}  // namespace zentrowe::audio
