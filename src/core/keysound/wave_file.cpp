#include "core/keysound/wave_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "core/base/byte_reader.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/native_io.h"
#include "core/base/number_text.h"

namespace zentrowe::keysound {

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// WAVE_FORMAT_EXTENSIBLE: 16 plain bytes, cbSize, valid bits, channel mask, then the sub-format
// GUID whose first two bytes are the plain format tag.
constexpr std::size_t kExtensibleFmtSize = 40;
constexpr std::size_t kSubFormatOffset = 24;

Error cannotRead(const std::string& name, int reason)
{
    return fileError(ErrorCode::CannotOpen, name, "read", reason);
}

// `rule` names what the file broke, for faces that word the refusal themselves.
Error notWave(const std::string& name, const char* rule, const std::string& why)
{
    return Error{ErrorCode::NotPcmWave, name + ": " + why}.inFile(name).about(rule);
}

bool hasId(std::span<const std::uint8_t> id, std::string_view expected)
{
    return id.size() == 4 && std::memcmp(id.data(), expected.data(), 4) == 0;
}

std::string formatName(std::uint16_t tag)
{
    return "0x" + hexText(tag, 4, true);
}

struct FmtChunk {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::optional<std::uint16_t> subFormat;  // extensible only, when the chunk holds it
};

FmtChunk parseFmt(std::span<const std::uint8_t> body)
{
    ByteReader in(body);
    FmtChunk fmt;
    fmt.formatTag = in.u16le().value_or(0);
    fmt.channels = in.u16le().value_or(0);
    fmt.sampleRate = in.u32le().value_or(0);
    fmt.byteRate = in.u32le().value_or(0);
    fmt.blockAlign = in.u16le().value_or(0);
    fmt.bitsPerSample = in.u16le().value_or(0);
    if (body.size() >= kExtensibleFmtSize) {
        ByteReader guid(body.subspan(kSubFormatOffset));
        fmt.subFormat = guid.u16le();
    }
    return fmt;
}

}  // namespace

RecordingFile::RecordingFile(int fd, std::uint64_t size, std::uint64_t device, std::uint64_t inode, std::string name)
    : m_fd(fd), m_size(size), m_device(device), m_inode(inode), m_name(std::move(name))
{
}

RecordingFile::RecordingFile(RecordingFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_size(other.m_size),
      m_device(other.m_device),
      m_inode(other.m_inode),
      m_name(std::move(other.m_name))
{
}

RecordingFile& RecordingFile::operator=(RecordingFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
        m_device = other.m_device;
        m_inode = other.m_inode;
        m_name = std::move(other.m_name);
    }
    return *this;
}

RecordingFile::~RecordingFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Result<RecordingFile> RecordingFile::open(const std::filesystem::path& path)
{
    auto opened = openRegularFile(path);
    if (!opened) {
        return opened.error();
    }
    ::posix_fadvise(opened->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return RecordingFile(opened->fd, opened->size, opened->device, opened->inode, displayPath(path));
}

bool RecordingFile::isSameFileAs(const std::filesystem::path& other) const
{
    struct stat info { };
    if (::stat(other.c_str(), &info) != 0) {
        return false;
    }
    return static_cast<std::uint64_t>(info.st_dev) == m_device && static_cast<std::uint64_t>(info.st_ino) == m_inode;
}

Result<std::size_t> RecordingFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    std::size_t filled = 0;
    while (filled < out.size() && offset + filled < m_size) {
        const ssize_t got =
            ::pread(m_fd, out.data() + filled, out.size() - filled, static_cast<off_t>(offset + filled));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return cannotRead(m_name, errno);
        }
        if (got == 0) {
            break;  // the file shrank since it was opened
        }
        filled += static_cast<std::size_t>(got);
    }
    return filled;
}

namespace {

// The chunks up to "data": where it lies (set in `layout` with the "fact" counts and the padding
// chunks, `foundData` true) and the last "fmt " chunk before it. The walk stops at a chunk that
// runs past the file's end.
Result<std::optional<FmtChunk>> walkChunks(const RecordingFile& file, WaveLayout& layout, bool& foundData)
{
    std::optional<FmtChunk> fmt;
    std::uint64_t pos = 12;
    while (file.size() - pos >= 8) {
        std::array<std::uint8_t, 8> header{};
        auto got = file.readAt(pos, header);
        if (!got) {
            return got.error();
        }
        if (*got < header.size()) {
            break;
        }
        ByteReader in(header);
        const auto id = *in.take(4);
        const std::uint64_t size = *in.u32le();
        const std::uint64_t bodyStart = pos + 8;
        if (hasId(id, "data")) {
            layout.dataTagOffset = pos;
            layout.dataStart = bodyStart;
            const std::uint64_t available = file.size() - bodyStart;
            layout.dataSize = size > available ? available : size;
            foundData = true;
            break;
        }
        if (hasId(id, "fmt ") && size >= 16) {
            std::array<std::uint8_t, kExtensibleFmtSize> body{};
            const std::size_t wanted = size < body.size() ? static_cast<std::size_t>(size) : body.size();
            got = file.readAt(bodyStart, std::span(body).first(wanted));
            if (!got) {
                return got.error();
            }
            if (*got < 16) {
                break;  // the file ends inside the chunk, so no "data" can follow
            }
            fmt = parseFmt(std::span(body).first(*got));
        } else if (hasId(id, "fact") && size >= 4 && file.size() - bodyStart >= 4) {
            layout.factCountOffsets.push_back(bodyStart);
        }
        const std::uint64_t padded = size + (size & 1u);
        if (padded > file.size() - bodyStart) {
            break;
        }
        if (hasId(id, "JUNK") || hasId(id, "PAD ")) {
            layout.paddingChunks.emplace_back(pos, 8 + padded);
        }
        pos = bodyStart + padded;
    }
    return fmt;
}

// The format chunk's figures into `layout`, or why they cannot time a cut.
Status takeFormat(const std::string& name, const FmtChunk& fmt, WaveLayout& layout)
{
    std::uint16_t tag = fmt.formatTag;
    if (tag == kFormatExtensible) {
        if (!fmt.subFormat) {
            return notWave(name, "shortExtensible", "WAVE_FORMAT_EXTENSIBLE \"fmt \" chunk shorter than 40 bytes");
        }
        tag = *fmt.subFormat;
    }
    if (tag == kFormatPcm) {
        layout.sampleFormat = SampleFormat::Pcm;
    } else if (tag == kFormatFloat) {
        layout.sampleFormat = SampleFormat::Float;
    } else {
        return notWave(name, "sampleFormat", "sample format " + formatName(tag) + " is neither PCM nor IEEE float")
            .withValue(formatName(tag));
    }
    // A format chunk that contradicts itself would place every cut wrongly, and a huge block
    // align or byte rate would pad each keysound with gigabytes of silence.
    const std::uint16_t bits = fmt.bitsPerSample;
    const bool bitsFit = layout.sampleFormat == SampleFormat::Float
                             ? (bits == 32 || bits == 64)
                             : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (fmt.channels == 0) {
        return notWave(name, "channels", "0 channels in the \"fmt \" chunk");
    }
    if (!bitsFit) {
        return notWave(name, "bitsPerSample", std::to_string(bits) + " bits per sample in the \"fmt \" chunk");
    }
    const std::uint64_t frameBytes = std::uint64_t{fmt.channels} * (bits / 8u);
    if (fmt.blockAlign != frameBytes) {
        return notWave(name, "blockAlign",
                       "block align " + std::to_string(fmt.blockAlign) + " in the \"fmt \" chunk is not " +
                           std::to_string(fmt.channels) + " channels of " + std::to_string(bits / 8u) + " bytes");
    }
    if (fmt.sampleRate == 0) {
        return notWave(name, "sampleRate", "sample rate 0 in the \"fmt \" chunk");
    }
    if (fmt.byteRate != std::uint64_t{fmt.sampleRate} * fmt.blockAlign) {
        return notWave(name, "byteRate",
                       "byte rate " + std::to_string(fmt.byteRate) + " in the \"fmt \" chunk is not " +
                           std::to_string(fmt.sampleRate) + " samples per second of " + std::to_string(fmt.blockAlign) +
                           " bytes");
    }
    layout.formatTag = fmt.formatTag;
    layout.channels = fmt.channels;
    layout.sampleRate = fmt.sampleRate;
    layout.byteRate = fmt.byteRate;
    layout.blockAlign = fmt.blockAlign;
    layout.bitsPerSample = fmt.bitsPerSample;
    return {};
}

}  // namespace

Result<WaveLayout> readWaveLayout(const RecordingFile& file)
{
    const std::string& name = file.name();
    std::array<std::uint8_t, 12> riff{};
    auto got = file.readAt(0, riff);
    if (!got) {
        return got.error();
    }
    if (*got < riff.size() || !hasId(std::span(riff).first(4), "RIFF") ||
        !hasId(std::span(riff).subspan(8, 4), "WAVE")) {
        return notWave(name, "notRiff", "not a RIFF/WAVE file");
    }
    WaveLayout layout;
    bool foundData = false;
    auto fmt = walkChunks(file, layout, foundData);
    if (!fmt) {
        return fmt.error();
    }
    if (!foundData) {
        return notWave(name, "noData", "no \"data\" chunk");
    }
    if (!*fmt) {
        return notWave(name, "noFormat", "no \"fmt \" chunk of 16 bytes or more before the \"data\" chunk");
    }
    if (auto taken = takeFormat(name, **fmt, layout); !taken) {
        return taken.error();
    }
    return layout;
}

}  // namespace zentrowe::keysound
