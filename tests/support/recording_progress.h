#pragma once

#include <cstdint>
#include <vector>

#include "core/base/progress.h"

namespace zentrowe::testing {

// Keeps every position a pass reports and asks it to stop once it has reported `stopAfter`.
struct RecordingProgress final : ProgressSink {
    explicit RecordingProgress(std::size_t steps) : stopAfter(steps) { }
    void advance(std::int64_t done, std::int64_t) override { positions.push_back(done); }
    bool stopRequested() const override { return positions.size() >= stopAfter; }

    std::size_t stopAfter;
    std::vector<std::int64_t> positions;
};

}  // namespace zentrowe::testing
