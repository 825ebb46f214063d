#include "core/audio/sound_file_writer.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/sound_file_reader.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

std::uint32_t u32le(const Bytes& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16) |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The serial of every Ogg page, walked by the page layout.
std::vector<std::uint32_t> pageSerials(const Bytes& bytes)
{
    std::vector<std::uint32_t> serials;
    for (std::size_t at = 0; at + 27 <= bytes.size();) {
        EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                              bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4),
                  "OggS");
        const std::size_t segments = bytes[at + 26];
        std::size_t body = 0;
        for (std::size_t s = 0; s < segments; ++s) {
            body += bytes[at + 27 + s];
        }
        serials.push_back(u32le(bytes, at + 14));
        at += 27 + segments + body;
    }
    return serials;
}

// The encoder draws a stream serial from the clock; builds of one song must still come out the
// same, byte for byte, and each file must still decode (a page whose checksum is wrong is
// dropped by every Ogg reader).
TEST(SoundFileWriter, OggFilesOfOneNameAreTheSameEveryTimeAndStillDecode)
{
    const TempDir dir;
    std::vector<float> samples(2 * 44100);
    for (std::size_t frame = 0; frame < samples.size() / 2; ++frame) {
        const auto value = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(frame) / 44100));
        samples[2 * frame] = value;
        samples[2 * frame + 1] = value;
    }
    std::filesystem::create_directory(dir / "one");
    std::filesystem::create_directory(dir / "two");
    for (const auto& target : {dir / "one" / "A60-48-100.ogg", dir / "two" / "A60-48-100.ogg", dir / "one" / "bgm.ogg"}) {
        ASSERT_TRUE(audio::writeSoundFile(target, samples, audio::SoundFormat::OggVorbis, 0.5, 44100));
    }
    const Bytes first = readFile(dir / "one" / "A60-48-100.ogg");
    EXPECT_EQ(readFile(dir / "two" / "A60-48-100.ogg"), first);

    const auto serials = pageSerials(first);
    ASSERT_GE(serials.size(), 3u);  // identification, comment and setup headers, then audio
    for (const auto serial : serials) {
        EXPECT_EQ(serial, serials.front());
    }
    EXPECT_NE(pageSerials(readFile(dir / "one" / "bgm.ogg")).front(), serials.front());

    const auto decoded = audio::readSoundFile(dir / "one" / "A60-48-100.ogg", 44100);
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(decoded->frames(), samples.size() / 2);
}

}  // namespace
}  // namespace zentrowe::testing
