#include "core/audio/float_wave.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>

#include "core/audio/synth_renderer.h"
#include "core/base/file_error.h"

namespace zentrowe::audio {

namespace {

static_assert(std::endian::native == std::endian::little, "spilled samples are written as the machine holds them");

constexpr std::size_t kWaveHeaderBytes = kFloatWaveHeaderBytes;

void putLittle(std::array<char, kWaveHeaderBytes>& header, std::size_t at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        header[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

}  // namespace

std::array<char, kFloatWaveHeaderBytes> floatWaveHeader(std::uint64_t dataBytes)
{
    // A RIFF size is 32 bits; past it the fields say "as large as can be", as recorders that
    // outgrow the format do, and readFloatWave goes by the file's size.
    constexpr std::uint64_t kLargest = 0xFFFFFFFF;
    const auto riffBytes = static_cast<std::uint32_t>(std::min(dataBytes + 36, kLargest));
    std::array<char, kWaveHeaderBytes> header{};
    std::memcpy(header.data(), "RIFF", 4);
    putLittle(header, 4, riffBytes, 4);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    putLittle(header, 16, 16, 4);
    putLittle(header, 20, 3, 2);
    putLittle(header, 22, kChannelCount, 2);
    putLittle(header, 24, kSampleRate, 4);
    putLittle(header, 28, kSampleRate * kChannelCount * 4, 4);
    putLittle(header, 32, kChannelCount * 4, 2);
    putLittle(header, 34, 32, 2);
    std::memcpy(header.data() + 36, "data", 4);
    putLittle(header, 40, static_cast<std::uint32_t>(std::min(dataBytes, kLargest)), 4);
    return header;
}

Status writeFloatWave(const std::filesystem::path& path, std::span<const float> interleaved)
{
    const auto header = floatWaveHeader(interleaved.size_bytes());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(header.data(), header.size());
    // Every sample, however many: a size cut to 32 bits would drop the end of the sound.
    file.write(reinterpret_cast<const char*>(interleaved.data()),
               static_cast<std::streamsize>(interleaved.size_bytes()));
    file.close();
    if (!file) {
        const int error = errno;
        return fileError(ErrorCode::WriteFailed, path, "write", error != 0 ? error : EIO);
    }
    return {};
}

Result<std::vector<float>> readFloatWave(const std::filesystem::path& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    std::ifstream file(path, std::ios::binary);
    if (error || size < kWaveHeaderBytes || !file.seekg(kWaveHeaderBytes)) {
        return fileError(ErrorCode::WriteFailed, path, "read", error ? error.value() : EIO);
    }
    std::vector<float> samples((size - kWaveHeaderBytes) / sizeof(float));
    if (!file.read(reinterpret_cast<char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof(float)))) {
        return fileError(ErrorCode::WriteFailed, path, "read", EIO);
    }
    return samples;
}

}  // namespace zentrowe::audio
