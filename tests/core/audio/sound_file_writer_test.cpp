#include "core/audio/sound_file_writer.h"

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>

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

// Bytes kept from one encoding are renamed for another file: every page takes the other name's
// serial and a checksum that fits it (the bytes are those an encoding for that name gives), and
// bytes already of the name are left as they are.
TEST(SoundFileWriter, RenamedOggBytesAreThoseEncodedForTheOtherName)
{
    std::vector<float> samples(2 * 22050);
    for (std::size_t frame = 0; frame < samples.size() / 2; ++frame) {
        const auto value = static_cast<float>(0.2 * std::sin(static_cast<double>(frame) * 0.03));
        samples[2 * frame] = value;
        samples[2 * frame + 1] = value * 0.5F;
    }
    NullProgress quiet;
    const auto encoded = [&](const char* name) {
        auto bytes = audio::encodeSound(name, samples, audio::SoundFormat::OggVorbis, 0.5, 44100, quiet,
                                        audio::SoundChannels::Stereo);
        EXPECT_TRUE(bytes);
        return bytes ? std::move(bytes).value() : std::vector<std::uint8_t>{};
    };
    struct Case {
        const char* from;
        const char* to;
    };
    for (const auto& c : {Case{"a.ogg", "b.ogg"}, Case{"b.ogg", "a.ogg"}, Case{"a.ogg", "a.ogg"}}) {
        SCOPED_TRACE(std::string(c.from) + " as " + c.to);
        auto bytes = encoded(c.from);
        audio::renameOggStream(bytes, c.to);
        EXPECT_EQ(bytes, encoded(c.to));
    }
}

// The channels libsndfile finds in encoded bytes written to `path`.
int channelsOf(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return 0;
    }
    sf_close(file);
    return info.channels;
}

// A sound whose sides lie within one 16-bit step of each other everywhere is one channel: a
// player plays it on both sides, and it sounds the same.
TEST(SoundFileWriter, SidesWithinAStepOfEachOtherAreWrittenAsOneChannel)
{
    constexpr float kStep = 1.0F / 32768;
    struct Case {
        const char* name;
        float rightOffset;     // the right side against the left, at every frame
        std::size_t oddFrame;  // one frame whose right side is 3 steps off; past the end: none
        audio::SoundChannels asked;
        int channels;
    };
    const std::vector<Case> cases = {
        {"equal sides", 0, 1'000'000, audio::SoundChannels::MonoWhereAlike, 1},
        {"within a step", kStep, 1'000'000, audio::SoundChannels::MonoWhereAlike, 1},
        {"one frame three steps apart", 0, 4'000, audio::SoundChannels::MonoWhereAlike, 2},
        {"two steps apart throughout", 2 * kStep, 1'000'000, audio::SoundChannels::MonoWhereAlike, 2},
        {"stereo asked for", 0, 1'000'000, audio::SoundChannels::Stereo, 2},
    };
    const TempDir dir;
    for (const auto format : {audio::SoundFormat::OggVorbis, audio::SoundFormat::Wave}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (format == audio::SoundFormat::Wave ? " (WAV)" : " (OGG)"));
            std::vector<float> samples(2 * 8'000);
            for (std::size_t frame = 0; frame < samples.size() / 2; ++frame) {
                const auto value = static_cast<float>(0.3 * std::sin(0.05 * static_cast<double>(frame)));
                samples[2 * frame] = value;
                samples[2 * frame + 1] = value + c.rightOffset + (frame == c.oddFrame ? 3 * kStep : 0);
            }
            const auto target = dir / ("sound" + std::string(audio::soundFileExtension(format)));
            NullProgress quiet;
            const auto encoded = audio::encodeSound(target, samples, format, 0.5, 44100, quiet, c.asked);
            ASSERT_TRUE(encoded);
            ASSERT_TRUE(audio::writeSoundBytes(target, *encoded, realFileSystem()));
            EXPECT_EQ(channelsOf(target), c.channels);
            const auto decoded = audio::readSoundFile(target, 44100);
            ASSERT_TRUE(decoded) << decoded.error().message;
            EXPECT_EQ(decoded->frames(), samples.size() / 2);
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
