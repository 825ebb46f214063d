#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zentrowe {

// Text bytes from a MIDI file as UTF-8. MIDI does not say how text is encoded; songs from the
// Chinese-speaking community are mostly code page 936 (GBK), newer tools write UTF-8. Text that
// is entirely valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) is kept;
// anything else is decoded as code page 936, and a byte that starts no valid character becomes
// one U+FFFD, decoding going on at the next byte.
std::string decodeMidiText(std::span<const std::uint8_t> bytes);

bool isValidUtf8(std::span<const std::uint8_t> bytes);

// Text in UTF-16 that starts with its byte-order mark (FF FE little-endian, FE FF big-endian) as
// UTF-8 without the mark; an unpaired surrogate or a last odd byte becomes U+FFFD. Nothing if
// the bytes do not start with a UTF-16 byte-order mark.
std::optional<std::string> decodeUtf16WithByteOrderMark(std::span<const std::uint8_t> bytes);

}  // namespace zentrowe
