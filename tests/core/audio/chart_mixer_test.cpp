#include "core/audio/chart_mixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/chart/bms_reader.h"
#include "core/keysound/wave_builder.h"
#include "support/memory_bound.h"
#include "support/test_support.h"

namespace zentrowe::audio {
namespace {

using namespace zentrowe::testing;

constexpr int kRate = 44100;

// A 16-bit PCM WAV file holding `frames` frames of one constant level, then silence.
Bytes levelWave(std::uint16_t channels, std::uint32_t rate, std::size_t frames, double level,
                std::size_t silentFrames = 0)
{
    const auto blockAlign = static_cast<std::uint16_t>(channels * 2);
    const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(level * 32768)));
    Bytes data;
    for (std::size_t frame = 0; frame < frames + silentFrames; ++frame) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            appendU16le(data, frame < frames ? value : 0);
        }
    }
    return riffWave({{"fmt ", fmtBody(1, channels, rate, rate * blockAlign, blockAlign, 16)}, {"data", data}});
}

// A 32-bit float mono WAV file holding `frames` frames of one level.
Bytes floatWave(std::size_t frames, float level)
{
    Bytes data;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &level, sizeof bits);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        appendU32le(data, bits);
    }
    return riffWave({{"fmt ", fmtBody(3, 1, kRate, kRate * 4, 4, 32)}, {"data", data}});
}

chart::TimedChart readChart(std::string_view text)
{
    return chart::readBmsChart({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Result<ChartMix> mix(const chart::TimedChart& chart, const TempDir& folder, MixOptions options = {})
{
    NullProgress quiet;
    return mixChart(chart, folder.path(), options, quiet);
}

// Frames where the left channel rises past half the click level after 10 ms of quiet.
std::vector<double> onsetSeconds(const StereoSound& sound)
{
    std::vector<double> onsets;
    std::size_t quietSince = 0;
    for (std::size_t frame = 0; frame < sound.frames(); ++frame) {
        if (std::fabs(sound.samples[frame * 2]) > 0.4F) {
            if (frame - quietSince >= kRate / 100 || onsets.empty()) {
                onsets.push_back(static_cast<double>(frame) / kRate);
            }
            quietSince = frame + 1;
        }
    }
    return onsets;
}

TEST(ChartMixer, ClicksSoundWithinAMillisecondOfTheirChartTimes)
{
    // Times worked by hand from the tempo map: 120 BPM, 240 halfway through measure 1 (by a hex
    // tempo), a half-length measure 2 with a stop of two beats halfway, 60 BPM by code in measure
    // 3. Measure 1's clicks come from a 22,050 Hz stereo file, resampled.
    const TempDir folder;
    writeFile(folder / "click.wav", levelWave(1, kRate, 88, 0.8, 400));
    writeFile(folder / "click22.wav", levelWave(2, 22050, 44, 0.8, 200));
    const auto chart = readChart("#BPM 120\n#WAV01 click.wav\n#WAV02 click22.wav\n#BPM01 60\n#STOP01 96\n"
                                 "#00011:01010000\n#00111:00020002\n#00103:00F0\n#00202:0.5\n#00211:0101\n"
                                 "#00209:0001\n#00308:01\n#00311:01010000\n");
    const auto result = mix(chart, folder);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_TRUE(result->missing.empty());
    EXPECT_FLOAT_EQ(result->gain, 1);
    const std::vector<double> expected = {0.0, 0.5, 2.5, 3.25, 3.5, 3.75, 4.5, 5.5};
    const auto onsets = onsetSeconds(result->sound);
    ASSERT_EQ(onsets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(onsets[i], expected[i], 0.001) << "click " << i;
    }
}

TEST(ChartMixer, TheMixIsTheSameWhateverOrderItsSoundsAreAddedIn)
{
    // In floating point (1 + 1e-8) - 1 is 0 and (1 - 1) + 1e-8 is not: a mix summed as the
    // threads happen to finish would change from run to run and with the number of cores.
    const std::vector<std::vector<float>> orders = {
        {0.75F, 3e-6F, -0.75F}, {0.75F, -0.75F, 3e-6F}, {-0.75F, 3e-6F, 0.75F}};
    std::vector<std::vector<float>> mixes;
    for (const auto& levels : orders) {
        for (unsigned threads : {1U, 3U}) {
            SCOPED_TRACE(std::to_string(levels[0]) + " first, threads " + std::to_string(threads));
            const TempDir folder;
            writeFile(folder / "a.wav", floatWave(100, levels[0]));
            writeFile(folder / "b.wav", floatWave(100, levels[1]));
            writeFile(folder / "c.wav", floatWave(100, levels[2]));
            MixOptions options;
            options.threads = threads;
            const auto result = mix(readChart("#BPM 120\n#WAV01 a.wav\n#WAV02 b.wav\n#WAV03 c.wav\n"
                                              "#00101:01\n#00101:02\n#00101:03\n"),
                                    folder, options);
            ASSERT_TRUE(result.ok()) << result.error().message;
            mixes.push_back(result->sound.samples);
        }
    }
    for (std::size_t k = 1; k < mixes.size(); ++k) {
        EXPECT_EQ(mixes[k], mixes[0]) << "mix " << k;
    }
    // The tiny level survives the sum, to within the mix's resolution.
    ASSERT_FALSE(mixes[0].empty());
    EXPECT_NEAR(mixes[0][mixes[0].size() - 100], 3e-6F, 1e-6F);
}

TEST(ChartMixer, CutsRepeatedCodesFindsFilesAsPlayersDoAndListsMissingOnes)
{
    // 240 BPM: a measure is one second. tone.wav is 1 s at 0.6.
    const TempDir folder;
    writeFile(folder / "tone.wav", levelWave(1, kRate, kRate, 0.6));
    writeFile(folder / "kick.wav", levelWave(1, kRate, 441, 0.5));
    writeFile(folder / "broken.wav", std::string_view("RIFF----WAVEnot a sound"));
    const auto chart = readChart("#BPM 240\n#WAV01 Kick.OGG\n#WAV02 gone.wav\n#WAV03 gone.wav\n#WAV04 broken.wav\n"
                                 "#WAV05 tone.wav\n#WAV06 tone.wav\n"
                                 "#00011:0505\n"  // 0.0 and 0.5: the second cuts the first
                                 "#00114:0203\n"  // 1.0 and 1.5: missing, one name
                                 "#00115:04\n"    // 1.0: unreadable
                                 "#00211:0506\n"  // 2.0 and 2.5: two codes overlap
                                 "#00413:01\n");  // 4.0: found as kick.wav
    const auto result = mix(chart, folder);
    ASSERT_TRUE(result.ok()) << result.error().message;
    ASSERT_EQ(result->missing.size(), 2U);
    EXPECT_EQ(result->missing[0], "gone.wav");
    EXPECT_EQ(result->missing[1].rfind("broken.wav: ", 0), 0U) << result->missing[1];

    // The overlap sums to 1.2, turned down to the mix peak.
    const float gain = kMixPeak / 1.2F;
    EXPECT_NEAR(result->gain, gain, 1e-3);
    const auto at = [&](double seconds) {
        return result->sound.samples[static_cast<std::size_t>(seconds * kRate) * 2];
    };
    EXPECT_NEAR(at(0.25), 0.6 * gain, 1e-3);
    EXPECT_NEAR(at(0.75), 0.6 * gain, 1e-3);  // the first stopped when the second began
    EXPECT_NEAR(at(1.25), 0.6 * gain, 1e-3);  // which plays its whole second
    EXPECT_NEAR(at(1.75), 0, 1e-6);
    EXPECT_NEAR(at(2.75), 1.2 * gain, 1e-3);
    EXPECT_NEAR(at(4.005), 0.5 * gain, 1e-3);
    EXPECT_EQ(result->sound.frames(), static_cast<std::size_t>(4.01 * kRate + 0.5));

    {
        SCOPED_TRACE("a window of the chart, longer than its sound");
        MixOptions window;
        window.fromSeconds = 2.75;
        window.lengthSeconds = 3;
        const auto part = mix(chart, folder, window);
        ASSERT_TRUE(part.ok()) << part.error().message;
        ASSERT_EQ(part->sound.frames(), static_cast<std::size_t>(3 * kRate));
        const auto partAt = [&](double seconds) {
            return part->sound.samples[static_cast<std::size_t>(seconds * kRate) * 2 + 1];
        };
        EXPECT_NEAR(partAt(0.1), 1.2 * gain, 1e-3);  // voices begun before the window go on in it
        EXPECT_NEAR(partAt(0.5), 0.6 * gain, 1e-3);
        EXPECT_NEAR(partAt(1.255), 0.5 * gain, 1e-3);
        EXPECT_NEAR(partAt(2.9), 0, 1e-6);
    }
}

// A mix of a given length opens only the files heard in it: a file struck more than ten minutes
// (the longest a sound plays) before the window is neither decoded nor listed when it is broken.
TEST(ChartMixer, AWindowReadsOnlyTheFilesHeardInIt)
{
    const TempDir folder;
    writeFile(folder / "broken.wav", std::string_view("not a sound"));
    writeFile(folder / "tone.wav", levelWave(1, kRate, 100, 0.5));
    // At 60 BPM a measure lasts 4 s: broken.wav at 0 and 640 s, tone.wav at 700 and 1252 s.
    const auto chart = readChart("#BPM 60\n#WAV01 broken.wav\n#WAV02 tone.wav\n"
                                 "#00011:01\n#16011:01\n#17511:02\n#31311:02\n");
    struct Case {
        double from;
        std::size_t missing;  // broken.wav, listed
        float level;          // of the window's first frame
    };
    const Case cases[] = {
        {0, 1, 0},        // broken.wav struck
        {700, 1, 0.5f},   // a minute after its second strike: still heard, so read
        {1252, 0, 0.5f},  // 612 s after: not heard
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        MixOptions window;
        window.fromSeconds = c.from;
        window.lengthSeconds = 1;
        const auto result = mix(chart, folder, window);
        ASSERT_TRUE(result.ok()) << result.error().message;
        EXPECT_EQ(result->missing.size(), c.missing);
        EXPECT_NEAR(result->sound.samples.at(0), c.level, 1e-3);
    }
}

TEST(ChartMixer, RefusesWindowsItCannotMix)
{
    const TempDir folder;
    const auto chart = readChart("#WAV01 a.wav\n#00011:01\n");
    MixOptions options;
    for (const auto& [from, length] :
         std::vector<std::pair<double, double>>{{-1, 1}, {0, 0}, {0, 3601}, {NAN, 1}, {1e300, 20}, {INFINITY, 1}}) {
        SCOPED_TRACE(std::to_string(from) + " " + std::to_string(length));
        options.fromSeconds = from;
        options.lengthSeconds = length;
        const auto result = mix(chart, folder, options);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code, ErrorCode::InvalidSetting);
    }
}

TEST(ChartMixer, ListsKeysoundsItCannotUseWithTheReason)
{
    const TempDir outer;
    std::filesystem::create_directory(outer / "song");
    const std::filesystem::path folder = outer / "song";
    writeFile(outer / "secret.wav", levelWave(1, kRate, 100, 0.5));
    writeFile(folder / "inside.wav", levelWave(1, kRate, 100, 0.5));
    std::filesystem::create_symlink(outer / "secret.wav", folder / "link_out.wav");
    std::filesystem::create_symlink("inside.wav", folder / "link_in.wav");
    for (int copy = 0; copy < 12; ++copy) {
        std::filesystem::copy_file(std::filesystem::path(ZENTROWE_TEST_DATA) / "sound" / "trunc.ogg",
                                   folder / ("t" + std::to_string(copy) + ".ogg"));
    }
    std::string text = "#BPM 120\n#WAV01 ../secret.wav\n#WAV02 " + (outer / "secret.wav").string() +
                       "\n#WAV03 link_out.wav\n#WAV04 link_in.wav\n#WAV05 sub\\..\\..\\secret.wav\n";
    std::string line = "#00011:0102030405";
    for (int copy = 0; copy < 12; ++copy) {
        const std::string code =
            copy < 4 ? "0" + std::to_string(copy + 6) : std::string("A") + static_cast<char>('0' + copy - 4);
        text += "#WAV" + code + " t" + std::to_string(copy) + ".ogg\n";
        line += code;
    }
    const auto chart = readChart(text + line + "\n");
    NullProgress quiet;
    const auto result = mixChart(chart, folder, MixOptions{}, quiet);
    ASSERT_TRUE(result.ok()) << result.error().message;
    const std::vector<std::string> outside = {"../secret.wav", (outer / "secret.wav").string(), "link_out.wav",
                                              "sub\\..\\..\\secret.wav"};
    ASSERT_EQ(result->missing.size(), outside.size() + 12);
    for (std::size_t i = 0; i < outside.size(); ++i) {
        EXPECT_EQ(result->missing[i], outside[i] + ": leads out of the chart's folder");
    }
    for (std::size_t i = outside.size(); i < result->missing.size(); ++i) {
        EXPECT_NE(result->missing[i].find("cannot decode, 0 frames read"), std::string::npos) << result->missing[i];
    }
    // Only the link inside sounds: 100 frames of level 0.5, the fourth of 17 objects in a 2 s
    // measure (at 0.353 s).
    float peak = 0;
    for (const float sample : result->sound.samples) {
        peak = std::max(peak, sample);
    }
    EXPECT_NEAR(peak, 0.5F, 1e-3F);
    EXPECT_NEAR(result->sound.samples.at(15600 * 2), 0.5F, 1e-3F);
}

TEST(ChartMixer, ManyCodesNamingOneLongFileMixWithinBoundedMemory)
{
    // 3,843 codes (every base-62 code) name one sparse 300 s file, each struck once: each sound
    // plays to its end, yet the file is silence and must cost neither memory nor time.
    const TempDir folder;
    const Bytes header = levelWave(2, kRate, 0, 0);
    writeFile(folder / "long600.wav", header);
    {
        Bytes patched = header;
        const std::uint32_t dataBytes = 300U * kRate * 4;
        for (int i = 0; i < 4; ++i) {
            patched[patched.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        }
        writeFile(folder / "long600.wav", patched);
        std::filesystem::resize_file(folder / "long600.wav", patched.size() + dataBytes);
    }
    writeFile(folder / "click.wav", levelWave(1, kRate, 10, 0.5));
    std::vector<std::string> names((chart::kLargestCode62 + 1));
    std::vector<KeysoundStrike> strikes;
    for (std::size_t code = 1; code < (chart::kLargestCode62 + 1); ++code) {
        names[code] = "long600.wav";
        strikes.push_back({static_cast<double>(code) * 0.01, code});
    }
    names[0] = "click.wav";
    strikes.push_back({50.0, 0});
    const auto run = runWithinMemoryBound([&] {
        NullProgress quiet;
        const auto result = mixKeysounds(strikes, names, folder.path(), MixOptions{}, quiet);
        if (!result || !result->missing.empty()) {
            return 1;
        }
        // Ends where the last strike's 300 s end; the click is the only sound.
        const std::size_t expected = static_cast<std::size_t>(std::llround((3843 * 0.01 + 300) * kRate));
        return result->sound.frames() == expected && result->sound.samples[50 * kRate * 2] == 0.5F ? 0 : 2;
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.peakResidentBytes, static_cast<std::int64_t>(kMemoryBound));
}

TEST(ChartMixer, NamesTheSoundsItMixesOnlyAsFarAsSoundsAreRead)
{
    // Silent files of these lengths at 1,000 Hz, mixed at that rate: past kLongestSoundSeconds
    // (600 s) a sound is cut, and the mix says so rather than end early without a word.
    struct Case {
        double seconds;
        bool cut;
    };
    const Case cases[] = {{599, false}, {600.5, true}, {6087, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        const TempDir folder;
        Bytes wave = levelWave(1, 1000, 0, 0);
        const auto dataBytes = static_cast<std::uint32_t>(c.seconds * 1000) * 2;
        for (int i = 0; i < 4; ++i) {
            wave[wave.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        }
        writeFile(folder / "long.wav", wave);
        std::filesystem::resize_file(folder / "long.wav", wave.size() + dataBytes);
        const std::vector<std::string> names = {"", "long.wav"};
        const std::vector<KeysoundStrike> strikes = {{1.0, 1}};
        MixOptions options;
        options.sampleRate = 1000;
        NullProgress quiet;
        const auto mix = mixKeysounds(strikes, names, folder.path(), options, quiet);
        ASSERT_TRUE(mix) << mix.error().message;
        EXPECT_EQ(mix->cutShort, c.cut ? std::vector<std::string>{"long.wav"} : std::vector<std::string>{});
        EXPECT_TRUE(mix->missing.empty());
    }
}

TEST(ChartMixer, AMillionStrikesMixAndTheSinkCanStopThem)
{
    const TempDir folder;
    writeFile(folder / "click.wav", levelWave(1, kRate, 40, 0.25));
    const std::vector<std::string> names = {"", "click.wav", "click.wav"};
    std::vector<KeysoundStrike> strikes;
    for (int i = 0; i < 1000000; ++i) {
        strikes.push_back({i * 0.0001, static_cast<std::size_t>(1 + i % 2)});
    }
    NullProgress quiet;
    const auto result = mixKeysounds(strikes, names, folder.path(), MixOptions{}, quiet);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(result->sound.frames(), static_cast<std::size_t>(std::llround((999999 * 0.0001) * kRate)) + 40);

    // Polled once after the one file is read, then while mixing.
    struct StopWhileMixing final : ProgressSink {
        void advance(std::int64_t, std::int64_t) override { }
        bool stopRequested() const override { return ++polls > 1; }
        mutable int polls = 0;
    } stopping;
    strikes.resize(10000);  // the sink is polled every few thousand strikes
    const auto stopped = mixKeysounds(strikes, names, folder.path(), MixOptions{}, stopping);
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error().code, ErrorCode::Cancelled);
}

TEST(ChartMixer, AChartSoundingForMoreThanAnHourIsRefusedUnlessReadInBlocks)
{
    const TempDir folder;
    writeFile(folder / "a.wav", levelWave(1, kRate, 10, 0.5));
    // 60 BPM: measure 999 starts 3996 s in.
    const auto chart = readChart("#BPM 60\n#WAV01 a.wav\n#00011:01\n#99911:01\n");
    const auto result = mix(chart, folder);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, ErrorCode::MixTooLong);

    // Blocks read through once (a build's loudness) hold only where sound landed.
    MixOptions options;
    options.sampleRate = kRate;
    options.longestSeconds = 2 * 3600;
    NullProgress quiet;
    const auto blocks = mixKeysoundBlocks(chartStrikes(chart), chart.keysoundNames, folder.path(), options, quiet);
    ASSERT_TRUE(blocks.ok()) << blocks.error().message;
    EXPECT_EQ(blocks->sound.frames(), 3996LL * kRate + 10);
}

}  // namespace
}  // namespace zentrowe::audio
