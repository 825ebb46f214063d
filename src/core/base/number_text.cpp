#include "core/base/number_text.h"

#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <utility>

namespace zentrowe {
namespace {

// Room for any double in fixed notation with the decimals a caller asks for: 309 integer digits
// for 1.8e308, the sign, the point, and the decimals.
constexpr std::size_t kFixedRoom = 400;

std::string padAfterSign(std::string text, int width)
{
    if (width <= 0 || text.size() >= static_cast<std::size_t>(width)) {
        return text;
    }
    const std::size_t signLength = !text.empty() && text.front() == '-' ? 1 : 0;
    text.insert(signLength, static_cast<std::size_t>(width) - text.size(), '0');
    return text;
}

}  // namespace

std::string fixedText(double value, int decimals, int width)
{
    std::array<char, kFixedRoom + 120> text{};
    const auto written =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    assert(written.ec == std::errc{});
    return padAfterSign(std::string(text.data(), written.ptr), width);
}

std::string generalText(double value, int significant)
{
    std::array<char, 64> text{};
    const auto written =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, significant);
    return std::string(text.data(), written.ptr);
}

std::string shortestText(double value)
{
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), written.ptr);
}

std::string paddedText(std::int64_t value, int width)
{
    std::array<char, 24> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    return padAfterSign(std::string(text.data(), written.ptr), width);
}

std::string hexText(std::uint64_t value, int width, bool upperCase)
{
    std::array<char, 24> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value, 16);
    std::string digits(text.data(), written.ptr);
    if (upperCase) {
        for (char& c : digits) {
            c = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    return padAfterSign(std::move(digits), width);
}

std::optional<double> parseDecimal(std::string_view text)
{
    // from_chars takes no '+'; a '-' after it would make "+-1" a number.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace zentrowe
