#include "core/workflow/build.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "../convert/convert_test_support.h"
#include "core/chart/chart_file.h"
#include "core/song/chart_file_name.h"

namespace zentrowe::testing {
namespace {

using workflow::BuildRequest;
using workflow::runBuild;

constexpr double kRate = 44100;
constexpr float kOneStep = 1.0f / 32768;  // the smallest non-zero 16-bit sample

// One event at an absolute tick: its bytes after the delta time.
struct RawEvent {
    std::int64_t time;
    Bytes bytes;
};

Bytes rawTrack(const std::vector<RawEvent>& events)
{
    Bytes out;
    std::int64_t now = 0;
    for (const auto& event : events) {
        append(out, varLen(static_cast<std::uint32_t>(event.time - now)));
        now = event.time;
        append(out, event.bytes);
    }
    append(out, kEndOfTrack);
    return out;
}

Bytes tempo(std::uint32_t micros)
{
    return bytes({0xFF, 0x51, 0x03, static_cast<int>(micros >> 16), static_cast<int>((micros >> 8) & 0xFF),
                  static_cast<int>(micros & 0xFF)});
}

Bytes program(int channel, int number)
{
    return bytes({0xC0 | channel, number});
}

Bytes noteOn(int channel, int note, int velocity)
{
    return bytes({0x90 | channel, note, velocity});
}

Bytes noteOff(int channel, int note)
{
    return bytes({0x80 | channel, note, 0});
}

// Interleaved stereo samples of a sound file, decoded by libsndfile; empty if it does not decode.
std::vector<float> decode(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    const auto frames = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 44100);
    samples.resize(static_cast<std::size_t>(frames * info.channels));
    return samples;
}

std::int64_t frameCount(const std::vector<float>& samples)
{
    return static_cast<std::int64_t>(samples.size() / 2);
}

// The first frame from `from` whose left or right sample is not 0 at 16 bits; -1 if none.
std::int64_t firstSound(const std::vector<float>& samples, std::int64_t from = 0)
{
    for (auto frame = std::max<std::int64_t>(from, 0); frame < frameCount(samples); ++frame) {
        const auto i = static_cast<std::size_t>(frame) * 2;
        if (std::fabs(samples[i]) >= kOneStep || std::fabs(samples[i + 1]) >= kOneStep) {
            return frame;
        }
    }
    return -1;
}

float peak(const std::vector<float>& samples)
{
    float loudest = 0;
    for (const float sample : samples) {
        loudest = std::max(loudest, std::fabs(sample));
    }
    return loudest;
}

class Build : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(audio::kDefaultSoundFont)) {
            GTEST_SKIP() << "no General MIDI soundfont at " << audio::kDefaultSoundFont;
        }
    }

    // Writes `song` as song.mid in a fresh folder and asks for a WAV build of track 1 into out/.
    BuildRequest request(const Bytes& song)
    {
        const auto source = m_dir / "song.mid";
        writeFile(source, song);
        std::filesystem::create_directories(m_dir / "out");
        BuildRequest request;
        request.conversion.sourceMidiPath = source;
        request.conversion.song = summaryOf(song);
        request.conversion.chartFileName = song::deriveChartFileName(source.string());
        request.conversion.outputFolder = m_dir / "out";
        request.conversion.trackNumber = 1;
        request.format = audio::SoundFormat::Wave;
        return request;
    }

    std::filesystem::path out(const std::string& name) const { return m_dir / "out" / name; }

    std::vector<std::string> outputNames() const
    {
        std::vector<std::string> names;
        if (std::filesystem::exists(m_dir / "out")) {
            for (const auto& entry : std::filesystem::directory_iterator(m_dir / "out")) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir m_dir;
    NullProgress m_quiet;
};

TEST_F(Build, KeysoundsLastTheirNotePlusGapAtTheKeysoundTempoAndSoundFromTheFirstFrame)
{
    // 480 ticks a quarter at 250,000 us a quarter: a quarter note is 96 ticks of K-Midi.mid and
    // 0.25 s, 11,025 frames. A church organ sustains, so with no gap nothing is trimmed.
    const Bytes song = midiFile(0, 480, {rawTrack({
        {0, tempo(250000)}, {0, program(0, 19)},
        {0, noteOn(0, 60, 120)}, {480, noteOff(0, 60)},
        {480, noteOn(0, 60, 80)}, {960, noteOff(0, 60)},
        {960, noteOn(0, 60, 40)}, {1440, noteOff(0, 60)},
        {1440, noteOn(0, 67, 100)}, {2400, noteOff(0, 67)},
    })});
    for (const int gap : {0, 96}) {
        SCOPED_TRACE("gap " + std::to_string(gap));
        auto req = request(song);
        req.conversion.settings.keysoundGap = gap;
        req.backgroundMusic = false;
        const auto outcome = runBuild(req, m_quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        // The stems the chart names (length in 1/192 of a 1,920-tick measure), lower-case ".wav".
        const std::vector<std::string> names = {"A60-48-120.wav", "A60-48-80.wav", "A60-48-40.wav", "A67-96-100.wav"};
        ASSERT_EQ(outcome->keysoundFiles.size(), names.size());
        const std::vector<std::int64_t> noteFrames = {11025, 11025, 11025, 22050};
        const std::int64_t gapFrames = gap * 11025 / 96;
        std::vector<float> peaks;
        for (std::size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            EXPECT_EQ(outcome->keysoundFiles[i], out(names[i]));
            const auto samples = decode(out(names[i]));
            // Within half a block: a note started one block late would show 64 frames of silence.
            EXPECT_GE(firstSound(samples), 0);
            EXPECT_LT(firstSound(samples), 32);
            if (gap == 0) {
                EXPECT_EQ(frameCount(samples), noteFrames[i]);
            } else {
                // The release dies away inside the gap and its silence is trimmed.
                EXPECT_GT(frameCount(samples), noteFrames[i]);
                EXPECT_LE(frameCount(samples), noteFrames[i] + gapFrames);
            }
            peaks.push_back(peak(samples));
        }
        EXPECT_GT(peaks[0], peaks[1]);
        EXPECT_GT(peaks[1], peaks[2]);
        EXPECT_GT(peaks[2], 0.0f);
    }
}

TEST_F(Build, PercussionKeysoundsPlayTheDrumKit)
{
    // Note 38 for 100 ticks (the length percussion mode gives every strike), velocity 100.
    auto strike = [](int channel) {
        return midiFile(0, 96, {rawTrack({{0, noteOn(channel, 38, 100)}, {100, noteOff(channel, 38)}})});
    };
    struct Case {
        const char* name;
        Bytes song;
        bool percussion;
    };
    const std::vector<Case> cases = {
        {"channel 1, percussion mode", strike(0), true},
        {"channel 10, plain mode", strike(9), false},
        {"channel 1, plain mode", strike(0), false},
    };
    std::vector<std::vector<float>> renderings;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto req = request(c.song);
        req.conversion.settings.percussion = c.percussion;
        req.backgroundMusic = false;
        const auto outcome = runBuild(req, m_quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_EQ(outcome->keysoundFiles.size(), 1u);
        renderings.push_back(decode(outcome->keysoundFiles[0]));
        ASSERT_FALSE(renderings.back().empty());
    }
    // Both drum renderings are the same snare; the piano's D2 is another sound.
    EXPECT_EQ(renderings[0], renderings[1]);
    const std::size_t common = std::min(renderings[0].size(), renderings[2].size());
    double difference = 0;
    for (std::size_t i = 0; i < common; ++i) {
        difference += std::fabs(renderings[0][i] - renderings[2][i]);
    }
    EXPECT_GT(difference / static_cast<double>(common), 0.001);
}

TEST_F(Build, BgmNotesStartWithinOneAndAHalfMillisecondsOfTheirTimes)
{
    // 96 ticks a quarter; 500,000 us a quarter until tick 200, then 300,000 (set in the chosen
    // track, whose notes stay out of the BGM). Wood-block clicks on the drum channel in two
    // other tracks, each dying away before the next.
    const Bytes song = midiFile(1, 96, {
        rawTrack({{0, tempo(500000)}, {0, noteOn(0, 60, 100)}, {96, noteOff(0, 60)}, {200, tempo(300000)}}),
        rawTrack({{0, noteOn(9, 76, 120)}, {10, noteOff(9, 76)},
                  {150, noteOn(9, 76, 120)}, {160, noteOff(9, 76)},
                  {300, noteOn(9, 76, 120)}, {310, noteOff(9, 76)},
                  {600, noteOn(9, 76, 120)}, {610, noteOff(9, 76)}}),
        rawTrack({{420, noteOn(9, 76, 120)}, {430, noteOff(9, 76)}}),
    });
    // Tick t before 200 is at t / 96 * 0.5 s; after it, 1.0416667 s + (t - 200) / 96 * 0.3 s.
    const std::vector<double> seconds = {0.0, 0.78125, 1.3541667, 1.7291667, 2.2916667};

    auto req = request(song);
    const auto outcome = runBuild(req, m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    ASSERT_TRUE(outcome->bgmFile.has_value());
    EXPECT_EQ(*outcome->bgmFile, out("bgm.wav"));
    const auto samples = decode(out("bgm.wav"));
    // The wood block's own sample may begin a few frames late; the first click, at frame 0,
    // shows by how much.
    const std::int64_t latency = firstSound(samples);
    ASSERT_GE(latency, 0);
    ASSERT_LT(latency, 64);
    for (const double time : seconds) {
        SCOPED_TRACE(time);
        const auto expected = static_cast<std::int64_t>(std::llround(time * kRate));
        const std::int64_t onset = firstSound(samples, expected - static_cast<std::int64_t>(0.010 * kRate));
        EXPECT_LE(std::abs(onset - expected - latency), static_cast<std::int64_t>(0.0015 * kRate));
    }
}

TEST_F(Build, ChartGetsTheListingLinesAndTheBgmUnderTheNextFreeCode)
{
    const Bytes song = midiFile(1, 480, {
        rawTrack({{0, tempo(461538)}, {0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}}),
        rawTrack({{0, noteOn(1, 64, 100)}, {480, noteOff(1, 64)}}),
    });
    {
        SCOPED_TRACE("start code ZX: the keysound takes ZY, the BGM ZZ");
        auto req = request(song);
        req.conversion.settings.startCode = "ZX";
        req.conversion.settings.startValue = 35 * 36 + 33;
        req.title = "欢乐颂\r\nsecond line";
        req.artist = "Beethoven";
        const auto outcome = runBuild(req, m_quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_TRUE(outcome->skipped.empty());
        const std::string chart = readText(out("song.bms"));
        const std::string top =
            "#PLAYER 1\r\n#TITLE 欢乐颂  second line\r\n#ARTIST Beethoven\r\n#BPM 130.00\r\n#PREVIEW preview.ogg\r\n#LNTYPE 01\r\n";
        EXPECT_EQ(chart.substr(0, top.size()), top);
        // The chart names the files as written.
        EXPECT_NE(chart.find("#WAVZY A60-48-100.wav\r\n#WAVZZ bgm.wav\r\n"), std::string::npos);
        const std::string bgmLine = "#00001:ZZ" + std::string(382, '0') + "\r\n";
        ASSERT_GE(chart.size(), bgmLine.size());
        EXPECT_EQ(chart.substr(chart.size() - bgmLine.size()), bgmLine);
        EXPECT_EQ(outputNames(), (std::vector<std::string>{"A60-48-100.wav", "K-Midi.mid", "bgm.wav", "preview.ogg", "song.bms"}));
    }
    {
        SCOPED_TRACE("start code ZY: the keysound takes ZZ, no code is left");
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.conversion.settings.startCode = "ZY";
        req.conversion.settings.startValue = 35 * 36 + 34;
        const auto outcome = runBuild(req, m_quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_EQ(outcome->skipped.size(), 1u);
        EXPECT_NE(outcome->skipped[0].find("no BGM"), std::string::npos);
        EXPECT_FALSE(outcome->bgmFile.has_value());
        const std::string chart = readText(out("song.bms"));
        EXPECT_EQ(chart.substr(0, 31), "#PLAYER 1\r\n#TITLE song\r\n#BPM 13");
        EXPECT_EQ(chart.find("bgm"), std::string::npos);
        EXPECT_EQ(chart.find("#00001:"), std::string::npos);
        EXPECT_EQ(outputNames(), (std::vector<std::string>{"A60-48-100.wav", "K-Midi.mid", "preview.ogg", "song.bms"}));
    }
}

// Whatever the chart format, the chart is written once, names exactly the files on disk and gets
// a preview that is heard.
TEST_F(Build, EveryFormatNamesTheFilesItWroteAndGetsAHeardPreview)
{
    const Bytes song = midiFile(1, 480, {
        rawTrack({{0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}, {480, noteOn(0, 64, 100)}, {960, noteOff(0, 64)}}),
        rawTrack({{0, noteOn(1, 67, 100)}, {960, noteOff(1, 67)}}),
    });
    struct Case {
        const char* name;
        bool base62;
        bool bmson;
        std::string chart;
        std::string start;
    };
    const std::vector<Case> cases = {
        {"BMS", false, false, "song.bms", "#PLAYER 1\r\n#TITLE song\r\n"},
        {"BMS in base 62", true, false, "song.bms", "#BASE 62\r\n#PLAYER 1\r\n#TITLE song\r\n"},
        {"bmson", false, true, "song.bmson", "{\"version\":\"1.0.0\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.conversion.settings.base62 = c.base62;
        req.conversion.settings.bmson = c.bmson;
        const auto outcome = runBuild(req, m_quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(readText(out(c.chart)).substr(0, c.start.size()), c.start);
        const auto chart = chart::readChartFile(out(c.chart));
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        std::vector<std::string> named;
        for (const auto& name : chart->keysoundNames) {
            if (!name.empty()) {
                named.push_back(name);
            }
        }
        std::sort(named.begin(), named.end());
        EXPECT_EQ(named, (std::vector<std::string>{"A60-48-100.wav", "A64-48-100.wav", "bgm.wav"}));
        for (const auto& name : named) {
            EXPECT_TRUE(std::filesystem::exists(out(name))) << name;
        }
        EXPECT_GE(peak(decode(out("preview.ogg"))), 100 * kOneStep);
    }
}

TEST_F(Build, RefusesBadSoundFontsAndUnwritableFoldersWithNothingWritten)
{
    const Bytes song = oneTrackSong({on(0, 60), off(480, 60)});
    writeFile(m_dir / "notes.sf2", std::string_view("a text file named .sf2\n"));
    // A download cut short: the RIFF chunk announces 1,000 bytes and 24 are there.
    writeFile(m_dir / "cut.sf2", std::string_view("RIFF\xE8\x03\0\0sfbkLIST\x04\0\0\0INFO", 24));
    writeFile(m_dir / "a-file", std::string_view("x"));
    struct Case {
        const char* name;
        std::filesystem::path soundFont;
        std::filesystem::path folder;  // empty: out/
        ErrorCode code;
        std::string sentence;
    };
    const std::vector<Case> cases = {
        {"missing soundfont", m_dir / "none.sf2", {}, ErrorCode::CannotOpen,
         "cannot read " + (m_dir / "none.sf2").string() + ": no such file"},
        {"not a soundfont", m_dir / "notes.sf2", {}, ErrorCode::CannotOpen,
         (m_dir / "notes.sf2").string() + ": not a SoundFont file"},
        {"soundfont cut short", m_dir / "cut.sf2", {}, ErrorCode::CannotOpen,
         (m_dir / "cut.sf2").string() + ": not a SoundFont file"},
        {"folder inside a file", audio::kDefaultSoundFont, m_dir / "a-file" / "out", ErrorCode::WriteFailed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto req = request(song);
        req.soundFont = c.soundFont;
        if (!c.folder.empty()) {
            req.conversion.outputFolder = c.folder;
        }
        const auto outcome = runBuild(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, c.code);
        if (!c.sentence.empty()) {
            EXPECT_EQ(outcome.error().message, c.sentence);
        } else {
            EXPECT_NE(outcome.error().message.find("a-file/out"), std::string::npos) << outcome.error().message;
        }
        EXPECT_TRUE(outputNames().empty());
    }
}

// Asks to stop once the conversion's "K-Midi.mid" is on disk, so the stop comes while rendering.
class StopAfterKeysoundMidi final : public ProgressSink {
public:
    explicit StopAfterKeysoundMidi(std::filesystem::path file) : m_chart(std::move(file)) {}
    void advance(std::int64_t, std::int64_t) override {}
    bool stopRequested() const override { return std::filesystem::exists(m_chart); }

private:
    std::filesystem::path m_chart;
};

TEST_F(Build, CancelLeavesWholeFilesOnlyAndSaysWhich)
{
    std::vector<TimedEvent> notes;
    for (int i = 0; i < 60; ++i) {
        notes.push_back(on(i * 480, 30 + i));
        notes.push_back(off(i * 480 + 470, 30 + i));
    }
    auto req = request(oneTrackSong(notes));
    StopAfterKeysoundMidi stop(out("K-Midi.mid"));
    const auto outcome = runBuild(req, stop);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, ErrorCode::Cancelled);
    EXPECT_NE(outcome.error().message.find("build cancelled: K-Midi.mid"), std::string::npos);
    const auto& message = outcome.error().message;
    // The chart is written last, so not at all; every sound file decodes whole, nothing
    // temporary is left.
    EXPECT_NE(message.find("not the chart"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(out("song.bms")));
    std::size_t soundFiles = 0;
    for (const auto& name : outputNames()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find(".tmp"), std::string::npos);
        if (name.ends_with(".wav")) {
            ++soundFiles;
            EXPECT_GT(frameCount(decode(out(name))), 0);
        }
    }
    // The sentence counts the files that are there.
    EXPECT_NE(message.find(" and " + std::to_string(soundFiles) + " of 60 keysound files"), std::string::npos)
        << message;
    EXPECT_LT(soundFiles, 60u);
}

}  // namespace
}  // namespace zentrowe::testing
