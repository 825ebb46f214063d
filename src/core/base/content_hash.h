#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "core/base/result.h"

namespace zentrowe {

// A 64-bit hash of bytes, fed in pieces of any size: the same bytes give the same value however
// they are cut, on one machine (words are read in its byte order). Not for secrets: it tells a
// damaged or another file from the one expected, and names a kept file after what made it.
class ContentHash {
public:
    void add(std::span<const std::uint8_t> bytes);
    void add(std::string_view text);
    // The hash of everything added so far (more may be added after).
    std::uint64_t value() const;

private:
    void mix(std::uint64_t word);

    std::uint64_t m_state = 0x9E3779B97F4A7C15ULL;
    std::uint64_t m_pending = 0;  // bytes not yet a whole word, first byte lowest
    unsigned m_pendingBytes = 0;
    std::uint64_t m_length = 0;
};

std::uint64_t contentHash(std::span<const std::uint8_t> bytes);
std::uint64_t contentHash(std::string_view text);

// The hash of a whole file's bytes, read a piece at a time (a soundfont is 150 MB). CannotOpen
// naming the file if it cannot be read.
Result<std::uint64_t> fileContentHash(const std::filesystem::path& path);

// Sixteen lower-case hex digits.
std::string hashText(std::uint64_t hash);

}  // namespace zentrowe
