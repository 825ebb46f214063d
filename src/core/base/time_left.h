#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zentrowe {

// The seconds a stage has left at the rate it has gone so far: `done` of `total` units in
// `elapsedSeconds`. None until a unit is done and a second has passed (before that the rate is
// noise), and none for figures that say nothing (done past total, a negative time).
std::optional<double> secondsLeft(double elapsedSeconds, std::int64_t done, std::int64_t total);

// Seconds as a clock shows a duration, rounded up to a whole second: "0:07", "12:30", "1:02:03".
std::string durationText(double seconds);

}  // namespace zentrowe
