#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Numbers as the files and reports we write spell them: '.' for the decimal point and no digit
// grouping, whatever locale the process runs in (the window takes the user's, where the C
// library's "%.2f" writes "120,00"). Built on std::to_chars and std::from_chars, which never read the locale.
namespace zentrowe {

// As the C library's "%.{decimals}f" in the C locale; padded with zeros after the sign to at least
// `width` characters, as "%0{width}.{decimals}f" is.
std::string fixedText(double value, int decimals, int width = 0);

// As the C library's "%.{significant}g" in the C locale.
std::string generalText(double value, int significant);

// The fewest digits that read back as the same double ("0.75", "1e+20").
std::string shortestText(double value);

// As the C library's "%0{width}lld": decimal digits padded with zeros after the sign.
std::string paddedText(std::int64_t value, int width);

// As the C library's "%0{width}llX" (upper case) or "%0{width}llx" for a value from 0 on.
std::string hexText(std::uint64_t value, int width, bool upperCase);

// A decimal number filling all of `text` ("120", "-14.5", "1e3", an optional leading '+'); nothing
// for anything else, an empty text, infinity or NaN included.
std::optional<double> parseDecimal(std::string_view text);

}  // namespace zentrowe
