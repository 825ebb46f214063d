#include "core/workflow/build.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <sstream>

#include "support/build_request.h"
#include "core/audio/chart_mixer.h"
#include "core/audio/loudness.h"
#include "core/audio/song_sequence.h"
#include "core/chart/chart_file.h"
#include "core/chart/chart_score.h"
#include "core/convert/keysound_name.h"
#include "core/base/folder_lock.h"
#include "core/workflow/build_manifest.h"
#include "support/fake_renderer.h"
#include "support/faulty_file_system.h"
#include "core/workflow/check.h"

namespace zentrowe::testing {
namespace {

using workflow::BuildRequest;
using workflow::runBuild;

constexpr double kRate = 44100;
constexpr float kOneStep = 1.0f / 32768;  // the smallest non-zero 16-bit sample
// Small and quick to load; the levels and timings below are this soundfont's.
constexpr const char* kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

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
    EXPECT_TRUE(info.channels == 1 || info.channels == 2);
    EXPECT_EQ(info.samplerate, 44100);
    samples.resize(static_cast<std::size_t>(frames * info.channels));
    if (info.channels == 1) {
        // A mono file plays on both sides.
        std::vector<float> stereo(samples.size() * 2);
        for (std::size_t frame = 0; frame < samples.size(); ++frame) {
            stereo[2 * frame] = stereo[2 * frame + 1] = samples[frame];
        }
        return stereo;
    }
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

// Every file of a folder, below it too, by relative name, with its bytes.
std::map<std::string, Bytes> snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const auto name = std::filesystem::relative(entry.path(), folder).string();
        files[name] = entry.is_regular_file() ? readFile(entry.path()) : Bytes{};
    }
    return files;
}

class Build : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kTestSoundFont)) {
            FAIL() << "no General MIDI soundfont at " << kTestSoundFont << "; scripts/install-deps installs it";
        }
    }

    // Writes `song` as song.mid in a fresh folder and asks for a WAV build of track 1 into out/.
    BuildRequest request(const Bytes& song)
    {
        auto request = wavBuildRequest(song, m_dir / "song.mid", m_dir / "out");
        request.soundFont = kTestSoundFont;
        // The tests below look at one BGM file and at levels as rendered; slices and loudness
        // have tests of their own.
        request.bgm = workflow::BgmMode::One;
        request.loudness = std::nullopt;
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

    // Fakes for the synthesiser and the writer: `failAt` counts renderings (or, with a full disk,
    // files written) from 1; 0 never fails.
    workflow::BuildServices fakes(int failAt = 0, FakeRenderer::Fault fault = FakeRenderer::Fault::None,
                                  bool diskFull = false)
    {
        m_calls = 0;
        m_writes = 0;
        workflow::BuildServices services;
        services.renderers = fakeRenderers({nullptr, &m_calls, failAt, fault});
        services.writer = [this, failAt, diskFull](const std::filesystem::path& target, std::span<const float> samples) {
            if (diskFull && ++m_writes == failAt) {
                return Status(fileError(ErrorCode::WriteFailed, target, "write", ENOSPC));
            }
            return audio::writeSoundFile(target, samples, audio::SoundFormat::Wave, 0.5, audio::kSampleRate);
        };
        return services;
    }

    TempDir m_dir;
    NullProgress m_quiet;
    std::atomic<int> m_calls{0};
    std::atomic<int> m_writes{0};
};

// The tests that need no synthesiser: every file but the sounds is real.
class BuildWithFakes : public Build {
protected:
    void SetUp() override {}
    void pastZZMergedToFit(bool panned);
};

TEST_F(Build, KeysoundsLastTheirNoteAtTheKeysoundTempoThenRingOutAndSoundFromTheFirstFrame)
{
    // 480 ticks a quarter at 250,000 us a quarter: a quarter note is 96 ticks of K-Midi.mid and
    // 0.25 s, 11,025 frames. A church organ sustains to its note-off, then its release rings out
    // (whatever the gap of K-Midi.mid) until it stays below -60 dBFS.
    const Bytes song = midiFile(0, 480, {rawTrack({
        {0, tempo(250000)}, {0, program(0, 19)},
        {0, noteOn(0, 60, 120)}, {480, noteOff(0, 60)},
        {480, noteOn(0, 60, 80)}, {960, noteOff(0, 60)},
        {960, noteOn(0, 60, 40)}, {1440, noteOff(0, 60)},
        {1440, noteOn(0, 67, 100)}, {2400, noteOff(0, 67)},
    })});
    auto req = request(song);
    req.conversion.settings.keysoundGap = 0;
    req.bgm = workflow::BgmMode::None;
    const auto outcome = runBuild(req, m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    // The stems the chart names (length in 1/192 of a 1,920-tick measure), lower-case ".wav".
    const std::vector<std::string> names = {"A60-48-120.wav", "A60-48-80.wav", "A60-48-40.wav", "A67-96-100.wav"};
    ASSERT_EQ(outcome->keysoundFiles.size(), names.size());
    const std::vector<std::int64_t> noteFrames = {11025, 11025, 11025, 22050};
    std::vector<float> peaks;
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(outcome->keysoundFiles[i], out(names[i]));
        const auto samples = decode(out(names[i]));
        // Within half a block: a note started one block late would show 64 frames of silence.
        // A soft note's attack takes longer to pass one 16-bit step (the synthesiser starts
        // every note at frame 1, whatever came before it): the loudest is held to half a
        // block, the softest to a block and a half.
        EXPECT_GE(firstSound(samples), 0);
        EXPECT_LT(firstSound(samples), i == 0 ? 32 : 96);
        EXPECT_GT(frameCount(samples), noteFrames[i]);
        EXPECT_LT(frameCount(samples), noteFrames[i] + 3 * audio::kSampleRate);
        // Cut right after its last frame at -60 dBFS (within a step of the 16 bits written).
        const auto last = static_cast<std::size_t>(frameCount(samples) - 1) * 2;
        EXPECT_GE(std::max(std::fabs(samples[last]), std::fabs(samples[last + 1])), audio::kRingOutFloor - kOneStep);
        peaks.push_back(peak(samples));
    }
    EXPECT_GT(peaks[0], peaks[1]);
    EXPECT_GT(peaks[1], peaks[2]);
    EXPECT_GT(peaks[2], 0.0f);
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
        req.bgm = workflow::BgmMode::None;
        req.replace = true;  // each case is another song into the same folder
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
    EXPECT_EQ(outcome->bgmFiles, std::vector<std::filesystem::path>{out("bgm.wav")});
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

TEST_F(BuildWithFakes, ChartGetsTheListingLinesAndTheBgmUnderTheNextFreeCode)
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
        req.text = workflow::ChartText::Utf8;
        req.charts.difficulties = {chartset::Difficulty::Normal};
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_TRUE(outcome->skipped.empty());
        const std::string chart = readText(out("song_N.bms"));
        // One note in 2 s: level 1, and the least #TOTAL.
        const std::string top = "#PLAYER 1\r\n#GENRE MIDI\r\n#TITLE 欢乐颂  second line\r\n#SUBTITLE [NORMAL]\r\n"
                                "#ARTIST Beethoven\r\n"
                                "#BPM 130.00013\r\n#PLAYLEVEL 1\r\n#RANK 2\r\n#TOTAL 160\r\n#DIFFICULTY 2\r\n"
                                "#VOLWAV 100\r\n#PREVIEW preview.ogg\r\n#LNTYPE 01\r\n";
        EXPECT_EQ(chart.substr(0, top.size()), top);
        // The chart names the files as written; at 130 BPM one measure (1.85 s) comes before all.
        EXPECT_NE(chart.find("#WAVZY A60-48-100.wav\r\n#WAVZZ bgm.wav\r\n"), std::string::npos);
        EXPECT_EQ(outcome->leadInMeasures, 1);
        // A line of one slot: the BGM starts its measure, and a line needs no more slots than that.
        const std::string bgmLine = "#00101:ZZ\r\n";
        ASSERT_GE(chart.size(), bgmLine.size());
        EXPECT_EQ(chart.substr(chart.size() - bgmLine.size()), bgmLine);
        EXPECT_EQ(outputNames(), (std::vector<std::string>{".zentrowe-build.json", "A60-48-100.wav", "K-Midi.mid", "bgm.wav", "preview.ogg", "song_N.bms"}));
    }
    {
        SCOPED_TRACE("start code ZY: the keysound takes ZZ, no code is left");
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.conversion.settings.startCode = "ZY";
        req.conversion.settings.startValue = 35 * 36 + 34;
        req.charts.difficulties = {chartset::Difficulty::Normal};
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(outcome->skipped, std::vector<workflow::SkipReason>{workflow::SkipReason::NoCodeForBgm});
        EXPECT_TRUE(outcome->bgmFiles.empty());
        const std::string chart = readText(out("song_N.bms"));
        EXPECT_EQ(chart.substr(0, 57), "#PLAYER 1\r\n#GENRE MIDI\r\n#TITLE song\r\n#SUBTITLE [NORMAL]\r\n");
        EXPECT_EQ(chart.find("bgm"), std::string::npos);
        EXPECT_EQ(chart.find("#00001:"), std::string::npos);
        EXPECT_EQ(outputNames(), (std::vector<std::string>{".zentrowe-build.json", "A60-48-100.wav", "K-Midi.mid", "preview.ogg", "song_N.bms"}));
    }
}

// A BMS chart holds its texts in Shift_JIS, as most players read it: a simplified Chinese title
// in its Japanese kanji form (欢乐颂 is 歓楽頌, 8A BD 8A 79 E8 F1), unless --text utf-8 keeps it
// as given (then UTF-8, which Shift_JIS cannot hold); bmson, UTF-8 by its format, keeps it.
TEST_F(BuildWithFakes, ATitleWithoutAShiftJisFormIsWrittenInJapaneseKanji)
{
    const Bytes song = midiFile(1, 480,
                                {
                                    rawTrack({{0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}}),
                                });
    struct Case {
        const char* name;
        workflow::ChartText text;
        bool bmson;
        std::string chart;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {"Shift_JIS, the kanji form",
         workflow::ChartText::ShiftJis,
         false,
         "song_N.bms",
         {"#TITLE \x8A\xBD\x8A\x79\xE8\xF1 Ode\r\n#SUBTITLE [NORMAL]\r\n#ARTIST \x93\xAA\x94\xAF\r\n"}},
        {"utf-8, as given",
         workflow::ChartText::Utf8,
         false,
         "song_N.bms",
         {"#TITLE 欢乐颂 Ode\r\n#SUBTITLE [NORMAL]\r\n#ARTIST 头发\r\n"}},
        {"bmson keeps the text",
         workflow::ChartText::ShiftJis,
         true,
         "song_N.bmson",
         {"\"title\":\"欢乐颂 Ode\"", "\"artist\":\"头发\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.title = "欢乐颂 Ode";
        req.artist = "头发";
        req.text = c.text;
        req.conversion.settings.bmson = c.bmson;
        req.charts.difficulties = {chartset::Difficulty::Normal};
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const std::string chart = readText(out(c.chart));
        for (const auto& text : c.texts) {
            EXPECT_NE(chart.find(text), std::string::npos) << chart.substr(0, 200);
        }
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
        {"BMS", false, false, "song_N.bms", "#PLAYER 1\r\n#GENRE MIDI\r\n#TITLE song\r\n"},
        {"BMS in base 62", true, false, "song_N.bms", "#BASE 62\r\n#PLAYER 1\r\n#GENRE MIDI\r\n#TITLE song\r\n"},
        {"bmson", false, true, "song_N.bmson", "{\"version\":\"1.0.0\""},
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
        // The soundfont opens while the folder is staged: its failure is still the one told.
        {"not a soundfont, and a folder inside a file", m_dir / "notes.sf2", m_dir / "a-file" / "out",
         ErrorCode::CannotOpen, (m_dir / "notes.sf2").string() + ": not a SoundFont file"},
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

// Asks to stop from the moment a given stage of the build begins.
class StopFromStage final : public ProgressSink {
public:
    explicit StopFromStage(ProgressStage stage) : m_stage(stage) {}
    void beginStage(ProgressStage stage) override { m_reached = m_reached || stage == m_stage; }
    void advance(std::int64_t, std::int64_t) override {}
    bool stopRequested() const override { return m_reached; }

private:
    ProgressStage m_stage;
    bool m_reached = false;
};

// Quarter notes on channel 1 (in `instrument`, a General MIDI program, where one is given) over
// a bass note on channel 2.
Bytes melody(const std::vector<int>& notes, std::optional<int> instrument = std::nullopt)
{
    std::vector<RawEvent> events;
    if (instrument) {
        events.push_back({0, program(0, *instrument)});
    }
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const auto at = static_cast<std::int64_t>(i) * 480;
        events.push_back({at, noteOn(0, notes[i], 100)});
        events.push_back({at + 400, noteOff(0, notes[i])});
    }
    return midiFile(1, 480, {rawTrack(events), rawTrack({{0, noteOn(1, 40, 90)}, {960, noteOff(1, 40)}})});
}

TEST_F(BuildWithFakes, AFailedOrCancelledRebuildLeavesTheEarlierFolderByteIdentical)
{
    using Fault = FakeRenderer::Fault;
    struct Case {
        const char* name;
        std::optional<ProgressStage> stopFrom;
        int failAt;
        Fault fault;
        bool diskFull;
        ErrorCode code;
        bool loudness = false;
    };
    const std::vector<Case> cases = {
        {"cancel while converting", ProgressStage::Converting, 0, Fault::None, false, ErrorCode::Cancelled},
        {"cancel while rendering", ProgressStage::Rendering, 0, Fault::None, false, ErrorCode::Cancelled},
        {"cancel while mixing the preview", ProgressStage::Previewing, 0, Fault::None, false, ErrorCode::Cancelled},
        {"cancel while measuring the loudness", ProgressStage::Mixing, 0, Fault::None, false, ErrorCode::Cancelled, true},
        {"disk full at the first file", std::nullopt, 1, Fault::None, true, ErrorCode::WriteFailed},
        {"disk full at the fourth file", std::nullopt, 4, Fault::None, true, ErrorCode::WriteFailed},
        {"out of memory in a worker", std::nullopt, 3, Fault::BadAlloc, false, ErrorCode::OutOfMemory},
        {"exception in a worker", std::nullopt, 2, Fault::Exception, false, ErrorCode::WriteFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto first = request(melody({60, 62, 64}));
        ASSERT_TRUE(runBuild(first, m_quiet, fakes()).ok());
        writeFile(out("mine.txt"), std::string_view("the user's own file"));
        const auto before = snapshot(m_dir / "out");

        auto again = request(melody({65, 67, 69, 71, 72}));
        again.replace = true;  // the song was edited: the folder's files are another song's
        again.conversion.settings.keysoundGap = 48;
        if (c.loudness) {
            again.loudness = -14;
        }
        StopFromStage stop(c.stopFrom.value_or(ProgressStage::Converting));
        ProgressSink& sink = c.stopFrom ? static_cast<ProgressSink&>(stop) : m_quiet;
        const auto outcome = runBuild(again, sink, fakes(c.failAt, c.fault, c.diskFull));
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, c.code) << outcome.error().message;
        EXPECT_NE(outcome.error().message.find("earlier files are untouched"), std::string::npos)
            << outcome.error().message;
        EXPECT_EQ(snapshot(m_dir / "out"), before);
    }
}

TEST_F(BuildWithFakes, AStagedFileTheFileSystemRefusesFailsTheBuildNamingItAndLeavesTheFolder)
{
    // Every file the build stages goes through its file system, as the commit's moves do.
    const std::vector<std::string> staged = {"song_N.bms", "K-Midi.mid", "preview.ogg",
                                             workflow::kBuildManifestFileName};
    auto first = request(melody({60, 62, 64}));
    ASSERT_TRUE(runBuild(first, m_quiet, fakes()).ok());
    const auto before = snapshot(m_dir / "out");
    auto again = request(melody({65, 67, 69}));
    again.replace = true;
    for (const auto& name : staged) {
        SCOPED_TRACE(name);
        FaultyFileSystem fileSystem;
        fileSystem.failAt = out(base::StagingFolder::kName) / name;
        auto services = fakes();
        services.fileSystem = &fileSystem;
        const auto outcome = runBuild(again, m_quiet, services);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WriteFailed);
        EXPECT_NE(outcome.error().message.find(name), std::string::npos) << outcome.error().message;
        EXPECT_EQ(snapshot(m_dir / "out"), before);
    }
}

TEST_F(BuildWithFakes, ARebuildRemovesOnlyWhatTheEarlierBuildMadeAndNoLongerNeeds)
{
    auto first = request(melody({60, 62}));
    first.charts.difficulties = {chartset::Difficulty::Normal};
    ASSERT_TRUE(runBuild(first, m_quiet, fakes()).ok());
    writeFile(out("mine.txt"), std::string_view("kept"));
    writeFile(out("A99-48-100.wav"), std::string_view("a file of the same pattern no build made"));
    const auto manifest = workflow::readBuildManifest(m_dir / "out");
    ASSERT_EQ(manifest.builds.size(), 1u);
    EXPECT_EQ(manifest.builds[0].chart, "song_N.bms");
    EXPECT_EQ(manifest.builds[0].track, 1);
    EXPECT_EQ(manifest.builds[0].files,
              (std::vector<std::string>{"A60-40-100.wav", "A62-40-100.wav", "bgm.wav", "K-Midi.mid", "preview.ogg"}));

    auto again = request(melody({60, 64}));
    again.replace = true;
    again.bgm = workflow::BgmMode::None;
    again.charts.difficulties = {chartset::Difficulty::Normal};
    const auto outcome = runBuild(again, m_quiet, fakes());
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    EXPECT_EQ(outcome->removedFiles, (std::vector<std::filesystem::path>{out("A62-40-100.wav"), out("bgm.wav")}));
    EXPECT_EQ(outputNames(), (std::vector<std::string>{".zentrowe-build.json", "A60-40-100.wav", "A64-40-100.wav",
                                                       "A99-48-100.wav", "K-Midi.mid", "mine.txt", "preview.ogg",
                                                       "song_N.bms"}));
}

TEST_F(BuildWithFakes, AFolderHoldsOneSongAnotherIsRefusedBeforeRenderingOrReplacedWhole)
{
    struct Case {
        const char* name;
        std::function<BuildRequest()> second;
        bool refused;
        bool manifestBeforeHashes = false;  // the first build's records as older builds wrote them
        const char* said = "";              // in the refusal
    };
    // One chart, BGM in one file: the set's other charts and the slices add nothing here.
    const auto first = [this](const Bytes& song) {
        auto req = request(song);
        req.charts.difficulties = {chartset::Difficulty::Normal};
        return req;
    };
    const auto other = [this](const Bytes& song, const std::filesystem::path& source) {
        auto req = wavBuildRequest(song, source, m_dir / "out");
        req.bgm = workflow::BgmMode::One;
        req.charts.difficulties = {chartset::Difficulty::Normal};
        return req;
    };
    const std::vector<Case> cases = {
        {"the same notes on a violin, another file", [&] { return other(melody({60, 62}, 40), m_dir / "violin.mid"); },
         true, false, "built from track 1 of song.mid, and a folder holds one song"},
        {"another track of the song", [&] { auto req = first(melody({60, 62})); req.conversion.trackNumber = 2; return req; },
         true, false, "track 1 of song.mid"},
        {"the song edited in place", [&] { return first(melody({60, 62}, 40)); }, false},
        {"the song's bytes under another name",
         [&] { return other(melody({60, 62}), m_dir / "tune.mid"); }, false},
        {"the song with other options",
         [&] { auto req = first(melody({60, 62})); req.conversion.settings.keysoundGap = 48; return req; }, false},
        {"the song edited, its records older than hashes", [&] { return first(melody({60, 62}, 40)); }, false, true},
        {"another song, the records older than hashes",
         [&] { return other(melody({60, 62}), m_dir / "tune.mid"); }, true, true, "track 1 of song.mid"},
    };
    // Every case starts from a copy of one first build.
    ASSERT_TRUE(runBuild(first(melody({60, 62})), m_quiet, fakes()).ok());
    // The folder may go public: the manifest knows the song by name and bytes, not by where it lies.
    const std::string manifestText = readText(out(workflow::kBuildManifestFileName));
    EXPECT_EQ(manifestText.find("\"/"), std::string::npos) << manifestText;  // no value is an absolute path
    {
        // While another pass holds the folder, the manifest it may be replacing is not read: the
        // build itself waits for the folder or refuses.
        const auto held = FolderLock::acquire(m_dir / "out");
        ASSERT_TRUE(held.ok());
        EXPECT_FALSE(workflow::wouldReplaceAnotherChart(cases.front().second()));
    }
    ASSERT_TRUE(workflow::wouldReplaceAnotherChart(cases.front().second()));
    std::filesystem::rename(m_dir / "out", m_dir / "built");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        std::filesystem::copy(m_dir / "built", m_dir / "out");
        first(melody({60, 62}));  // song.mid as built, where a case edited it
        if (c.manifestBeforeHashes) {
            auto manifest = workflow::readBuildManifest(m_dir / "out");
            for (auto& record : manifest.builds) {
                record.song = "/home/someone/songs/song.mid";
                record.songHash.clear();
            }
            writeFile(out(workflow::kBuildManifestFileName), std::string_view(workflow::manifestText(manifest)));
        }
        writeFile(out("mine.txt"), std::string_view("the user's own file"));
        const auto before = snapshot(m_dir / "out");
        auto second = c.second();
        const auto asked = workflow::wouldReplaceAnotherChart(second);
        EXPECT_EQ(asked.has_value(), c.refused);
        const auto refusal = runBuild(second, m_quiet, fakes());
        if (!c.refused) {
            ASSERT_TRUE(refusal.ok()) << refusal.error().message;
            continue;
        }
        ASSERT_FALSE(refusal.ok());
        EXPECT_EQ(refusal.error().code, ErrorCode::WouldReplaceChart);
        EXPECT_NE(refusal.error().message.find(c.said), std::string::npos) << refusal.error().message;
        EXPECT_EQ(m_calls, 0);
        EXPECT_EQ(snapshot(m_dir / "out"), before);
        EXPECT_EQ(asked->song, "song.mid");

        // Replacing: the earlier song's files go, unless the new song writes them again.
        second.replace = true;
        const auto replaced = runBuild(second, m_quiet, fakes());
        ASSERT_TRUE(replaced.ok()) << replaced.error().message;
        const auto manifest = workflow::readBuildManifest(m_dir / "out");
        std::set<std::string> listed = {workflow::kBuildManifestFileName, "mine.txt"};
        for (const auto& record : manifest.builds) {
            EXPECT_EQ(record.song, second.conversion.sourceMidiPath.filename().string());
            EXPECT_EQ(record.track, second.conversion.trackNumber);
            listed.insert(record.chart);
            listed.insert(record.files.begin(), record.files.end());
        }
        const auto names = outputNames();
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), listed);
        EXPECT_FALSE(workflow::wouldReplaceAnotherChart(second));
    }
}

TEST_F(BuildWithFakes, RefusalsNameWhatIsAtFaultAndWriteNothing)
{
    {
        SCOPED_TRACE("a BGM track holding a note for 194 hours");
        const Bytes song = midiFile(1, 96, {rawTrack({{0, noteOn(0, 60, 100)}, {96, noteOff(0, 60)}}),
                                            rawTrack({{0, noteOn(1, 40, 90)}, {1 << 27, noteOff(1, 40)}})});
        const auto outcome = runBuild(request(song), m_quiet, fakes());
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::TooLong);
        EXPECT_EQ(outcome.error().number, 2);
        EXPECT_NE(outcome.error().message.find("track 2 plays until 194 h"), std::string::npos)
            << outcome.error().message;
        EXPECT_TRUE(outputNames().empty());
    }
    {
        SCOPED_TRACE("another build holds the folder");
        auto req = request(melody({60}));
        auto lock = FolderLock::acquire(m_dir / "out");
        ASSERT_TRUE(lock.ok());
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::FolderBusy);
        EXPECT_NE(outcome.error().message.find((m_dir / "out").string()), std::string::npos);
        EXPECT_TRUE(outputNames().empty());
    }
    {
        SCOPED_TRACE("a keysound name that the track's channel states lengthen past 255 bytes");
        // The second note differs in level, pan, modulation, pressure and bend: "-v…-p10-m50-a30-b+…".
        const Bytes song = midiFile(0, 96, {rawTrack({{0, noteOn(0, 60, 100)}, {96, noteOff(0, 60)},
                                                      {100, bytes({0xB0, 7, 40})}, {100, bytes({0xB0, 10, 10})},
                                                      {100, bytes({0xB0, 1, 50})}, {100, bytes({0xD0, 30})},
                                                      {100, bytes({0xE0, 0, 0x50})}, {192, noteOn(0, 60, 100)},
                                                      {288, noteOff(0, 60)}})});
        auto req = request(song);
        req.conversion.settings.keysoundName = std::string(convert::kLongestKeysoundName, 'k');
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::InvalidSetting);
        const auto& message = outcome.error().message;
        const auto advice = message.find("shorten the keysound name to ");
        ASSERT_NE(advice, std::string::npos) << message;
        EXPECT_TRUE(outputNames().empty());
        EXPECT_EQ(m_calls, 0);
        // The length advised builds: every file is written under a longer temporary name first.
        const auto advised = std::stoul(message.substr(advice + std::string("shorten the keysound name to ").size()));
        req.conversion.settings.keysoundName = std::string(advised, 'k');
        const auto rebuilt = runBuild(req, m_quiet, fakes());
        EXPECT_TRUE(rebuilt.ok()) << rebuilt.error().message;
    }
    {
        SCOPED_TRACE("a conversion refused leaves no folder it made");
        auto req = request(oneTrackSong({}));
        req.conversion.outputFolder = m_dir / "new" / "out";
        const auto outcome = workflow::runConversion(req.conversion, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::EmptyTrack);
        EXPECT_FALSE(std::filesystem::exists(m_dir / "new"));
    }
}

TEST_F(BuildWithFakes, AFolderOrAFileNoBuildMadeUnderAnOutputNameStopsTheBuildBeforeRendering)
{
    struct Case {
        const char* name;
        std::string taken;  // the output name the user's folder or file has
        bool folder;
        bool replace;       // --replace
        bool refused;
    };
    const std::vector<Case> cases = {
        {"a folder of the user's at preview.ogg", "preview.ogg", true, false, true},
        {"a folder stays with --replace too", "preview.ogg", true, true, true},
        {"a folder at K-Midi.mid", "K-Midi.mid", true, false, true},
        {"a folder at a chart's name", "song_H.bms", true, true, true},
        {"a hand-written chart", "song_N.bms", false, false, true},
        {"the user's own sample under a keysound's name", "A60-40-100.wav", false, false, true},
        {"a hand-written chart with --replace", "song_N.bms", false, true, false},
        {"the user's own sample with --replace", "A60-40-100.wav", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(melody({60, 62}));
        req.replace = c.replace;
        req.replaceUnlisted = c.replace;
        if (c.folder) {
            std::filesystem::create_directories(out(c.taken) / "my_project");
            writeFile(out(c.taken) / "my_project" / "essay.txt", std::string_view("precious"));
        } else {
            writeFile(out(c.taken), std::string_view("the user's own"));
        }
        const auto before = snapshot(m_dir / "out");
        const auto outcome = runBuild(req, m_quiet, fakes());
        if (c.refused) {
            ASSERT_FALSE(outcome.ok());
            EXPECT_EQ(outcome.error().code, ErrorCode::WouldReplaceChart);
            EXPECT_EQ(outcome.error().subject, c.folder ? "folder" : "file");
            EXPECT_EQ(outcome.error().path, out(c.taken).string());
            EXPECT_NE(outcome.error().message.find(out(c.taken).string()), std::string::npos);
            EXPECT_EQ(m_calls, 0) << "nothing is rendered";
            EXPECT_EQ(snapshot(m_dir / "out"), before);
        } else {
            ASSERT_TRUE(outcome.ok()) << outcome.error().message;
            EXPECT_EQ(outcome->replacedFiles, std::vector<std::filesystem::path>{out(c.taken)});
            EXPECT_NE(readText(out(c.taken)), "the user's own");
        }
    }
}

TEST_F(BuildWithFakes, ACommitCutShortIsUndoneOrFinishedByTheNextBuildAndSaysWhatIsInPlace)
{
    struct Case {
        const char* name;
        int stopAfter;   // changes the killed build makes after the commit's journal; -1: not killed
        int failMoveAt;  // the rename after the journal that fails; 0: none
        bool finished;   // the new build is in place afterwards
    };
    // Every file is staged, through the build's file system, before the journal is written. After
    // it, the rebuild's changes: three new keysounds, then K-Midi.mid, preview.ogg, the manifest
    // and the charts N, H, A each swapped in and set aside (changes 4 to 15, the last chart in at
    // 14), then the two keysounds no longer named removed; bgm.wav, the same bytes in both songs,
    // stays where it is. The staging folder's own tests stop the commit after every change; these
    // check the build.
    const std::vector<Case> cases = {
        {"killed once the journal is written", 0, 0, false},
        {"killed with all but the last chart in", 12, 0, false},
        {"killed once the last chart is in", 14, 0, true},
        {"killed while removing what is no longer named", 16, 0, true},
        {"the last chart's rename fails", -1, 14, false},
    };
    // Two songs of one name in folders of their own: their charts have the same names.
    auto songIn = [this](const Bytes& song, const std::string& folder) {
        auto req = request(song);
        std::filesystem::create_directory(m_dir / folder);
        req.conversion.sourceMidiPath = m_dir / folder / "song.mid";
        writeFile(req.conversion.sourceMidiPath, song);
        req.replace = true;  // each replaces the other's charts
        return req;
    };
    const auto first = songIn(melody({60, 62}), "first");
    const auto second = songIn(melody({64, 65, 67}), "second");
    auto other = first;
    other.conversion.trackNumber = 2;  // refused (another track's charts), once the folder is recovered
    other.replace = false;
    ASSERT_TRUE(runBuild(first, m_quiet, fakes()).ok());
    const auto before = snapshot(m_dir / "out");
    FaultyFileSystem counting;  // where the journal falls among the rebuild's changes
    auto services = fakes();
    services.fileSystem = &counting;
    ASSERT_TRUE(runBuild(second, m_quiet, services).ok());
    const auto after = snapshot(m_dir / "out");
    const int journal = counting.changesAtDurableWrite + 1;
    ASSERT_GT(counting.movesAtDurableWrite, 0) << "the staged files are renamed into place through it";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        std::filesystem::create_directory(m_dir / "out");
        for (const auto& [name, content] : before) {
            writeFile(out(name), content);
        }
        FaultyFileSystem fileSystem;
        fileSystem.stopAfter = c.stopAfter < 0 ? -1 : journal + c.stopAfter;
        fileSystem.failMoveAt = c.failMoveAt == 0 ? 0 : counting.movesAtDurableWrite + c.failMoveAt;
        services.fileSystem = &fileSystem;
        const auto cut = runBuild(second, m_quiet, services);
        if (c.failMoveAt != 0) {
            ASSERT_FALSE(cut.ok());
            EXPECT_EQ(cut.error().code, ErrorCode::WriteFailed);
            EXPECT_NE(cut.error().message.find("the folder's earlier files are back in place"), std::string::npos)
                << cut.error().message;
            EXPECT_EQ(snapshot(m_dir / "out"), before);
            continue;
        }
        EXPECT_TRUE(std::filesystem::exists(out(base::StagingFolder::kName)));
        const auto next = runBuild(other, m_quiet, fakes());
        ASSERT_FALSE(next.ok());
        EXPECT_EQ(next.error().code, ErrorCode::WouldReplaceChart) << next.error().message;
        EXPECT_TRUE(snapshot(m_dir / "out") == (c.finished ? after : before)) << "no file lost, none left over";
    }
}

// The files the folder's BMS charts name (#WAV) that it does not hold.
std::vector<std::string> namedButMissing(const std::filesystem::path& folder)
{
    std::vector<std::string> missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".bms") {
            continue;
        }
        std::istringstream lines(readText(entry.path()));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("#WAV") && line.size() > 7) {
                const auto name = line.substr(7, line.find_last_not_of('\r') - 6);
                if (!std::filesystem::exists(folder / name)) {
                    missing.push_back(entry.path().filename().string() + " names " + name);
                }
            }
        }
    }
    return missing;
}

TEST_F(BuildWithFakes, ARebuildKilledWhileRemovingWhatIsNoLongerNamedLeavesNoChartNamingAMissingFile)
{
    // Normal and hyper share the "A" keysounds; the rebuild writes normal alone with "B" ones, so
    // it removes the hyper chart and the "A" files once its own are in. The charts go first.
    auto earlier = request(melody({60, 62}));
    earlier.bgm = workflow::BgmMode::None;
    earlier.charts.difficulties = {chartset::Difficulty::Normal, chartset::Difficulty::Hyper};
    auto rebuild = earlier;
    rebuild.charts.difficulties = {chartset::Difficulty::Normal};
    rebuild.conversion.settings.keysoundName = "B";
    ASSERT_TRUE(runBuild(earlier, m_quiet, fakes()).ok());
    const auto before = snapshot(m_dir / "out");
    const auto restore = [&] {
        std::filesystem::remove_all(m_dir / "out");
        std::filesystem::create_directory(m_dir / "out");
        for (const auto& [name, content] : before) {
            writeFile(out(name), content);
        }
    };
    FaultyFileSystem counting;
    auto services = fakes();
    services.fileSystem = &counting;
    ASSERT_TRUE(runBuild(rebuild, m_quiet, services).ok());
    ASSERT_FALSE(std::filesystem::exists(out("song_H.bms")));
    // The last changes: the three removals (song_H.bms, the two "A" files), the set-aside files
    // and the journal, the staging folder.
    for (int stopAfter = counting.changes - 5; stopAfter < counting.changes - 3; ++stopAfter) {
        SCOPED_TRACE("killed after change " + std::to_string(stopAfter) + " of " + std::to_string(counting.changes));
        restore();
        FaultyFileSystem killed;
        killed.stopAfter = stopAfter;
        services = fakes();
        services.fileSystem = &killed;
        (void)runBuild(rebuild, m_quiet, services);
        EXPECT_EQ(namedButMissing(m_dir / "out"), std::vector<std::string>{});
    }
}

TEST_F(BuildWithFakes, ASilentKeysoundIsNeverWrittenNorPlayedAndAllSilentIsRefused)
{
    struct Case {
        const char* name;
        int silentFrom;  // the note (0..3) from which channel volume 0 holds
        bool refused;
    };
    const std::vector<Case> cases = {
        {"the last three of four notes at volume 0", 1, false},
        {"every note at volume 0", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        std::vector<RawEvent> events;
        for (int k = 0; k < 4; ++k) {
            if (k == c.silentFrom) {
                events.push_back({k * 480, bytes({0xB0, 7, 0})});
            }
            events.push_back({k * 480, noteOn(0, k == 0 ? 60 : 62, 100)});
            events.push_back({k * 480 + 240, noteOff(0, k == 0 ? 60 : 62)});
        }
        const auto outcome = runBuild(request(midiFile(0, 480, {rawTrack(events)})), m_quiet, fakes());
        if (c.refused) {
            ASSERT_FALSE(outcome.ok());
            EXPECT_EQ(outcome.error().code, ErrorCode::SilentRecording);
            const auto& message = outcome.error().message;
            EXPECT_NE(message.find("every note of track 1 (4) sounds nothing"), std::string::npos) << message;
            EXPECT_NE(message.find("channel volume 0"), std::string::npos) << message;
            EXPECT_EQ(message.find((m_dir / "out").string()), std::string::npos) << message;
            EXPECT_TRUE(outputNames().empty());
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_EQ(outcome->silentKeysounds.size(), 1u);
        const auto& silent = outcome->silentKeysounds.front();
        EXPECT_EQ(silent.note, 62);
        EXPECT_EQ(silent.noteCount, 3);
        EXPECT_EQ(silent.cause, workflow::SilenceCause::VolumeZero);
        EXPECT_FALSE(std::filesystem::exists(out(silent.fileName)));
        EXPECT_EQ(outcome->keysoundFiles.size(), 1u);
        for (const auto& built : outcome->charts) {
            const auto chart = chart::readChartFile(built.path);
            ASSERT_TRUE(chart.ok());
            EXPECT_EQ(chart->objects.size(), 1u) << built.path;
            for (const auto& name : chart->keysoundNames) {
                EXPECT_NE(name, silent.fileName);
            }
        }
    }
}

TEST_F(BuildWithFakes, OnlyOneWholeBgmFileHasAnHoursLimit)
{
    // 120 BPM: the other track's second note two hours in, measure 3600 (a bmson chart's).
    constexpr std::int64_t kTwoHours = 2LL * 3600 * 2 * 480;
    const Bytes song = midiFile(1, 480, {rawTrack({{0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}}),
                                         rawTrack({{0, noteOn(1, 48, 100)}, {480, noteOff(1, 48)},
                                                   {kTwoHours, noteOn(1, 50, 100)}, {kTwoHours + 480, noteOff(1, 50)}})});
    struct Case {
        const char* name;
        workflow::BgmMode bgm;
        bool built;
    };
    for (const auto& c : std::vector<Case>{{"in slices", workflow::BgmMode::Slices, true},
                                           {"as one file", workflow::BgmMode::One, false}}) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.conversion.settings.bmson = true;
        req.bgm = c.bgm;
        const auto outcome = runBuild(req, m_quiet, fakes());
        if (c.built) {
            ASSERT_TRUE(outcome.ok()) << outcome.error().message;
            EXPECT_EQ(outcome->bgmFiles.size(), 2u);
            continue;
        }
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::TooLong);
        EXPECT_NE(outcome.error().message.find("build it in slices (--bgm slices)"), std::string::npos)
            << outcome.error().message;
    }
}

TEST_F(BuildWithFakes, PresetsTheSoundFontLacksAreListedWithWhatPlaysInstead)
{
    // The fake lacks every preset of bank 5: bank select 5 (controller 0), program 3 asks for one,
    // and bank 0 program 3 plays instead; on the drum channel a bank select selects nothing, in
    // the lanes and in the BGM alike, and the kit of program 3 plays.
    const auto bankFive = [](int channel) {
        return rawTrack({{0, bytes({0xB0 | channel, 0, 5})}, {0, program(channel, 3)},
                         {0, noteOn(channel, 60, 100)}, {480, noteOff(channel, 60)}});
    };
    const Bytes plain = rawTrack({{0, noteOn(0, 62, 100)}, {480, noteOff(0, 62)}});
    struct Case {
        const char* name;
        Bytes song;
        workflow::BgmMode bgm;
        std::vector<workflow::MissingInstrument> expected;
    };
    const std::vector<Case> cases = {
        {"a melodic preset in the lanes", midiFile(0, 480, {bankFive(0)}), workflow::BgmMode::None,
         {{{5, 3, false}, audio::Instrument{0, 3, false}, false}}},
        {"a melodic preset in the BGM", midiFile(1, 480, {plain, bankFive(1)}), workflow::BgmMode::Slices,
         {{{5, 3, false}, audio::Instrument{0, 3, false}, true}}},
        {"the drum channel in the lanes", midiFile(0, 480, {bankFive(9)}), workflow::BgmMode::None, {}},
        {"the drum channel in the BGM", midiFile(1, 480, {plain, bankFive(9)}), workflow::BgmMode::Slices, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(c.song);
        req.bgm = c.bgm;
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_EQ(outcome->missingInstruments.size(), c.expected.size());
        for (std::size_t k = 0; k < c.expected.size(); ++k) {
            EXPECT_EQ(outcome->missingInstruments[k].instrument, c.expected[k].instrument);
            EXPECT_EQ(outcome->missingInstruments[k].playedBy, c.expected[k].playedBy);
            EXPECT_EQ(outcome->missingInstruments[k].inBgm, c.expected[k].inBgm);
        }
    }
}

TEST_F(Build, OneOrFourThreadsRenderTheSameSamples)
{
    auto req = request(melody({60, 62, 64, 65, 67, 69}));
    req.threads = 1;
    ASSERT_TRUE(runBuild(req, m_quiet).ok());
    std::filesystem::rename(m_dir / "out", m_dir / "one");
    req = request(melody({60, 62, 64, 65, 67, 69}));
    req.threads = 4;
    ASSERT_TRUE(runBuild(req, m_quiet).ok());
    auto one = snapshot(m_dir / "one");
    auto four = snapshot(m_dir / "out");
    // An OGG stream carries a random serial number: the preview is compared by its samples.
    EXPECT_EQ(decode(m_dir / "one" / "preview.ogg"), decode(out("preview.ogg")));
    one.erase("preview.ogg");
    four.erase("preview.ogg");
    ASSERT_EQ(one.size(), four.size());
    for (const auto& [name, bytes] : one) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(four.count(name) != 0 && four[name] == bytes);
    }
}


TEST_F(BuildWithFakes, EveryOtherNoteIsAKeysoundAtItsTickAndASilentOneLeavesItsNotes)
{
    // 480 ticks a quarter: a 1,920-tick measure. The lanes' track strikes tick 0; the other track
    // strikes note 64 a tick late and again at tick 961 (one sound, one file), and note 70 on a
    // channel at volume 0, which renders as silence.
    const Bytes song = midiFile(1, 480, {
        rawTrack({{0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}}),
        rawTrack({{0, bytes({0xB2, 7, 0})}, {1, noteOn(1, 64, 100)}, {480, noteOn(2, 70, 100)},
                  {481, noteOff(1, 64)}, {960, noteOff(2, 70)}, {961, noteOn(1, 64, 100)}, {1441, noteOff(1, 64)}}),
    });
    auto req = request(song);
    req.bgm = workflow::BgmMode::Keysounds;
    req.charts.follow = false;  // the other track's notes stay background keysounds of their own
    req.charts.difficulties = {chartset::Difficulty::Normal};
    const auto outcome = runBuild(req, m_quiet, fakes());
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    EXPECT_TRUE(outcome->bgmFiles.empty());
    EXPECT_EQ(outcome->keysoundFiles, (std::vector<std::filesystem::path>{out("A60-48-100.wav"), out("Abg64-48-100.wav")}));
    EXPECT_EQ(outcome->backgroundKeysoundFiles, 1u);
    EXPECT_EQ(outcome->backgroundNotes, 2);
    ASSERT_EQ(outcome->silentKeysounds.size(), 1u);
    EXPECT_EQ(outcome->silentKeysounds.front().fileName, "Abg70-48-100-v0.wav");
    EXPECT_EQ(outcome->silentKeysounds.front().noteCount, 1);
    // The faces learn of it from the findings alone.
    ASSERT_EQ(outcome->findings.size(), 1u);
    EXPECT_EQ(outcome->findings.front().code, workflow::FindingCode::KeysoundSilent);
    EXPECT_EQ(outcome->findings.front().as<workflow::SilentKeysound>().fileName, "Abg70-48-100-v0.wav");

    // After a measure of lead-in, measure 001 holds the two strikes at ticks 1 and 961 of its
    // 1,920 slots under code 02; the silent keysound's code 03 is neither defined nor placed.
    const std::string chart = readText(out("song_N.bms"));
    EXPECT_NE(chart.find("#WAV01 A60-48-100.wav\r\n#WAV02 Abg64-48-100.wav\r\n\r\n"), std::string::npos) << chart;
    std::string line(2 * 1920, '0');
    line.replace(2 * 1, 2, "02");
    line.replace(2 * 961, 2, "02");
    EXPECT_NE(chart.find("#00101:" + line + "\r\n"), std::string::npos) << chart;
    EXPECT_EQ(chart.find("#WAV03"), std::string::npos);
    EXPECT_NE(readText(out(".zentrowe-build.json")).find("\"keysounds\""), std::string::npos);
}

TEST_F(BuildWithFakes, TheOtherTracksBecomeSlicesAtTheirMeasuresUnderTheCodesAfterTheKeysounds)
{
    // 120 BPM, 480 ticks a quarter: a measure is 2 s, so notes 20 measures apart make two slices,
    // both a measure later in the chart, after its lead-in.
    const Bytes song = midiFile(1, 480, {
        rawTrack({{0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}}),
        rawTrack({{0, noteOn(1, 64, 100)}, {480, noteOff(1, 64)}, {20 * 1920, noteOn(1, 65, 100)}, {20 * 1920 + 480, noteOff(1, 65)}}),
    });
    struct Case {
        const char* name;
        std::string startCode;
        int startValue;
        std::vector<std::string> files;
        std::vector<std::string> lines;  // the BGM's lines, at the chart's end
        std::vector<workflow::SkipReason> skipped;
    };
    const std::string rest;  // each slice starts its measure: a line of one slot
    const std::vector<Case> cases = {
        {"from 00", "00", 0, {"bgm-001.wav", "bgm-002.wav"}, {"#00101:02" + rest, "#02101:03" + rest}, {}},
        {"the last codes", "ZW", 35 * 36 + 32, {"bgm-001.wav", "bgm-002.wav"}, {"#00101:ZY" + rest, "#02101:ZZ" + rest}, {}},
        {"one code left: one file", "ZX", 35 * 36 + 33, {"bgm.wav"}, {"#00101:ZZ" + rest},
         {workflow::SkipReason::NoCodesForSlices}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.bgm = workflow::BgmMode::Slices;
        req.conversion.settings.startCode = c.startCode;
        req.conversion.settings.startValue = c.startValue;
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(outcome->skipped, c.skipped);
        EXPECT_EQ(outcome->bgmSlicesWanted, c.skipped.empty() ? 0u : 2u);
        std::vector<std::filesystem::path> files;
        for (const auto& name : c.files) {
            files.push_back(out(name));
            EXPECT_GT(frameCount(decode(out(name))), 0) << name;
        }
        EXPECT_EQ(outcome->bgmFiles, files);
        const std::string chart = readText(out("song_N.bms"));
        std::string expected;
        for (const auto& line : c.lines) {
            expected += line + "\r\n";
        }
        ASSERT_GE(chart.size(), expected.size());
        EXPECT_EQ(chart.substr(chart.size() - expected.size()), expected);
    }
}

// Every file of a build gets one gain, the one that brings the autoplay mix to the target or
// its true peak to -1 dBTP, whichever comes first.
TEST_F(BuildWithFakes, LoudnessBringsTheAutoplayToTheTargetWithOneGainForEveryFile)
{
    std::vector<RawEvent> melody;
    std::vector<RawEvent> other;
    for (int beat = 0; beat < 40; ++beat) {
        melody.push_back({beat * 480, noteOn(0, 60 + beat % 5, 40 + 20 * (beat % 4))});
        melody.push_back({beat * 480 + 240, noteOff(0, 60 + beat % 5)});
        other.push_back({beat * 480, noteOn(1, 48, 100)});
        other.push_back({beat * 480 + 240, noteOff(1, 48)});
    }
    const Bytes song = midiFile(1, 480, {rawTrack(melody), rawTrack(other)});
    auto plain = request(song);
    ASSERT_TRUE(runBuild(plain, m_quiet, fakes()).ok());
    std::map<std::string, float> plainPeaks;
    for (const auto& name : outputNames()) {
        if (name.ends_with(".wav")) {
            plainPeaks[name] = peak(decode(out(name)));
        }
    }
    ASSERT_GT(plainPeaks.size(), 3u);

    struct Case {
        double target;
        audio::LoudnessBound bound;
    };
    for (const auto& c : {Case{-40, audio::LoudnessBound::Loudness}, Case{-14, audio::LoudnessBound::TruePeak}}) {
        SCOPED_TRACE(c.target);
        auto req = request(song);
        req.conversion.outputFolder = m_dir / "loud";
        std::filesystem::remove_all(m_dir / "loud");
        std::filesystem::create_directories(m_dir / "loud");
        req.loudness = c.target;
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_TRUE(outcome->loudness.has_value());
        EXPECT_EQ(outcome->loudness->bound, c.bound);

        // The folder as a player hears it, measured afresh.
        const auto chart = chart::readChartFile(m_dir / "loud" / "song_N.bms");
        ASSERT_TRUE(chart.ok());
        const auto mix = audio::mixChart(*chart, m_dir / "loud", {}, m_quiet);
        ASSERT_TRUE(mix.ok());
        auto meter = audio::LoudnessMeter::open(44100);
        ASSERT_TRUE(meter.ok());
        meter->add(mix->sound.samples);
        const auto measured = meter->measure();
        const double mixDb = 20 * std::log10(static_cast<double>(mix->gain));
        EXPECT_TRUE(std::fabs(measured.integratedLufs - mixDb - c.target) <= 0.5 ||
                    std::fabs(measured.truePeakDbtp - mixDb + 1) <= 0.5)
            << measured.integratedLufs - mixDb << " LUFS, " << measured.truePeakDbtp - mixDb << " dBTP";
        EXPECT_NE(readText(m_dir / "loud" / "song_N.bms").find("#VOLWAV 100\r\n"), std::string::npos);

        const double gain = audio::amplitudeOfDb(outcome->loudness->gainDb);
        for (const auto& [name, plainPeak] : plainPeaks) {
            SCOPED_TRACE(name);
            EXPECT_NEAR(peak(decode(m_dir / "loud" / name)) / plainPeak, gain, gain * 0.01 + 2 * kOneStep / plainPeak);
        }
        EXPECT_FALSE(std::filesystem::exists(m_dir / "loud" / ".zentrowe-staging"));
    }

    // Renders kept in memory, spilled to disk past the budget, or some of each, make the same
    // files: a spilled render is exact, a kept one within a 16-bit step.
    std::map<std::string, std::vector<float>> kept;
    for (const std::size_t budget : {workflow::kHeldSoundBytes, std::size_t{0}, std::size_t{20'000}}) {
        SCOPED_TRACE(budget);
        auto req = request(song);
        req.conversion.outputFolder = m_dir / "budget";
        std::filesystem::remove_all(m_dir / "budget");
        std::filesystem::create_directories(m_dir / "budget");
        req.loudness = -40;
        req.heldSoundBytes = budget;
        ASSERT_TRUE(runBuild(req, m_quiet, fakes()).ok());
        for (const auto& [name, plainPeak] : plainPeaks) {
            SCOPED_TRACE(name);
            const auto samples = decode(m_dir / "budget" / name);
            auto& first = kept[name];
            if (first.empty()) {
                first = samples;
                continue;
            }
            ASSERT_EQ(samples.size(), first.size());
            for (std::size_t i = 0; i < samples.size(); ++i) {
                ASSERT_NEAR(samples[i], first[i], 1.5F * kOneStep) << "sample " << i;
            }
        }
    }
}

Bytes metaText(int type, std::string_view text)
{
    Bytes out = bytes({0xFF, type, static_cast<int>(text.size())});
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

// What a folder checker and players' parsers ask of a chart folder: time before the first object,
// the song's name and author readable, a genre, bmson's own units, and no object placed twice.
TEST_F(BuildWithFakes, ChartsStartAfterALeadInWithTheSongsTextsAndEachNoteOnce)
{
    // 夜明けのテーマ in Shift_JIS as the sequence name, a cp1252 copyright line, a note doubled
    // (same channel, key and tick) at the song's very start; the other track from tick 0 too.
    const std::string dawn = "\x96\xE9\x96\xBE\x82\xAF\x82\xCC\x83\x65\x81\x5B\x83\x7D";
    const Bytes song = midiFile(1, 480, {
        rawTrack({{0, metaText(3, dawn)}, {0, metaText(2, "Copyright \xA9 1997 by Jane Roe")},
                  {0, noteOn(0, 60, 100)}, {0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}, {480, noteOff(0, 60)},
                  {480, noteOn(0, 62, 100)}, {960, noteOff(0, 62)}}),
        rawTrack({{0, noteOn(1, 64, 100)}, {480, noteOff(1, 64)}}),
    });
    for (const bool bmson : {false, true}) {
        SCOPED_TRACE(bmson ? "bmson" : "BMS");
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.bgm = workflow::BgmMode::Slices;
        req.conversion.settings.bmson = bmson;
        req.charts.difficulties = {chartset::Difficulty::Normal};
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const auto chartPath = out(bmson ? "song_N.bmson" : "song_N.bms");
        const auto chart = chart::readChartFile(chartPath);
        ASSERT_TRUE(chart.ok()) << chart.error().message;

        // 120 BPM: one empty measure of 2 s, the BGM slice with the notes.
        EXPECT_EQ(outcome->leadInMeasures, 1);
        EXPECT_DOUBLE_EQ(outcome->firstSoundSeconds, 2.0);
        std::vector<std::pair<double, std::string>> heard;
        for (const auto& object : chart->objects) {
            heard.emplace_back(object.seconds, chart->keysoundNames[object.code]);
        }
        std::sort(heard.begin(), heard.end());
        const std::vector<std::pair<double, std::string>> expected = {
            {2.0, "A60-48-100.wav"}, {2.0, "bgm-001.wav"}, {2.5, "A62-48-100.wav"}};
        EXPECT_EQ(heard, expected);

        const std::string text = readText(chartPath);
        if (bmson) {
            for (const char* field : {"\"judge_rank\":100", "\"total\":100", "\"level\":", "\"mode_hint\":\"beat-7k\"",
                                      "\"subtitle\":\"[NORMAL]\"", "\"resolution\":480",
                                      "\"title\":\"夜明けのテーマ\"", "\"artist\":\"Jane Roe\"", "\"genre\":\"MIDI\""}) {
                EXPECT_NE(text.find(field), std::string::npos) << field;
            }
        } else {
            EXPECT_NE(text.find("#GENRE MIDI\r\n#TITLE " + dawn + "\r\n#SUBTITLE [NORMAL]\r\n#ARTIST Jane Roe\r\n"),
                      std::string::npos);
            EXPECT_EQ(text.find("#000"), std::string::npos);
        }
    }
}

// At a quarter of 1 µs a measure lasts 4 µs: the 999 measures of a BMS chart cannot make the
// 1.5 s a player wants before the first note, and the outcome says when the charts first sound
// (as a player reading the chart times it) so that the faces can warn.
TEST_F(BuildWithFakes, ALeadInTooShortForTheFirstTempoSaysWhenTheChartsFirstSound)
{
    auto req = request(midiFile(0, 480, {rawTrack({{0, tempo(1)}, {0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)}})}));
    req.bgm = workflow::BgmMode::None;
    req.charts.difficulties = {chartset::Difficulty::Normal};
    const auto outcome = runBuild(req, m_quiet, fakes());
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    const auto chart = chart::readChartFile(out("song_N.bms"));
    ASSERT_TRUE(chart.ok()) << chart.error().message;
    ASSERT_FALSE(chart->objects.empty());
    double first = chart->objects.front().seconds;
    for (const auto& object : chart->objects) {
        first = std::min(first, object.seconds);
    }
    EXPECT_NEAR(outcome->firstSoundSeconds, first, 1e-9);
    EXPECT_LT(outcome->firstSoundSeconds, 0.005);
    EXPECT_GT(outcome->leadInMeasures, 990);
}

// More different tempos than base 36 numbers (1,295 #BPMxx codes): the build refuses them in a
// sentence that names the options that lift the limit, and with --codes 62 numbers them in base 62.
TEST_F(BuildWithFakes, TemposPastBase36NameTheWayOutAndBuildInBase62)
{
    std::vector<RawEvent> events;
    for (int k = 0; k < 1400; ++k) {
        events.push_back({k * 4, tempo(static_cast<std::uint32_t>(400000 + k * 10))});
    }
    // The notes span the tempos: a chart takes the tempo changes as far as its notes play.
    for (int k = 0; k < 30; ++k) {
        events.push_back({k * 200, noteOn(0, 40 + k, 100)});
        events.push_back({k * 200 + 100, noteOff(0, 40 + k)});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const RawEvent& a, const RawEvent& b) { return a.time < b.time; });
    const Bytes song = midiFile(0, 480, {rawTrack(events)});
    for (const bool base62 : {false, true}) {
        SCOPED_TRACE(base62 ? "--codes 62" : "base 36");
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.bgm = workflow::BgmMode::None;
        req.conversion.settings.base62 = base62;
        req.charts.difficulties = {chartset::Difficulty::Normal};
        const auto outcome = runBuild(req, m_quiet, fakes());
        if (!base62) {
            ASSERT_FALSE(outcome.ok());
            EXPECT_EQ(outcome.error().code, ErrorCode::CodesExhausted);
            EXPECT_NE(outcome.error().message.find("more than 1295 different tempos"), std::string::npos)
                << outcome.error().message;
            EXPECT_NE(outcome.error().message.find("base-62 codes (--codes 62) number 3843"), std::string::npos)
                << outcome.error().message;
            EXPECT_EQ(m_calls, 0);
            EXPECT_TRUE(outputNames().empty());
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const std::string text = readText(out("song_N.bms"));
        EXPECT_NE(text.find("#BASE 62\r\n"), std::string::npos);
        std::size_t definitions = 0;
        for (auto at = text.find("\n#BPM"); at != std::string::npos; at = text.find("\n#BPM", at + 1)) {
            definitions += text.compare(at + 5, 1, " ") != 0 ? 1u : 0u;  // #BPMxx, not the initial #BPM
        }
        EXPECT_GT(definitions, 1295u);
        EXPECT_TRUE(chart::readChartFile(out("song_N.bms")).ok());
    }
}

TEST_F(BuildWithFakes, AFileIsDefinedOnceUnderOneCodeAndOnlyWhatTheChartsPlaceIsMade)
{
    // 480 ticks a quarter note, 10 a 1/192 measure: notes of 480 and 481 ticks round to one name,
    // A60-48-100; key 62 struck twice at one tick, released at once and after a beat, sounds once
    // as the longer (A62-48-100), and its note of no length, A62-0-100, is placed nowhere.
    const Bytes song = oneTrackSong({on(0, 60), off(480, 60), on(960, 60), off(1441, 60), on(1920, 62), off(1920, 62),
                                     on(1920, 62), off(2400, 62)});
    for (const bool bmson : {false, true}) {
        SCOPED_TRACE(bmson ? "bmson" : "BMS");
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.conversion.settings.bmson = bmson;
        req.charts.difficulties = {chartset::Difficulty::Beginner, chartset::Difficulty::Another};
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(outcome->keysoundFiles.size(), 2u);
        EXPECT_FALSE(std::filesystem::exists(out("A62-0-100.wav")));
        for (const char* name : {"song_B", "song_A"}) {
            const auto path = out(std::string(name) + (bmson ? ".bmson" : ".bms"));
            const auto chart = chart::readChartFile(path);
            ASSERT_TRUE(chart.ok()) << chart.error().message;
            std::multiset<std::string> defined;
            for (const auto& keysound : chart->keysoundNames) {
                if (!keysound.empty()) {
                    defined.insert(keysound);
                }
            }
            std::multiset<std::string> placed;
            for (const auto& object : chart->objects) {
                placed.insert(chart->keysoundNames[object.code]);
            }
            const std::multiset<std::string> files = {"A60-48-100.wav", "A62-48-100.wav"};
            EXPECT_EQ(defined, files) << name;
            EXPECT_EQ(std::set<std::string>(placed.begin(), placed.end()),
                      std::set<std::string>(files.begin(), files.end()))
                << name;
            EXPECT_EQ(placed.size(), 3u) << name;
            if (!bmson) {
                const std::string text = readText(path);
                EXPECT_NE(text.find("#WAV01 A60-48-100.wav\r\n#WAV02 A62-48-100.wav\r\n"), std::string::npos) << text;
                EXPECT_EQ(text.find("#WAV03"), std::string::npos) << text;
            }
        }
    }
}

void BuildWithFakes::pastZZMergedToFit(bool panned)
{
    // Twelve keys at every velocity 1 to 127, a 16th (120 ticks, 12/192 measure) each: 1,524
    // keysounds, more than the 1,295 codes up to ZZ. Velocities to the nearest multiple of 4 (ties
    // up, kept within 1..127) take 33 values, 1, 4, 8, ... 124, 127: 396 keysounds, and no milder
    // merging fits.
    // With a pan set before each note to its velocity, every note is its own channel state as
    // well: merged, pans take the velocities' 33 values, so the same 396 keysounds fit.
    auto songOf = [](bool withPans) {
        std::vector<TimedEvent> events;
        std::int64_t tick = 0;
        for (int key = 60; key < 72; ++key) {
            for (int velocity = 1; velocity <= 127; ++velocity, tick += 120) {
                if (withPans) {
                    events.push_back(control(tick, 10, velocity));
                }
                events.push_back(on(tick, key, velocity));
                events.push_back(off(tick + 120, key));
            }
        }
        return oneTrackSong(events);
    };
    struct Case {
        const char* what;
        bool mergeToFit;
        bool panned;
    };
    // Each case renders hundreds of sounds: a test runs the cases of one song.
    const Case cases[] = {{"merged", true, false},
                          {"refused, naming the ways out", false, false},
                          {"merged, each note its own pan", true, true}};
    for (const auto& c : cases) {
        if (c.panned != panned) {
            continue;
        }
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(songOf(c.panned));
        req.charts.difficulties = {chartset::Difficulty::Another};
        req.mergeToFit = c.mergeToFit;
        const auto outcome = runBuild(req, m_quiet, fakes());
        if (!c.mergeToFit) {
            ASSERT_FALSE(outcome.ok());
            EXPECT_EQ(outcome.error().code, ErrorCode::CodesExhausted);
            for (const char* way : {"1524 keysounds", "--codes 62", "--chart-format bmson", "--velocity-step 4"}) {
                EXPECT_NE(outcome.error().message.find(way), std::string::npos) << outcome.error().message;
            }
            EXPECT_EQ(outputNames(), std::vector<std::string>{});
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(outcome->mergedKeysounds, 1524u - 396u);
        EXPECT_EQ(outcome->mergedWith.velocityStep, 4);
        EXPECT_EQ(outcome->mergedWith.lengthStep, 1);
        EXPECT_EQ(outcome->keysoundFiles.size(), 396u);
        const std::string text = readText(out("song_A.bms"));
        EXPECT_EQ(text.find("#BASE 62"), std::string::npos);
        EXPECT_NE(text.find("#WAVB0 "), std::string::npos);  // 396 = "B0" in base 36
        EXPECT_EQ(text.find("#WAVB1 "), std::string::npos);
        if (!c.panned) {  // a panned keysound's name adds its state
            EXPECT_TRUE(std::filesystem::exists(out("A60-12-124.wav")));
            EXPECT_TRUE(std::filesystem::exists(out("A71-12-127.wav")));
        }
    }
}

TEST_F(BuildWithFakes, PastZZSoundsAListenerCannotTellApartAreMergedToFitBase36)
{
    pastZZMergedToFit(false);
}

TEST_F(BuildWithFakes, PastZZChannelStatesMergedWithTheirNotesFitBase36)
{
    pastZZMergedToFit(true);
}

// A preview asked to start past the song's end starts at its last note rather than refusing
// after everything was rendered.
TEST_F(BuildWithFakes, APreviewFromPastTheSongsEndStartsAtItsLastNote)
{
    auto req = request(midiFile(1, 480, {rawTrack({{0, noteOn(0, 60, 100)}, {480, noteOff(0, 60)},
                                                   {960, noteOn(0, 62, 100)}, {1440, noteOff(0, 62)}})}));
    req.bgm = workflow::BgmMode::None;
    for (const double from : {0.5, 1000.0}) {
        SCOPED_TRACE(from);
        req.previewFrom = from;
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_GT(frameCount(decode(out("preview.ogg"))), 0);
    }
}

// The check lines the chart's first keysound up with the track's first note, so a chart with a
// lead-in still sounds like its track.
TEST_F(Build, ABuiltFolderWithItsLeadInPassesTheCheck)
{
    std::vector<RawEvent> melody;
    for (int beat = 0; beat < 8; ++beat) {
        melody.push_back({beat * 240, noteOn(0, 60 + 2 * (beat % 4), 100)});
        melody.push_back({beat * 240 + 200, noteOff(0, 60 + 2 * (beat % 4))});
    }
    auto req = request(midiFile(1, 480, {rawTrack(melody)}));
    req.bgm = workflow::BgmMode::None;
    const auto outcome = runBuild(req, m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    ASSERT_EQ(outcome->leadInMeasures, 1);
    workflow::CheckRequest check;
    check.chartPath = outcome->charts.front().path;
    check.midiPath = m_dir / "song.mid";
    check.trackNumber = 1;
    check.soundFont = kTestSoundFont;
    const auto checked = workflow::runCheck(check, m_quiet);
    ASSERT_TRUE(checked.ok()) << checked.error().message;
    EXPECT_TRUE(checked->passed) << checked->comparison.similarity << " " << checked->comparison.worstSimilarity;
}

// An open hi-hat on every beat, closed a 16th later: the soundfont (the full General MIDI one, as
// a default build uses) makes them one choke group, so the synthesiser silences each open hat at
// the closed one. Its keysound stops there too, rather than ringing to the next open hat, and
// the folder sounds like the track.
TEST_F(Build, AnOpenHiHatChokedByTheClosedOnePassesTheCheck)
{
    std::vector<RawEvent> hats;
    for (int beat = 0; beat < 8; ++beat) {
        hats.push_back({beat * 480, noteOn(9, 46, 100)});
        hats.push_back({beat * 480 + 60, noteOff(9, 46)});
        hats.push_back({beat * 480 + 120, noteOn(9, 42, 100)});
        hats.push_back({beat * 480 + 180, noteOff(9, 42)});
    }
    auto req = request(midiFile(1, 480, {rawTrack(hats)}));
    req.soundFont = audio::kFullSoundFont;
    req.bgm = workflow::BgmMode::None;
    req.conversion.settings.percussion = true;
    const auto outcome = runBuild(req, m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    workflow::CheckRequest check;
    check.chartPath = outcome->charts.front().path;
    check.midiPath = m_dir / "song.mid";
    check.trackNumber = 1;
    check.soundFont = audio::kFullSoundFont;
    const auto checked = workflow::runCheck(check, m_quiet);
    ASSERT_TRUE(checked.ok()) << checked.error().message;
    EXPECT_TRUE(checked->passed) << checked->comparison.similarity << " " << checked->comparison.worstSimilarity;
}

// A pedal, a controller or a program change of the chosen track acts on the other tracks' notes of
// its channel, as when the song plays whole; its notes, its other channels and what comes after
// the other tracks' last event stay out of the BGM.
TEST(SongSequence, TheChosenTracksControlsOfASharedChannelReachTheOtherTracks)
{
    const Bytes song = midiFile(1, 96, {rawTrack({{0, bytes({0xB0, 64, 127})}, {0, bytes({0xB1, 7, 30})},
                                                  {0, noteOn(0, 72, 100)}, {48, noteOff(0, 72)},
                                                  {50, program(0, 40)}, {500, bytes({0xB0, 7, 20})}}),
                                        rawTrack({{10, noteOn(0, 48, 90)}, {96, noteOff(0, 48)}})});
    const auto events = audio::sequenceTracks(song, summaryOf(song), 1);
    std::vector<std::array<int, 3>> got;
    for (const auto& event : events) {
        got.push_back({event.status, event.data1, event.data2});
    }
    const std::vector<std::array<int, 3>> expected = {
        {0xB0, 64, 127}, {0x90, 48, 90}, {0xC0, 40, 0}, {0x80, 48, 0}};
    EXPECT_EQ(got, expected);
}

// A channel of a track, or several parts, in the lanes: the keysounds are the parts' notes, the
// manifest names each file's track and channel, and every chart says what each part gives.
TEST_F(BuildWithFakes, TheLanesDrawOnTheNamedPartsAndTheManifestSaysWhereEachSoundCameFrom)
{
    const Bytes song = midiFile(1, 480, {
        rawTrack({{0, noteOn(0, 60, 100)}, {0, noteOn(1, 64, 100)}, {480, noteOff(0, 60)}, {480, noteOff(1, 64)}}),
        rawTrack({{240, noteOn(2, 67, 100)}, {480, noteOff(2, 67)}}),
    });
    using Sounds = std::vector<std::pair<std::string, workflow::SoundSource>>;
    struct Case {
        const char* name;
        int channel;
        std::vector<song::TrackPart> moreParts;
        Sounds sounds;
        std::vector<std::int64_t> notesByPart;  // of the hardest chart
    };
    const Case cases[] = {
        {"channel 2 of track 1", 2, {}, {{"A64-48-100.wav", {1, 2}}}, {1}},
        {"channel 1 of track 1 and track 2",
         1,
         {{2, 0}},
         {{"A60-48-100.wav", {1, 1}}, {"A67-24-100.wav", {2, 3}}},
         {1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song);
        req.bgm = workflow::BgmMode::None;
        req.conversion.channel = c.channel;
        req.conversion.moreParts = c.moreParts;
        req.charts.difficulties = {chartset::Difficulty::Insane};
        const auto outcome = runBuild(req, m_quiet, fakes());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_EQ(workflow::readBuildManifest(m_dir / "out").sounds, c.sounds);
        EXPECT_EQ(outcome->charts.back().report.notesByPart, c.notesByPart);
    }
    SCOPED_TRACE("a part without notes is refused, with nothing written");
    std::filesystem::remove_all(m_dir / "out");
    auto req = request(song);
    req.conversion.moreParts = {{2, 1}};
    const auto refused = runBuild(req, m_quiet, fakes());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::EmptyTrack);
    EXPECT_EQ(refused.error().message, "track 2 channel 1 has no notes to convert; nothing was written");
    EXPECT_TRUE(outputNames().empty());
}

TEST_F(BuildWithFakes, TheChartsPicturesGiveTheReportsDensities)
{
    // A run of 8th notes at 120 BPM (4 a second), then a burst of 16ths (8 a second), with a
    // held note and a quiet bar between: every difficulty thins them differently, and the lead-in
    // moves them all; what the picture reads from each written chart is what the report counted.
    std::vector<RawEvent> events = {{0, tempo(500000)}};
    std::int64_t at = 0;
    for (int k = 0; k < 32; ++k, at += 240) {
        events.push_back({at, noteOn(0, 60 + k % 12, 100)});
        events.push_back({at + 200, noteOff(0, 60 + k % 12)});
    }
    events.push_back({at, noteOn(0, 72, 100)});
    events.push_back({at + 1920, noteOff(0, 72)});
    at += 3840;
    for (int k = 0; k < 32; ++k, at += 120) {
        events.push_back({at, noteOn(0, 48 + k % 24, 100)});
        events.push_back({at + 100, noteOff(0, 48 + k % 24)});
    }
    auto req = request(midiFile(0, 480, {rawTrack(events)}));
    req.bgm = workflow::BgmMode::None;
    req.charts.difficulties = {chartset::Difficulty::Normal, chartset::Difficulty::Another,
                               chartset::Difficulty::Insane};
    const auto outcome = runBuild(req, m_quiet, fakes());
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    ASSERT_EQ(outcome->charts.size(), 3U);
    for (const auto& chart : outcome->charts) {
        SCOPED_TRACE(chart.path.filename().string());
        const auto score = chart::readChartScore(chart.path);
        ASSERT_TRUE(score.ok()) << score.error().message;
        EXPECT_NEAR(score->density.average, chart.report.averageDensity, 1e-6);
        EXPECT_NEAR(score->density.peak, chart.report.peakDensity, 1e-6);
    }
    // The burst: 8 notes a second in the busiest two seconds of the full track.
    EXPECT_NEAR(outcome->charts.back().report.peakDensity, 8, 1e-6);
}

}  // namespace
}  // namespace zentrowe::testing
