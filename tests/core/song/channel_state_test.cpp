#include "core/song/channel_state.h"

#include <gtest/gtest.h>

#include <vector>

namespace zentrowe::song {
namespace {

ChannelEvent cc(int channel, int controller, int value)
{
    return {static_cast<std::uint8_t>(0xB0 | channel), static_cast<std::uint8_t>(controller),
            static_cast<std::uint8_t>(value)};
}

TEST(ChannelStates, ControllersReachOnlyTheirOwnChannel)
{
    ChannelStates states;
    for (const auto& event : {cc(3, 7, 60), cc(3, 11, 90), cc(3, 10, 0), cc(3, 64, 127), cc(3, 1, 40),
                              cc(3, 0, 1), cc(3, 32, 2), ChannelEvent{0xC3, 30, 0}, ChannelEvent{0xD3, 77, 0},
                              ChannelEvent{0xE3, 0x00, 0x60}}) {
        states.apply(event);
    }
    const ChannelState& changed = states[3];
    EXPECT_EQ(changed.volume, 60);
    EXPECT_EQ(changed.expression, 90);
    EXPECT_EQ(changed.pan, 0);
    EXPECT_TRUE(changed.sustain);
    EXPECT_EQ(changed.modulation, 40);
    EXPECT_EQ(changed.bank(), 130);
    EXPECT_EQ(changed.program, 30);
    EXPECT_EQ(changed.pressure, 77);
    EXPECT_EQ(changed.pitchBend, 0x60 << 7);
    EXPECT_DOUBLE_EQ(changed.bendSemitones(), 1.0);  // half way up a range of 2
    EXPECT_EQ(states[2], ChannelState{});

    states.apply(cc(3, 64, 63));
    EXPECT_FALSE(states[3].sustain);
}

// Data entry sets the bend range only while registered parameter 0 is selected.
TEST(ChannelStates, DataEntryFollowsTheSelectedParameter)
{
    struct Case {
        const char* what;
        std::vector<ChannelEvent> events;
        int semitones;
        int cents;
    };
    const std::vector<Case> cases = {
        {"bend range 12", {cc(0, 101, 0), cc(0, 100, 0), cc(0, 6, 12), cc(0, 38, 50)}, 12, 50},
        {"no parameter selected", {cc(0, 6, 12)}, 2, 0},
        {"fine tuning selected", {cc(0, 101, 0), cc(0, 100, 1), cc(0, 6, 12)}, 2, 0},
        {"a non-registered parameter after", {cc(0, 101, 0), cc(0, 100, 0), cc(0, 99, 0), cc(0, 98, 0), cc(0, 6, 12)}, 2, 0},
        {"null parameter after", {cc(0, 101, 0), cc(0, 100, 0), cc(0, 101, 127), cc(0, 100, 127), cc(0, 6, 12)}, 2, 0},
        {"reset selects nothing", {cc(0, 101, 0), cc(0, 100, 0), cc(0, 121, 0), cc(0, 6, 12)}, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelStates states;
        for (const auto& event : c.events) {
            states.apply(event);
        }
        EXPECT_EQ(states[0].bendRangeSemitones, c.semitones);
        EXPECT_EQ(states[0].bendRangeCents, c.cents);
    }
}

TEST(ChannelStates, ResetAllControllersKeepsProgramVolumeAndPan)
{
    ChannelStates states;
    for (const auto& event : {cc(5, 7, 30), cc(5, 10, 100), cc(5, 11, 20), cc(5, 64, 127), cc(5, 1, 9),
                              ChannelEvent{0xC5, 12, 0}, ChannelEvent{0xE5, 0, 0}, cc(5, 121, 0)}) {
        states.apply(event);
    }
    EXPECT_EQ(states[5].volume, 30);
    EXPECT_EQ(states[5].pan, 100);
    EXPECT_EQ(states[5].program, 12);
    EXPECT_EQ(states[5].expression, 127);
    EXPECT_FALSE(states[5].sustain);
    EXPECT_EQ(states[5].modulation, 0);
    EXPECT_EQ(states[5].pitchBend, 8192);
}

// The instrument a note plays with, as a synthesiser picks it: the last program change and bank
// select on the note's channel; on the drum channel (10) bank select chooses nothing.
TEST(ChannelStates, InstrumentIsTheLastProgramAndBankOfTheChannel)
{
    struct Case {
        const char* what;
        std::vector<ChannelEvent> events;
        int channel;
        ChannelInstrument instrument;
    };
    const std::vector<Case> cases = {
        {"nothing yet: piano of bank 0", {}, 0, {0, 0, false}},
        {"program and bank", {cc(2, 0, 8), ChannelEvent{0xC2, 25, 0}}, 2, {8, 25, false}},
        {"the last of each counts",
         {cc(2, 0, 8), ChannelEvent{0xC2, 25, 0}, cc(2, 0, 1), ChannelEvent{0xC2, 30, 0}},
         2,
         {1, 30, false}},
        {"bank LSB chooses nothing", {cc(2, 32, 5)}, 2, {0, 0, false}},
        {"another channel's changes", {cc(3, 0, 8), ChannelEvent{0xC3, 25, 0}}, 2, {0, 0, false}},
        {"drum kit by program", {ChannelEvent{0xC9, 16, 0}}, 9, {0, 16, true}},
        {"bank select on the drum channel", {cc(9, 0, 8), ChannelEvent{0xC9, 16, 0}}, 9, {0, 16, true}},
        {"data bytes of damaged files keep seven bits",
         {cc(4, 0, 0x81), ChannelEvent{0xC4, 0x85, 0}},
         4,
         {1, 5, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelStates states;
        for (const auto& event : c.events) {
            states.apply(event);
        }
        const ChannelInstrument got = states.instrument(c.channel);
        EXPECT_EQ(got.bank, c.instrument.bank);
        EXPECT_EQ(got.program, c.instrument.program);
        EXPECT_EQ(got.drums, c.instrument.drums);
    }
}

}  // namespace
}  // namespace zentrowe::song
