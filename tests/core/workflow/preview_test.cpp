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

namespace zentrowe::workflow {
namespace {

// Note Ons (frame at 44.1 kHz, velocity) with their Note Offs a tenth of a second later.
std::vector<audio::TimedEvent> notesAt(const std::vector<std::pair<double, int>>& notes)
{
    std::vector<audio::TimedEvent> events;
    for (const auto& [seconds, velocity] : notes) {
        const auto frame = static_cast<std::int64_t>(seconds * 44100);
        events.push_back({frame, 0x90, 60, static_cast<std::uint8_t>(velocity)});
        events.push_back({frame + 4410, 0x80, 60, 0});
    }
    return events;
}

TEST(PreviewHook, TheWindowWithTheMostNotesAtTheHighestVelocityWins)
{
    std::vector<std::pair<double, int>> quietIntro;  // 20 s of a note a second at velocity 40
    std::vector<std::pair<double, int>> loudChorus;  // then 20 s of the same at velocity 110
    for (int k = 0; k < 20; ++k) {
        quietIntro.emplace_back(k, 40);
        loudChorus.emplace_back(40 + k, 110);
    }
    auto song = quietIntro;
    song.insert(song.end(), loudChorus.begin(), loudChorus.end());
    auto denseIntro = song;
    for (int k = 0; k < 20; ++k) {
        denseIntro.emplace_back(k + 0.5, 40);  // twice the notes, still quieter than the chorus
    }
    struct Case {
        const char* name;
        std::vector<std::pair<double, int>> notes;
        double start;
    };
    const std::vector<Case> cases = {
        {"no notes", {}, 0},
        {"one note", {{3, 100}}, 3},
        {"the loud chorus, not the quiet intro", song, 40},
        {"two quiet notes weigh less than a loud one", denseIntro, 40},
        {"a song shorter than the window starts at its first note", {{1, 90}, {2, 90}, {4, 90}}, 1},
        // Equal windows: the earliest; a chord is one start with all its notes.
        {"equal windows", {{0, 80}, {30, 80}}, 0},
        {"a chord outweighs a lone note", {{0, 100}, {30, 100}, {30, 100}, {55, 100}}, 30},
        // The loudest start, 50 s, would run 16 s past the song's end.
        {"no window past the end", {{0, 60}, {20, 100}, {50, 127}, {52, 127}}, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(hookStartSeconds(notesAt(c.notes), 20), c.start, 1e-4);
    }
}

}  // namespace
}  // namespace zentrowe::workflow
