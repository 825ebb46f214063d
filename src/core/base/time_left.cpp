#include "core/base/time_left.h"

#include <algorithm>
#include <cmath>

namespace zentrowe {

std::optional<double> secondsLeft(double elapsedSeconds, std::int64_t done, std::int64_t total)
{
    if (!(elapsedSeconds >= 1) || done <= 0 || done > total) {
        return std::nullopt;
    }
    return elapsedSeconds * static_cast<double>(total - done) / static_cast<double>(done);
}

std::string durationText(double seconds)
{
    const auto whole = static_cast<std::int64_t>(std::ceil(std::max(seconds, 0.0)));
    const auto twoDigits = [](std::int64_t value) {
        return std::string(value < 10 ? "0" : "") + std::to_string(value);
    };
    const std::int64_t hours = whole / 3600;
    const std::int64_t minutes = whole / 60 % 60;
    const std::string rest = twoDigits(whole % 60);
    if (hours > 0) {
        return std::to_string(hours) + ":" + twoDigits(minutes) + ":" + rest;
    }
    return std::to_string(minutes) + ":" + rest;
}

}  // namespace zentrowe
