#include "core/workflow/sound_length_rule.h"

#include <gtest/gtest.h>

#include <map>

namespace zentrowe::workflow {
namespace {

TEST(SoundLengthRule, SlicesAreCutAt45SecondsAndAMinuteOfAnyOtherFileIsListed)
{
    constexpr std::int64_t kRate = audio::kSampleRate;
    struct Case {
        const char* name;
        bool slice;
        std::int64_t frames;
        std::int64_t written;
        bool listed;
    };
    const std::vector<Case> cases = {
        {"a slice of 59 s", true, 59 * kRate, 45 * kRate, false},
        {"a slice of 45 s stays whole", true, 45 * kRate, 45 * kRate, false},
        {"a single BGM of 66 s is written whole and listed", false, 66 * kRate, 66 * kRate, true},
        {"exactly a minute breaks the rule", false, 60 * kRate, 60 * kRate, true},
        {"59.9 s does not", false, 60 * kRate - kRate / 10, 60 * kRate - kRate / 10, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path target = c.slice ? "stage/bgm-001.ogg" : "stage/bgm.ogg";
        SoundLengthRule rule({"stage/bgm-001.ogg"});
        std::vector<float> written;
        const auto writer = rule.wrap([&](const std::filesystem::path&, std::span<const float> samples) -> Status {
            written.assign(samples.begin(), samples.end());
            return {};
        });
        const std::vector<float> samples(static_cast<std::size_t>(c.frames) * 2, 0.5F);
        ASSERT_TRUE(writer(target, samples));
        EXPECT_EQ(static_cast<std::int64_t>(written.size() / 2), c.written);
        const auto listed = rule.pastTheRule();
        EXPECT_EQ(listed.size(), c.listed ? 1u : 0u);
        if (c.listed && !listed.empty()) {
            EXPECT_EQ(listed.front().path, target);
            EXPECT_DOUBLE_EQ(listed.front().seconds, static_cast<double>(c.frames) / kRate);
        }
        if (c.frames > c.written) {
            // Faded to nearly nothing at the cut, whole a fade before it.
            EXPECT_LT(written[written.size() - 1], 0.01F);
            EXPECT_FLOAT_EQ(written[written.size() - 2 * kSliceFadeFrames - 2], 0.5F);
        }
    }
}

// The pool's threads finish in any order; the outcome lists the long files the same way each time.
TEST(SoundLengthRule, LongFilesAreListedByNameWhateverOrderTheyWereWrittenIn)
{
    SoundLengthRule rule({});
    const auto writer = rule.wrap([](const std::filesystem::path&, std::span<const float>) -> Status { return {}; });
    const std::vector<float> minute(static_cast<std::size_t>(kEventLongestSoundFrames) * 2, 0.25F);
    for (const char* name : {"stage/piano_002.ogg", "stage/bgm.ogg", "stage/piano_001.ogg"}) {
        ASSERT_TRUE(writer(name, minute));
    }
    std::vector<std::filesystem::path> listed;
    for (const auto& file : rule.pastTheRule()) {
        listed.push_back(file.path);
    }
    EXPECT_EQ(listed,
              (std::vector<std::filesystem::path>{"stage/bgm.ogg", "stage/piano_001.ogg", "stage/piano_002.ogg"}));
}

}  // namespace
}  // namespace zentrowe::workflow
