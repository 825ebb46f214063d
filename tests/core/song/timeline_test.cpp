#include "core/song/timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace zentrowe::song {
namespace {

constexpr std::int64_t kHugeTick = std::numeric_limits<std::int64_t>::max();

// Tempo maps crossed with ticks: each row a map, each column a tick and the seconds it falls at,
// worked out by hand from the map (seconds a quarter = tempo / 1,000,000).
TEST(Timeline, SecondsAndFramesFollowTheTempoMap)
{
    struct At {
        std::int64_t tick;
        double seconds;
    };
    struct Case {
        const char* name;
        std::int32_t ticksPerQuarter;
        std::vector<TempoChange> tempoMap;
        std::vector<At> times;
    };
    const std::vector<Case> cases{
        {"no tempo: 120 BPM", 480, {}, {{0, 0.0}, {480, 0.5}, {960, 1.0}, {-480, -0.5}}},
        {"a tempo at tick 0 replaces the default", 480, {{250000, 0}}, {{960, 0.5}, {-960, -0.5}}},
        {"before the first tempo the default holds", 480, {{1000000, 480}}, {{240, 0.25}, {480, 0.5}, {1440, 2.5}}},
        {"of two at one tick the later wins", 480, {{1000000, 480}, {250000, 480}}, {{960, 0.75}}},
        {"three segments", 96, {{600000, 96}, {300000, 192}}, {{96, 0.5}, {192, 1.1}, {288, 1.4}}},
        {"60 BPM turning 240 at beat 6", 96, {{1000000, 0}, {250000, 576}}, {{384, 4.0}, {576, 6.0}, {768, 6.5}}},
        {"a tempo before tick 0 starts at tick 0", 96, {{1000000, -50}}, {{96, 1.0}, {-96, -1.0}}},
        {"division 0 is taken as 1", 0, {}, {{2, 1.0}}},
    };
    for (const Case& c : cases) {
        const Timeline timeline(c.ticksPerQuarter, c.tempoMap);
        for (const At& at : c.times) {
            SCOPED_TRACE(std::string(c.name) + ", tick " + std::to_string(at.tick));
            EXPECT_NEAR(timeline.seconds(at.tick), at.seconds, 1e-12);
            EXPECT_EQ(timeline.frame(at.tick, 44100), std::llround(at.seconds * 44100));
        }
    }
}

// A steady timeline is the one tempo of "K-Midi.mid": a recording's cut points must keep their
// bytes, so its seconds are ticks × tempo / 1,000,000 / division to the last bit.
TEST(Timeline, SteadyTimeIsTheOneTempoFromTickZero)
{
    const std::vector<std::pair<std::int64_t, std::uint32_t>> cases{
        {0, 500000}, {1, 500000}, {97, 123457}, {1000003, 640000}, {std::int64_t{1} << 50, 16777215}};
    for (const auto& [tick, tempo] : cases) {
        SCOPED_TRACE(std::to_string(tick) + " ticks at " + std::to_string(tempo));
        const double expected = static_cast<double>(tick) * static_cast<double>(tempo) / 1000000.0 / 96.0;
        EXPECT_EQ(Timeline::steady(96, tempo).seconds(tick), expected);
    }
}

// A held note lasts its seconds under every tempo it crosses: at a steady tempo it is that many
// ticks of it.
TEST(Timeline, TicksAtATempoLastAsLongAsTheSpan)
{
    const std::vector<TempoChange> turning{{1000000, 0}, {250000, 576}};  // 60 BPM, 240 from beat 6 (96 a beat)
    struct Case {
        const char* name;
        std::int64_t from;
        std::int64_t to;
        std::uint32_t tempo;
        std::int64_t ticks;
    };
    const std::vector<Case> cases{
        {"within the first tempo, at it", 0, 384, 1000000, 384},
        {"beats 4 to 8 cross the turn: 2.5 s, 2.5 beats at 60 BPM", 384, 768, 1000000, 240},
        {"the same at 240 BPM: 10 beats", 384, 768, 250000, 960},
        {"after the turn, at the later tempo", 768, 1152, 250000, 384},
        {"after the turn, at 60 BPM: a quarter as many", 768, 1152, 1000000, 96},
        {"an empty span", 500, 500, 1000000, 0},
        {"a span backwards", 500, 400, 1000000, 0},
        {"from a negative tick", -96, 96, 1000000, 192},
        {"a huge span is held, not overflowed", std::numeric_limits<std::int64_t>::min(), kHugeTick, 1,
         std::int64_t{1} << 62},
    };
    const Timeline timeline(96, turning);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(timeline.ticksAtTempo(c.from, c.to, c.tempo), c.ticks);
    }
}

TEST(Timeline, HugeTicksGiveHeldFramesNotOverflow)
{
    const Timeline timeline(1, std::vector<TempoChange>{{16777215, 0}});  // the slowest tempo, one tick a quarter
    EXPECT_EQ(timeline.frame(kHugeTick, 44100), std::int64_t{1} << 62);
    EXPECT_EQ(timeline.frame(std::numeric_limits<std::int64_t>::min(), 44100), -(std::int64_t{1} << 62));
    EXPECT_GT(timeline.seconds(kHugeTick), 1e18);
    EXPECT_EQ(timeline.frames(0, 1, 44100), std::llround(16.777215 * 44100));
}

}  // namespace
}  // namespace zentrowe::song
