#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zentrowe {

// Text bytes from a MIDI file as UTF-8. MIDI does not say how text is encoded; songs from the
// Chinese-speaking community are mostly code page 936 (GBK), newer tools write UTF-8. Text that
// is entirely valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) is kept;
// anything else is decoded as code page 936, and a byte that starts no valid character becomes
// one U+FFFD, decoding going on at the next byte.
std::string decodeMidiText(std::span<const std::uint8_t> bytes);

bool isValidUtf8(std::span<const std::uint8_t> bytes);

// `text` with A-Z made a-z and every other byte as it is: file names compared as the file
// systems that ignore case compare them, whatever the locale.
std::string lowerAscii(std::string text);

// Text bytes whose encoding nothing states, as UTF-8, by what decodes them whole and reads most
// plausibly: valid UTF-8 is kept; else Shift_JIS (code page 932), GBK (code page 936) and
// cp1252 are tried, and the one that decodes every byte with the likeliest characters wins
// (kana and the common kanji for Shift_JIS; the GB2312 hanzi for GBK; a Latin letter or sign
// among ASCII for cp1252). Ties go to GBK, then Shift_JIS. Never holds a U+FFFD: a replacement
// character in the input is dropped, and a byte no encoding decodes (as 0x81 in cp1252) with it.
std::string decodeDetectedText(std::span<const std::uint8_t> bytes);

// MIDI text for the listings (track names, event texts), as UTF-8, by the same detection as
// decodeDetectedText, but as a listing shows it: every character kept, control characters
// included, so that a row keeps its layout. Text no encoding decodes whole is decoded as
// decodeMidiText does (code page 936, U+FFFD for a byte that starts no character).
std::string decodeListedText(std::span<const std::uint8_t> bytes);

// UTF-8 text in Shift_JIS (code page 932, as BMS players read chart text); nothing if a
// character has no Shift_JIS form or the text is not valid UTF-8.
std::optional<std::string> encodeShiftJis(std::string_view utf8);

// Text in UTF-16 that starts with its byte-order mark (FF FE little-endian, FE FF big-endian) as
// UTF-8 without the mark; an unpaired surrogate or a last odd byte becomes U+FFFD. Nothing if
// the bytes do not start with a UTF-16 byte-order mark.
std::optional<std::string> decodeUtf16WithByteOrderMark(std::span<const std::uint8_t> bytes);

}  // namespace zentrowe
