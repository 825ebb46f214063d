#include "core/audio/channel_prelude.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zentrowe::testing {
namespace {

using audio::ChannelPrelude;

struct Sent {
    int status;
    int data1;
    int data2;
};

std::string listing(const std::vector<Sent>& events)
{
    std::string text;
    char buffer[16];
    for (const auto& event : events) {
        std::snprintf(buffer, sizeof buffer, "%02X %d %d; ", event.status, event.data1, event.data2);
        text += buffer;
    }
    return text;
}

std::vector<Sent> preludeOf(const std::vector<Sent>& events)
{
    ChannelPrelude prelude;
    std::int64_t frame = 0;
    for (const auto& event : events) {
        prelude.add({frame++, static_cast<std::uint8_t>(event.status), static_cast<std::uint8_t>(event.data1),
                     static_cast<std::uint8_t>(event.data2)});
    }
    std::vector<Sent> kept;
    for (const auto& event : prelude.events()) {
        EXPECT_EQ(event.frame, 0);
        kept.push_back({event.status, event.data1, event.data2});
    }
    return kept;
}

TEST(ChannelPrelude, KeepsWhatNoLaterEventUndoesInTheOrderSent)
{
    struct Case {
        const char* name;
        std::vector<Sent> sent;
        std::vector<Sent> kept;
    };
    const std::vector<Case> cases = {
        {"the last bend of each channel",
         {{0xE0, 0, 10}, {0xE1, 0, 20}, {0xE0, 0, 30}, {0xE0, 5, 40}},
         {{0xE1, 0, 20}, {0xE0, 5, 40}}},
        {"one volume per channel",
         {{0xB0, 7, 10}, {0xB1, 7, 20}, {0xB0, 7, 30}, {0xB0, 11, 90}},
         {{0xB1, 7, 20}, {0xB0, 7, 30}, {0xB0, 11, 90}}},
        {"notes are no state", {{0x90, 60, 100}, {0x80, 60, 0}, {0x90, 61, 0}}, {}},
        {"a key's pressure per key",
         {{0xA0, 60, 10}, {0xA0, 61, 20}, {0xA0, 60, 30}},
         {{0xA0, 61, 20}, {0xA0, 60, 30}}},
        {"Poly undoes Mono", {{0xB0, 126, 1}, {0xB0, 127, 0}}, {{0xB0, 127, 0}}},
        // The program plays bank 1; bank 2 waits for the next program change.
        {"a bank select stays where a program change read it",
         {{0xB0, 0, 1}, {0xC0, 5, 0}, {0xB0, 0, 2}},
         {{0xB0, 0, 1}, {0xC0, 5, 0}, {0xB0, 0, 2}}},
        {"until another program change reads the next",
         {{0xB0, 0, 1}, {0xB0, 32, 3}, {0xC0, 5, 0}, {0xB0, 0, 2}, {0xC0, 6, 0}},
         {{0xB0, 32, 3}, {0xB0, 0, 2}, {0xC0, 6, 0}}},
        // The reset nulls the selection: the second data entry sets nothing, the first the range.
        {"data entry keeps its selection and the reset before it",
         {{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, 12}, {0xB0, 121, 0}, {0xB0, 6, 5}, {0xB0, 121, 0}},
         {{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, 12}, {0xB0, 121, 0}, {0xB0, 6, 5}, {0xB0, 121, 0}}},
        {"a reset no data entry follows undoes the one before",
         {{0xB0, 121, 0}, {0xB0, 64, 127}, {0xB0, 121, 0}},
         {{0xB0, 64, 127}, {0xB0, 121, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(listing(preludeOf(c.sent)), listing(c.kept));
    }
}

TEST(ChannelPrelude, MillionsOfEventsLeaveAFewPerChannel)
{
    ChannelPrelude prelude;
    for (int i = 0; i < 2'000'000; ++i) {
        const auto channel = static_cast<std::uint8_t>(i % 16);
        const auto value = static_cast<std::uint8_t>(i / 16 % 128);
        if (i % 3 == 0) {
            prelude.add({i, static_cast<std::uint8_t>(0xE0 | channel), value, value});
        } else {
            prelude.add({i, static_cast<std::uint8_t>(0xB0 | channel), 11, value});
        }
        if (i % 100'000 < 16) {
            prelude.add({i, static_cast<std::uint8_t>(0xC0 | channel), value, 0});
            prelude.add({i, static_cast<std::uint8_t>(0xB0 | channel), 0, value});
        }
    }
    // Per channel: its expression, its bend, the bank select its last program change read, that
    // program change and the bank select after it.
    EXPECT_EQ(prelude.events().size(), 16u * 5);
}

}  // namespace
}  // namespace zentrowe::testing
