#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/audio/synth_renderer.h"

namespace zentrowe::testing {
namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// The number of frames up to the last one with a sample at or above -60 dBFS.
std::int64_t framesAboveFloor(const std::vector<float>& samples)
{
    for (auto frame = static_cast<std::int64_t>(samples.size() / 2); frame > 0; --frame) {
        const auto i = static_cast<std::size_t>(frame - 1) * 2;
        if (std::fabs(samples[i]) >= audio::kRingOutFloor || std::fabs(samples[i + 1]) >= audio::kRingOutFloor) {
            return frame;
        }
    }
    return 0;
}

// A snare and a plucked string last until they have decayed below -60 dBFS, as the same note
// struck in a sequence and left ten seconds to ring; the snare whatever its MIDI length.
TEST(NoteRendering, NotesRingOutUntilSixtyDecibelsDown)
{
    if (!std::filesystem::exists(kSoundFont)) {
        GTEST_SKIP() << "no soundfont at " << kSoundFont;
    }
    auto renderer = audio::SynthRenderer::open(kSoundFont);
    ASSERT_TRUE(renderer.ok()) << renderer.error().message;
    struct Case {
        const char* name;
        audio::NoteSound sound;
        std::vector<audio::TimedEvent> events;  // the same note in a sequence
    };
    const audio::NoteSound snare{{0, 0, true}, 38, 110, {}, 64};
    audio::NoteSound heldSnare = snare;
    heldSnare.noteFrames = audio::kSampleRate;
    const audio::NoteSound guitar{{0, 25, false}, 52, 100, {}, 8832};
    const std::vector<Case> cases = {
        {"snare struck for a block", snare, {{0, 0x99, 38, 110}}},
        {"snare held for a second", heldSnare, {{0, 0x99, 38, 110}}},
        {"plucked steel string", guitar, {{0, 0xC0, 25, 0}, {0, 0x90, 52, 100}, {8832, 0x80, 52, 0}}},
    };
    NullProgress quiet;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto note = renderer->renderNote(c.sound);
        ASSERT_TRUE(note.ok()) << note.error().message;
        const auto whole = renderer->renderEvents(c.events, audio::kLongestRingOutFrames, quiet);
        ASSERT_TRUE(whole.ok());
        const auto length = static_cast<std::int64_t>(note->size() / 2);
        EXPECT_EQ(length, framesAboveFloor(*note));  // cut right after its last frame at the floor
        EXPECT_GT(length, c.sound.instrument.drums ? audio::kSampleRate / 20 : c.sound.noteFrames);
        // The sequence's sound, every frame, to where it stays below the floor.
        EXPECT_NEAR(static_cast<double>(length), static_cast<double>(framesAboveFloor(*whole)), audio::kBlockFrames);
    }
}

}  // namespace
}  // namespace zentrowe::testing
