#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/base/result.h"

namespace zentrowe::keysound {

// A recording open for reading at any offset, read once per cut run rather than once per
// keysound.
class RecordingFile {
public:
    // CannotOpen naming the file if it cannot be opened or is not a regular file (checked
    // before opening, so a FIFO never makes it wait).
    static Result<RecordingFile> open(const std::filesystem::path& path);

    RecordingFile(RecordingFile&& other) noexcept;
    RecordingFile& operator=(RecordingFile&& other) noexcept;
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile();

    std::uint64_t size() const { return m_size; }
    int fd() const { return m_fd; }
    const std::string& name() const { return m_name; }
    // Device and inode, to tell whether another path names this very file.
    bool isSameFileAs(const std::filesystem::path& other) const;

    // Fills `out` from `offset`; returns how many bytes the file had there (fewer at its end).
    // CannotOpen naming the file if reading fails.
    Result<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> out) const;

private:
    RecordingFile(int fd, std::uint64_t size, std::uint64_t device, std::uint64_t inode, std::string name);

    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::string m_name;
};

enum class SampleFormat { Pcm, Float };

// What a cut needs to know of a RIFF/WAVE file.
struct WaveLayout {
    std::uint64_t dataTagOffset = 0;  // offset of the "data" tag; its size field follows
    std::uint64_t dataStart = 0;      // first sample byte: dataTagOffset + 8
    // Sample bytes the data chunk holds: its size field when that fits in the file, else up to
    // the end of the file.
    std::uint64_t dataSize = 0;
    SampleFormat sampleFormat = SampleFormat::Pcm;
    std::uint16_t formatTag = 0;  // as stored: 1, 3 or 0xFFFE (extensible)
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;    // bytes per second, as the "fmt " chunk states it
    std::uint16_t blockAlign = 0;  // bytes per frame
    std::uint16_t bitsPerSample = 0;
    // Offsets of the frame counts of "fact" chunks (4 bytes or more) before "data".
    std::vector<std::uint64_t> factCountOffsets;
    // "JUNK" and "PAD " chunks before "data", as (offset of the chunk id, bytes with its
    // header and pad byte), in file order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> paddingChunks;
};

// Walks the chunks from offset 12 (each word-aligned: an odd size is followed by a pad byte)
// up to the first "data" chunk. The last "fmt " chunk of 16 bytes or more before it describes
// the samples. NotPcmWave naming the file: no "RIFF"/"WAVE" header, no such "fmt " chunk before
// "data", no "data" chunk, block align or byte rate 0, or a format other than PCM and IEEE
// float (plain or inside WAVE_FORMAT_EXTENSIBLE). CannotOpen if reading fails.
Result<WaveLayout> readWaveLayout(const RecordingFile& file);

}  // namespace zentrowe::keysound
