#include "core/audio/sound_file_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "core/audio/sound_file_writer.h"
#include "core/keysound/wave_builder.h"
#include "support/memory_bound.h"
#include "support/test_support.h"

namespace zentrowe::audio {
namespace {

using namespace zentrowe::testing;

const std::filesystem::path kData = std::filesystem::path(ZENTROWE_TEST_DATA) / "sound";

// A PCM WAV header claiming the layout given, followed by `dataBytes` bytes of zeros that take
// no disk: the file's length is set, nothing is written.
void writeSparseWave(const std::filesystem::path& path, std::uint32_t rate, std::uint16_t channels,
                     std::uint64_t dataBytes)
{
    const auto blockAlign = static_cast<std::uint16_t>(channels * 2);
    const Bytes header = riffWave({{"fmt ", fmtBody(1, channels, rate, rate * blockAlign, blockAlign, 16)}, {"data", {}}});
    Bytes bytes(header);
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes, 0xFFFFFFF0));
    // The data chunk's size is its last four bytes, RIFF's size the second four.
    for (int i = 0; i < 4; ++i) {
        bytes[bytes.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
        bytes[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((size + 36) >> (8 * i));
    }
    writeFile(path, bytes);
    std::filesystem::resize_file(path, bytes.size() + dataBytes);
}

TEST(SoundFileReader, RefusesLayoutsNoSoundHasByName)
{
    const TempDir dir;
    writeSparseWave(dir / "fast.wav", 2000000000, 2, 4096);
    writeSparseWave(dir / "wide.wav", 44100, 1024, 1 << 20);
    writeSparseWave(dir / "rate0.wav", 0, 2, 4096);
    struct Case {
        std::filesystem::path file;
        std::string sentence;
    };
    for (const auto& [file, sentence] : std::vector<Case>{
             {dir / "fast.wav", "a sample rate of 2000000000 Hz is outside 1000 to 768000 Hz"},
             {kData / "hz100.wav", "a sample rate of 100 Hz is outside 1000 to 768000 Hz"},
             {dir / "wide.wav", "1024 channels; at most 32 are read"},
             {kData / "trunc.ogg", "cannot decode, 0 frames read"},
             {dir / "none.wav", "No such file"},
         }) {
        SCOPED_TRACE(file.filename().string());
        const auto sound = readSoundFile(file, 44100);
        ASSERT_FALSE(sound.ok());
        EXPECT_EQ(sound.error().code, ErrorCode::CannotOpen);
        EXPECT_NE(sound.error().message.find(file.filename().string()), std::string::npos) << sound.error().message;
        EXPECT_NE(sound.error().message.find(sentence), std::string::npos) << sound.error().message;
    }
}

TEST(SoundFileReader, FileCutShortIsRefusedWithTheFramesRead)
{
    // 1,000 frames claimed, 400 present: a copy interrupted or a download cut off.
    const TempDir dir;
    Bytes data(1000 * 4, 0x10);
    Bytes wave = riffWave({{"fmt ", fmtBody(1, 2, 44100, 44100 * 4, 4, 16)}, {"data", data}});
    wave.resize(wave.size() - 600 * 4);
    writeFile(dir / "cut.wav", wave);
    const auto sound = readSoundFile(dir / "cut.wav", 44100);
    // libsndfile trusts the file's length over the chunk's: either what is there, or a refusal.
    if (sound) {
        EXPECT_EQ(sound->frames(), 400U);
    } else {
        EXPECT_NE(sound.error().message.find("cut.wav: cannot read: cannot decode, "), std::string::npos)
            << sound.error().message;
    }
}

TEST(SoundFileReader, OggCutAtAPageBoundaryIsListedWithTheFramesRead)
{
    // Whole pages decode without complaint from the decoder; only the missing end mark tells.
    const TempDir dir;
    std::vector<float> tone(44100 * 2 * 2);
    for (std::size_t frame = 0; frame < tone.size() / 2; ++frame) {
        tone[frame * 2] = tone[frame * 2 + 1] = static_cast<float>(0.5 * std::sin(static_cast<double>(frame) * 0.05));
    }
    ASSERT_TRUE(writeSoundFile(dir / "whole.ogg", tone, SoundFormat::OggVorbis, 0.5, 44100));
    Bytes bytes = readFile(dir / "whole.ogg");
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto lastPage = text.rfind("OggS");
    ASSERT_NE(lastPage, std::string_view::npos);
    ASSERT_GT(lastPage, bytes.size() / 2);
    bytes.resize(lastPage);
    writeFile(dir / "cut.ogg", bytes);
    ASSERT_TRUE(readSoundFile(dir / "whole.ogg", 44100).ok());
    std::int64_t heard = 0;
    const auto cut = streamSoundFile(dir / "cut.ogg", 44100, 44100 * 10,
                                     [&](std::span<const float> block) { heard += static_cast<std::int64_t>(block.size() / 2); });
    ASSERT_FALSE(cut.ok());
    EXPECT_NE(cut.error().message.find("cut.ogg: cannot read: cannot decode, "), std::string::npos) << cut.error().message;
    EXPECT_NE(cut.error().message.find("stops before the stream's end"), std::string::npos) << cut.error().message;
    EXPECT_GT(heard, 44100);  // what was there was given before the refusal
}

TEST(SoundFileReader, ReadsOggVorbisAndOtherRatesAtTheMixRate)
{
    const TempDir dir;
    std::vector<float> tone(22050 * 2);
    for (std::size_t frame = 0; frame < tone.size() / 2; ++frame) {
        tone[frame * 2] = tone[frame * 2 + 1] = static_cast<float>(0.5 * std::sin(static_cast<double>(frame) * 0.05));
    }
    ASSERT_TRUE(writeSoundFile(dir / "tone.ogg", tone, SoundFormat::OggVorbis, 0.5, 22050));
    const auto sound = readSoundFile(dir / "tone.ogg", 44100);
    ASSERT_TRUE(sound.ok()) << sound.error().message;
    EXPECT_NEAR(static_cast<double>(sound->frames()), 44100.0, 64.0);
    float peak = 0;
    for (const float sample : sound->samples) {
        peak = std::max(peak, std::fabs(sample));
    }
    EXPECT_NEAR(peak, 0.5, 0.05);
}

TEST(SoundFileReader, MemoryFollowsTheDataNotTheHeader)
{
    // Each claims far more than it holds or than a keysound needs; none may take a gigabyte.
    const TempDir dir;
    writeSparseWave(dir / "ch8_384k.wav", 384000, 8, 4096);
    writeSparseWave(dir / "long.wav", 48000, 2, 48000ULL * 4 * 3600);  // an hour of zeros
    struct Case {
        const char* name;
        std::int64_t maxFrames;
        std::int64_t frames;  // at 44,100 Hz
    };
    for (const auto& [name, maxFrames, frames] : std::vector<Case>{{"ch8_384k.wav", 1 << 30, 29}, {"long.wav", 44100, 44100}}) {
        SCOPED_TRACE(name);
        const auto run = runWithinMemoryBound([&] {
            std::int64_t taken = 0;
            const auto read = streamSoundFile(dir / name, 44100, maxFrames,
                                              [&](std::span<const float> block) { taken += static_cast<std::int64_t>(block.size() / 2); });
            return read.ok() && *read == taken && std::abs(taken - frames) <= 1 ? 0 : 1;
        });
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_LT(run.peakResidentBytes, static_cast<std::int64_t>(kMemoryBound));
    }
}

}  // namespace
}  // namespace zentrowe::audio
