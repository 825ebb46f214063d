#include "core/base/content_hash.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/base/file_error.h"
#include "core/base/native_io.h"

namespace zentrowe {

namespace {

// The final mix of SplitMix64: every bit of the state reaches every bit of the value.
std::uint64_t finalMix(std::uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}

}  // namespace

void ContentHash::mix(std::uint64_t word)
{
    m_state = (m_state ^ finalMix(word)) * 0x100000001B3ULL;
    m_state ^= m_state >> 32;
}

void ContentHash::add(std::span<const std::uint8_t> bytes)
{
    m_length += bytes.size();
    std::size_t at = 0;
    while (m_pendingBytes != 0 && at < bytes.size()) {
        m_pending |= static_cast<std::uint64_t>(bytes[at++]) << (8 * m_pendingBytes);
        if (++m_pendingBytes == 8) {
            mix(m_pending);
            m_pending = 0;
            m_pendingBytes = 0;
        }
    }
    for (; bytes.size() - at >= 8; at += 8) {
        // The bytes as this machine reads a word: a cache the hash names stays on the machine.
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, sizeof word);
        mix(word);
    }
    for (; at < bytes.size(); ++at) {
        m_pending |= static_cast<std::uint64_t>(bytes[at]) << (8 * m_pendingBytes++);
    }
}

void ContentHash::add(std::string_view text)
{
    add({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::uint64_t ContentHash::value() const
{
    // The length too, so that trailing zero bytes count.
    return finalMix(m_state ^ finalMix(m_pending ^ (m_length << 3) ^ m_pendingBytes));
}

std::uint64_t contentHash(std::span<const std::uint8_t> bytes)
{
    ContentHash hash;
    hash.add(bytes);
    return hash.value();
}

std::uint64_t contentHash(std::string_view text)
{
    ContentHash hash;
    hash.add(text);
    return hash.value();
}

Result<std::uint64_t> fileContentHash(const std::filesystem::path& path)
{
    // The system's own calls: on Windows only they take paths past MAX_PATH.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fileError(ErrorCode::CannotOpen, path, "read", "cannot open it");
    }
    ContentHash hash;
    std::vector<std::uint8_t> piece(std::size_t{1} << 20);
    ssize_t got = 0;
    while ((got = ::read(fd, piece.data(), piece.size())) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return fileError(ErrorCode::CannotOpen, path, "read", "a read failed");
        }
        hash.add({piece.data(), static_cast<std::size_t>(got)});
    }
    ::close(fd);
    return hash.value();
}

std::string hashText(std::uint64_t hash)
{
    constexpr const char* kDigits = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[hash & 0xF];
        hash >>= 4;
    }
    return text;
}

}  // namespace zentrowe
