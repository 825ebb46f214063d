#include "core/song/tempo_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace zentrowe::song {
namespace {

TEST(TempoClock, SecondsFollowTheTempoMap)
{
    struct Case {
        const char* name;
        std::int32_t ticksPerQuarter;
        std::vector<TempoChange> tempoMap;
        std::int64_t tick;
        double seconds;
    };
    const std::vector<Case> cases{
        {"no tempo: 120 BPM", 480, {}, 960, 1.0},
        {"a tempo at tick 0 replaces the default", 480, {{250000, 0}}, 960, 0.5},
        {"a change applies from its tick on", 480, {{1000000, 480}}, 1440, 0.5 + 2.0},
        {"of two at one tick the later wins", 480, {{1000000, 480}, {250000, 480}}, 960, 0.5 + 0.25},
        {"three segments", 96, {{600000, 96}, {300000, 192}}, 288, 0.5 + 0.6 + 0.3},
        {"division 0 is taken as 1", 0, {}, 2, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempoClock clock(c.ticksPerQuarter, c.tempoMap);
        EXPECT_NEAR(clock.seconds(c.tick), c.seconds, 1e-12);
    }
}

}  // namespace
}  // namespace zentrowe::song
