#include "core/audio/synth_renderer.h"

#include <gtest/gtest.h>

#include <vector>

namespace zentrowe::audio {
namespace {

// Interleaved stereo: `frames` frames at `level` on both sides.
std::vector<float> frames(std::int64_t count, float level)
{
    return std::vector<float>(static_cast<std::size_t>(count) * kChannelCount, level);
}

TEST(RingOut, QuietCountsOnlyFromTheFirstSoundingSample)
{
    constexpr std::int64_t kBlock = 512;
    const float loud = 2 * kRingOutFloor;
    const float quiet = kRingOutFloor / 2;
    struct Case {
        const char* name;
        std::vector<float> head;                  // before the release
        std::vector<std::vector<float>> blocks;   // the tail
        std::vector<bool> over;                   // after each block
    };
    const std::int64_t quietBlocks = (kRingOutQuietFrames + kBlock - 1) / kBlock;  // 5 of 512 frames
    std::vector<std::vector<float>> lateStart(10, frames(kBlock, 0));        // a fifth of a second rising
    lateStart.push_back(frames(kBlock, loud));
    for (std::int64_t k = 0; k < quietBlocks; ++k) {
        lateStart.push_back(frames(kBlock, quiet));
    }
    std::vector<bool> lateOver(lateStart.size(), false);
    lateOver.back() = true;
    const std::vector<Case> cases = {
        {"a drum struck and released at once, sounding a fifth of a second later", {}, lateStart, lateOver},
        {"heard before the release, then quiet", frames(kBlock, loud),
         std::vector<std::vector<float>>(static_cast<std::size_t>(quietBlocks), frames(kBlock, 0)),
         [&] {
             std::vector<bool> over(static_cast<std::size_t>(quietBlocks), false);
             over.back() = true;
             return over;
         }()},
        {"never heard", {}, std::vector<std::vector<float>>(40, frames(kBlock, quiet)), std::vector<bool>(40, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RingOut ringOut(c.head);
        for (std::size_t k = 0; k < c.blocks.size(); ++k) {
            ringOut.take(c.blocks[k]);
            EXPECT_EQ(ringOut.over(), c.over[k]) << "after block " << k;
        }
    }
}

}  // namespace
}  // namespace zentrowe::audio
