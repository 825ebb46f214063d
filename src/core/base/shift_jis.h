#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zentrowe {

// Whether the bytes are whole Shift_JIS text as BMS players read it (Microsoft's code page 932,
// which adds NEC and IBM characters to JIS X 0208). ASCII alone is both. False when the system
// has no code page 932 table.
bool isShiftJisText(std::span<const std::uint8_t> bytes);

// Shift_JIS (code page 932) text as UTF-8; nothing if the bytes are not whole Shift_JIS.
std::optional<std::string> decodeShiftJis(std::string_view bytes);

// Whether UTF-8 text can be written in Shift_JIS (code page 932) without losing a character.
// False for bytes that are not UTF-8, and when the system has no code page 932 table.
bool fitsShiftJis(std::string_view utf8);

}  // namespace zentrowe
