#include "core/song/note_density.h"

#include <algorithm>

namespace zentrowe::song {

double busiestDensity(std::span<const double> startSeconds, double windowSeconds)
{
    if (!(windowSeconds > 0)) {
        return 0;
    }
    double busiest = 0;
    std::size_t last = 0;
    for (std::size_t first = 0; first < startSeconds.size(); ++first) {
        while (last < startSeconds.size() && startSeconds[last] < startSeconds[first] + windowSeconds) {
            ++last;
        }
        busiest = std::max(busiest, static_cast<double>(last - first) / windowSeconds);
    }
    return busiest;
}

NoteDensity noteDensity(std::span<const double> startSeconds, double lastEndSeconds)
{
    if (startSeconds.empty()) {
        return {};
    }
    const double playing = std::max(1.0, std::max(lastEndSeconds, startSeconds.back()) - startSeconds.front());
    NoteDensity density;
    density.average = static_cast<double>(startSeconds.size()) / playing;
    density.peak = std::max(busiestDensity(startSeconds, kPeakWindowSeconds), density.average);
    return density;
}

}  // namespace zentrowe::song
