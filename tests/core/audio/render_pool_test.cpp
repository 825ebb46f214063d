#include "core/audio/render_pool.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrowe::audio {
namespace {

TEST(RenderPool, ThreadsAreAtLeastOneAndAtMostEightOrOnePerJob)
{
    struct Case {
        unsigned asked;
        std::size_t jobs;
        unsigned expected;
    };
    for (const auto& c : {Case{1, 100, 1}, Case{4, 100, 4}, Case{64, 1000, kMostRenderThreads}, Case{4, 2, 2},
                          Case{3, 0, 1}}) {
        SCOPED_TRACE(std::to_string(c.asked) + " asked, " + std::to_string(c.jobs) + " jobs");
        EXPECT_EQ(renderThreadCount(c.asked, c.jobs), c.expected);
    }
    EXPECT_GE(renderThreadCount(0, 1000), 1u);
    EXPECT_LE(renderThreadCount(0, 1000), kMostRenderThreads);
}

}  // namespace
}  // namespace zentrowe::audio
