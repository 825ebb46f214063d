#pragma once

#include <span>

namespace zentrowe::song {

// The window the peak density is counted over: two seconds, long enough that a chord or a flam
// does not count as a burst, short enough that a player's reading of a run does.
inline constexpr double kPeakWindowSeconds = 2.0;

// How dense notes are, in notes per second, as the track list, `tracks --details`, a chart's
// picture, the build report and the level all count it.
struct NoteDensity {
    // The notes over how long they play: from the first start to the last end, at least one
    // second, so that a short track's density stays finite.
    double average = 0;
    // The most notes starting within any kPeakWindowSeconds, per second; never below the
    // average (a track shorter than the window has no window denser than itself).
    double peak = 0;
};

// The density of notes starting at `startSeconds` (in time order) whose last one ends at
// `lastEndSeconds`. No notes give 0 and 0; an end before the last start counts as that start.
NoteDensity noteDensity(std::span<const double> startSeconds, double lastEndSeconds);

// The most of `startSeconds` (in time order) within any `windowSeconds`, per second; 0 for no
// notes or a window that is not positive.
double busiestDensity(std::span<const double> startSeconds, double windowSeconds);

}  // namespace zentrowe::song
