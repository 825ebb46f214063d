#include "core/workflow/loudness_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/audio/sound_file_reader.h"
#include "core/audio/sound_file_writer.h"
#include "core/workflow/preview.h"
#include "support/test_support.h"

namespace zentrowe::workflow {
namespace {

using namespace zentrowe::testing;

// A tenth of a second of a tone, different on each side.
std::vector<float> tone(float cycle, float level)
{
    std::vector<float> sound(2 * 4410);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        sound[i] = level * std::sin(static_cast<float>(i / 2) * cycle * (i % 2 == 0 ? 1.0f : 1.5f));
    }
    return sound;
}

Result<std::vector<float>> preview(const std::filesystem::path& folder, const std::string& name,
                                   const audio::HeldSounds* held)
{
    PreviewRequest request;
    request.chartPath = folder / "song.bms";
    request.outputPath = folder / name;
    request.held = held;
    NullProgress quiet;
    if (auto written = writeChartPreview(request, quiet); !written) {
        return written.error();
    } else if (!written->missingKeysounds.empty()) {
        return Error{ErrorCode::CannotOpen, "missing " + written->missingKeysounds.front()};
    }
    auto read = audio::readSoundFile(folder / name, audio::kSampleRate);
    if (!read) {
        return read.error();
    }
    return std::move(read->samples);
}

// A preview mixed from the sounds the pass kept, at the gain they were encoded with, is the one
// mixed from the files encoded (within the steps of 16 bits): a build's preview need not decode
// every file again. Sounds spilled to disk are read from their files.
TEST(LoudnessPass, APreviewFromTheKeptSoundsAtTheirGainIsTheOneFromTheFilesEncoded)
{
    struct Case {
        const char* name;
        std::size_t heldBytes;
        double gainDb;
        bool filesTakenAway;  // after the preview from the files: only what is held can sound
    };
    const Case cases[] = {
        {"all kept, no gain", kHeldSoundBytes, 0, true},
        {"all kept, 6 dB down", kHeldSoundBytes, -6, true},
        {"all kept, 4 dB up", kHeldSoundBytes, 4, true},
        {"one kept, two spilled", 40'000, -3, false},
        {"all spilled", 0, 2, false},
    };
    const std::vector<std::string> names = {"a.wav", "b.wav", "c.wav"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        std::filesystem::create_directories(dir / "spill");
        LoudnessPass pass(dir / "spill", c.heldBytes);
        const auto keep = pass.keeper();
        std::vector<std::filesystem::path> targets;
        for (std::size_t k = 0; k < names.size(); ++k) {
            targets.push_back(dir / names[k]);
            ASSERT_TRUE(keep(targets.back(), tone(0.02f * static_cast<float>(k + 1), 0.15f)).ok());
        }
        const audio::SoundWriter writer = [](const std::filesystem::path& target, std::span<const float> samples) {
            return audio::writeSoundFile(target, samples, audio::SoundFormat::Wave, 0.5, audio::kSampleRate);
        };
        NullProgress quiet;
        ASSERT_TRUE(pass.encode(targets, c.gainDb, writer, 2, quiet).ok());
        // At 120 BPM, a measure of 2 s: the sounds at 2, 2.67, 3.33, 4 and 5 s, c and a twice.
        writeFile(dir / "song.bms", std::string_view("#BPM 120\n#WAV01 a.wav\n#WAV02 b.wav\n#WAV03 c.wav\n"
                                                     "#00111:010203\n#00211:0301\n"));
        const auto fromFiles = preview(dir.path(), "files.wav", nullptr);
        ASSERT_TRUE(fromFiles.ok()) << fromFiles.error().message;
        if (c.filesTakenAway) {
            for (const auto& target : targets) {
                std::filesystem::remove(target);
            }
        }
        const auto held = pass.soundsAtGain(c.gainDb);
        const auto fromHeld = preview(dir.path(), "held.wav", held.get());
        ASSERT_TRUE(fromHeld.ok()) << fromHeld.error().message;
        ASSERT_EQ(fromHeld->size(), fromFiles->size());
        float peak = 0;
        for (std::size_t i = 0; i < fromFiles->size(); ++i) {
            ASSERT_NEAR((*fromHeld)[i], (*fromFiles)[i], 2.0f / 32768) << "sample " << i;
            peak = std::max(peak, std::fabs((*fromFiles)[i]));
        }
        EXPECT_NEAR(peak, 0.15 * audio::amplitudeOfDb(c.gainDb), 0.01);
    }
}

// A sound's file ends where, at the build's gain, its tail last reaches the ring-out floor: the
// same sound keeps more of its tail at a higher gain; the kept sounds a preview mixes end there too.
TEST(LoudnessPass, AFileEndsWhereItsTailAtTheGainLastReachesTheFloor)
{
    // A second of a tone decaying 1 dB every 10 ms from 0.5: it passes 0.001 (-60 dBFS) after
    // 540 ms; at a gain of -10 dB, 0.001 is the tone's -50 dBFS, passed after 440 ms.
    constexpr std::size_t kFrames = 44100;
    std::vector<float> decaying(2 * kFrames);
    for (std::size_t frame = 0; frame < kFrames; ++frame) {
        const double level = 0.5 * std::pow(10.0, -static_cast<double>(frame) / 441 / 20);
        decaying[2 * frame] = static_cast<float>(level * ((frame / 20) % 2 == 0 ? 1 : -1));  // a square wave
        decaying[2 * frame + 1] = decaying[2 * frame] / 2;
    }
    struct Case {
        const char* name;
        std::size_t heldBytes;
        double gainDb;
        double seconds;  // the file's length
    };
    const Case cases[] = {
        {"kept, no gain", kHeldSoundBytes, 0, 0.54},
        {"kept, 10 dB down", kHeldSoundBytes, -10, 0.44},
        {"kept, 6 dB up: the whole tail but its last 6 dB", kHeldSoundBytes, 6, 0.60},
        {"spilled, 10 dB down", 0, -10, 0.44},
        {"kept, 70 dB down: under the floor throughout, whole", kHeldSoundBytes, -70, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        std::filesystem::create_directories(dir / "spill");
        LoudnessPass pass(dir / "spill", c.heldBytes);
        const std::filesystem::path target = dir / "a.wav";
        ASSERT_TRUE(pass.keeper()(target, decaying).ok());
        std::size_t written = 0;
        const audio::SoundWriter writer = [&](const std::filesystem::path&, std::span<const float> samples) {
            written = samples.size() / 2;
            return Status{};
        };
        NullProgress quiet;
        ASSERT_TRUE(pass.encode(std::span(&target, 1), c.gainDb, writer, 1, quiet).ok());
        EXPECT_NEAR(static_cast<double>(written) / audio::kSampleRate, c.seconds, 0.002);
        const auto held = pass.soundsAtGain(c.gainDb);
        if (c.heldBytes > 0) {
            EXPECT_EQ(held->frames("a"), static_cast<std::int64_t>(written));
        }
    }
}

}  // namespace
}  // namespace zentrowe::workflow
