#include "core/audio/synth_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
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

// A sound ends at its last frame where either side reaches the floor; one that never does is kept
// whole, never made an empty file.
TEST(AudibleFrames, EndAtTheLastFrameWhereEitherSideReachesTheFloor)
{
    const float floor = kRingOutFloor;
    struct Case {
        const char* name;
        std::vector<float> sound;  // interleaved stereo
        std::size_t frames;
    };
    const std::vector<Case> cases = {
        {"a tail under the floor", {0.5f, 0.5f, 0.2f, -0.2f, floor / 2, floor / 2, -floor / 4, 0}, 2},
        {"the floor itself is heard", {0.5f, 0.5f, -floor, floor, floor / 2, 0}, 2},
        {"heard on the right side only", {0.5f, 0.5f, 0, -2 * floor, 0, floor / 3}, 2},
        {"loud to its last frame", {0.1f, 0.1f, 0.1f, -0.1f}, 2},
        {"a quiet sound between louder frames keeps its dip", {0.5f, 0.5f, 0, 0, 0.3f, 0.3f, 0, 0}, 3},
        {"never reaching the floor: kept whole", {floor / 2, floor / 2, floor / 3, 0, 0, 0}, 3},
        {"nothing", {}, 0},
        {"half a frame is no frame", {0.5f, 0.5f, 0.5f}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(audibleFrames(c.sound, floor), c.frames);
    }
}

// A choked voice falls 96 dB, evenly in decibels, over the 0.891 s (-200 timecents) release the
// synthesiser gives it: half way down at half the fade, and nothing after it.
TEST(ChokeFade, FallsNinetySixDecibelsOverTheReleaseOfAChokedVoice)
{
    struct Case {
        const char* name;
        std::int64_t length;
        std::int64_t cut;
        std::int64_t kept;  // frames left
    };
    const std::vector<Case> cases = {
        {"cut inside a long sound", 100'000, 1'000, 1'000 + kChokeFadeFrames},
        {"cut at its start", 100'000, 0, kChokeFadeFrames},
        {"the sound ends during the fade", 2'000, 1'000, 2'000},
        {"cut after its end", 500, 1'000, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sound = frames(c.length, 0.5f);
        fadeFromCut(sound, c.cut);
        ASSERT_EQ(static_cast<std::int64_t>(sound.size()), c.kept * kChannelCount);
        const auto dbAt = [&](std::int64_t frame) {
            return 20 * std::log10(sound[static_cast<std::size_t>(frame * kChannelCount + 1)] / 0.5);
        };
        if (c.cut > 0 && c.cut < c.length) {
            EXPECT_NEAR(dbAt(c.cut - 1), 0, 1e-6);
        }
        if (c.cut + kChokeFadeFrames / 2 < c.kept) {
            EXPECT_NEAR(dbAt(c.cut), 0, 1e-6);
            EXPECT_NEAR(dbAt(c.cut + kChokeFadeFrames / 2), -48, 0.01);
            EXPECT_NEAR(dbAt(c.kept - 1), -96, 0.01);
        }
    }
}

// A sound is the same samples whichever renderings the synthesiser made before it: a build
// renders on several threads, each taking whichever job comes next, and a kept render is looked
// up by what the sound is. Sounds of other places, levels and kits leave no trace in the next.
TEST(SynthRenderer, ANoteSoundsTheSameWhateverCameBefore)
{
    auto used = SynthRenderer::open(kFullSoundFont);
    ASSERT_TRUE(used);
    NoteSound bass{{0, 32, false}, 40, 96, {}, kSampleRate / 2, std::nullopt};
    bass.controls.pan = 30;
    NoteSound hat{{0, 0, true}, 42, 110, {}, 0, std::nullopt};
    hat.controls.pan = 100;
    NoteSound strings{{0, 48, false}, 64, 127, {}, kSampleRate / 4, std::nullopt};
    strings.controls.pan = 127;
    strings.controls.volume = 40;
    NoteSound piano{{0, 0, false}, 72, 80, {}, kSampleRate / 4, std::nullopt};
    piano.controls.pan = 0;
    const std::vector<std::pair<std::string, NoteSound>> cases = {
        {"bass", bass}, {"hi-hat", hat}, {"strings", strings}, {"piano", piano}};
    for (const auto& [name, sound] : cases) {
        SCOPED_TRACE(name);
        auto fresh = SynthRenderer::open(kFullSoundFont);
        ASSERT_TRUE(fresh);
        const auto alone = fresh->renderNote(sound);
        // A renderer that has just played every other case.
        for (const auto& [otherName, other] : cases) {
            if (otherName != name) {
                ASSERT_TRUE(used->renderNote(other));
            }
        }
        const auto after = used->renderNote(sound);
        ASSERT_TRUE(alone && after);
        ASSERT_FALSE(alone->empty());
        EXPECT_TRUE(*alone == *after);
    }
}

}  // namespace
}  // namespace zentrowe::audio
