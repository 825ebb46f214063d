#include "core/workflow/preview.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/keysound/wave_builder.h"
#include "support/test_support.h"

namespace zentrowe::workflow {
namespace {

using namespace zentrowe::testing;

Bytes clickWave(std::size_t frames)
{
    Bytes data;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        appendU16le(data, 12000);
    }
    return riffWave({{"fmt ", fmtBody(1, 1, 44100, 88200, 2, 16)}, {"data", data}});
}

std::set<std::string> listing(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(Preview, RefusesToWriteOverTheChartOrAFileItNames)
{
    const TempDir dir;
    writeFile(dir / "kick.wav", clickWave(100));
    writeFile(dir / "song.bms", std::string_view("#BPM 120\n#WAV01 kick.ogg\n#WAV02 snare.wav\n#00011:0102\n"));
    std::filesystem::create_hard_link(dir / "kick.wav", dir / "alias.wav");
    const Bytes kick = readFile(dir / "kick.wav");
    const auto before = listing(dir.path());
    // kick.ogg is found as kick.wav; snare.wav is missing, yet the chart names it.
    for (const char* output : {"song.bms", "kick.wav", "KICK.wav", "alias.wav", "snare.wav"}) {
        SCOPED_TRACE(output);
        PreviewRequest request;
        request.chartPath = dir / "song.bms";
        request.outputPath = dir / output;
        NullProgress quiet;
        const auto outcome = writeChartPreview(request, quiet);
        if (std::string(output) == "song.bms") {
            // Not a sound file name: refused before anything is read.
            ASSERT_FALSE(outcome.ok());
            EXPECT_EQ(outcome.error().code, ErrorCode::InvalidSetting);
            continue;
        }
        if (std::string(output) == "KICK.wav" && !std::filesystem::exists(dir / "KICK.wav") &&
            std::filesystem::equivalent(dir / "kick.wav", dir / "KICK.wav")) {
            continue;  // a file system that ignores case: the same file as kick.wav, checked above
        }
        if (std::string(output) == "KICK.wav") {
            // A different file on a case-sensitive file system; the finder takes kick.wav first.
            EXPECT_TRUE(outcome.ok());
            std::filesystem::remove(dir / "KICK.wav");
            continue;
        }
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WouldOverwriteSource);
        EXPECT_NE(outcome.error().message.find("write the preview elsewhere"), std::string::npos);
    }
    EXPECT_EQ(listing(dir.path()), before);
    EXPECT_EQ(readFile(dir / "kick.wav"), kick);
}

TEST(Preview, RefusesAChartWhoseKeysoundsAreAllMissingButMixesOneWithSomeLeft)
{
    const TempDir dir;
    writeFile(dir / "broken.ogg", std::string_view("OggS, but not really"));
    writeFile(dir / "song.bms", std::string_view("#BPM 120\n#WAV01 kick.wav\n#WAV02 broken.ogg\n#00011:0102\n"));
    PreviewRequest request;
    request.chartPath = dir / "song.bms";
    request.outputPath = dir / "preview.wav";
    NullProgress quiet;
    const auto refused = writeChartPreview(request, quiet);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::CannotOpen);
    EXPECT_NE(refused.error().message.find("none of the chart's 2 keysound files could be read (the first: kick.wav"),
              std::string::npos)
        << refused.error().message;
    EXPECT_FALSE(std::filesystem::exists(dir / "preview.wav"));

    writeFile(dir / "kick.wav", clickWave(100));
    const auto mixed = writeChartPreview(request, quiet);
    ASSERT_TRUE(mixed.ok()) << mixed.error().message;
    ASSERT_EQ(mixed->missingKeysounds.size(), 1U);
    EXPECT_EQ(mixed->missingKeysounds[0].rfind("broken.ogg: ", 0), 0U) << mixed->missingKeysounds[0];
}

TEST(Preview, AStopWhileEncodingLeavesNothingBehind)
{
    const TempDir dir;
    writeFile(dir / "kick.wav", clickWave(100));
    writeFile(dir / "song.bms", std::string_view("#BPM 120\n#WAV01 kick.wav\n#00011:01\n#01011:01\n"));
    const auto before = listing(dir.path());
    for (int stopAt : {1, 2, 3, 6}) {
        SCOPED_TRACE(stopAt);
        // Asks to stop at its stopAt-th poll: reading, mixing, or encoding.
        struct StopAt final : ProgressSink {
            explicit StopAt(int at) : m_at(at) {}
            void advance(std::int64_t, std::int64_t) override {}
            bool stopRequested() const override { return ++m_polls >= m_at; }
            int m_at;
            mutable int m_polls = 0;
        } stopping(stopAt);
        PreviewRequest request;
        request.chartPath = dir / "song.bms";
        request.outputPath = dir / "mix.ogg";
        const auto outcome = writeChartPreview(request, stopping);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::Cancelled);
        EXPECT_EQ(listing(dir.path()), before);
    }
}

}  // namespace
}  // namespace zentrowe::workflow
