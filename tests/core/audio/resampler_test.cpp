#include "core/audio/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zentrowe::audio {
namespace {

// A steady level keeps its value through any rate change, away from the ends.
TEST(Resampler, KeepsALevelThroughRatiosPastWhatOneStepTakes)
{
    struct Case {
        int fromRate;
        int toRate;
    };
    for (const auto& [fromRate, toRate] : std::vector<Case>{{100, 44100}, {22050, 44100}, {768000, 1000}, {44100, 48000}}) {
        SCOPED_TRACE(std::to_string(fromRate) + " -> " + std::to_string(toRate));
        const std::vector<float> level(static_cast<std::size_t>(fromRate) * 2 * 2, 0.5F);  // two seconds
        const auto out = resampleStereo(level, fromRate, toRate);
        ASSERT_TRUE(out.ok()) << out.error().message;
        EXPECT_NEAR(static_cast<double>(out->size()) / 2, 2.0 * toRate, 0.01 * toRate + 2);
        const std::size_t middle = out->size() / 4 * 2;
        EXPECT_NEAR((*out)[middle], 0.5F, 0.01F);
        EXPECT_NEAR((*out)[middle + 1], 0.5F, 0.01F);
    }
}

TEST(Resampler, BlocksGiveWhatOneCallGives)
{
    std::vector<float> tone(8000 * 2);
    for (std::size_t frame = 0; frame < tone.size() / 2; ++frame) {
        tone[frame * 2] = tone[frame * 2 + 1] = static_cast<float>(std::sin(static_cast<double>(frame) * 0.1));
    }
    const auto whole = resampleStereo(tone, 8000, 44100);
    ASSERT_TRUE(whole.ok());
    auto resampler = StreamResampler::open(8000, 44100);
    ASSERT_TRUE(resampler.ok());
    std::vector<float> blocks;
    for (std::size_t at = 0; at < tone.size(); at += 1000) {
        const std::span<const float> block(tone.data() + at, std::min<std::size_t>(1000, tone.size() - at));
        ASSERT_TRUE(resampler->process(block, false, blocks).ok());
    }
    ASSERT_TRUE(resampler->process({}, true, blocks).ok());
    ASSERT_EQ(blocks.size(), whole->size());
    for (std::size_t i = 0; i < blocks.size(); i += 97) {
        EXPECT_NEAR(blocks[i], (*whole)[i], 1e-3F) << i;
    }
}

TEST(Resampler, RefusesRatesOfZeroOrLess)
{
    const std::vector<float> some(64, 0.5F);
    EXPECT_EQ(resampleStereo(some, 0, 44100).error().code, ErrorCode::InvalidSetting);
    EXPECT_EQ(resampleStereo(some, 44100, -1).error().code, ErrorCode::InvalidSetting);
}

}  // namespace
}  // namespace zentrowe::audio
