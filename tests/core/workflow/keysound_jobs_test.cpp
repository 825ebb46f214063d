#include "core/workflow/keysound_jobs.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/audio/song_sequence.h"
#include "core/audio/sound_file_reader.h"
#include "core/song/timeline.h"
#include "core/workflow/build.h"
#include "support/build_request.h"
#include "support/fake_renderer.h"

namespace zentrowe::testing {
namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class KeysoundJobs : public ::testing::Test {
protected:
    workflow::BuildRequest request(const Bytes& song, const std::string& folder = "out")
    {
        auto request = wavBuildRequest(song, m_dir / "song.mid", m_dir / folder);
        request.loudness = std::nullopt;  // each keysound at the synthesiser's own level
        request.threads = 1;              // the notes recorded in job order
        return request;
    }

    // A build with the recording renderer: its keysound file names.
    std::vector<std::string> fakeBuild(const Bytes& song)
    {
        m_notes.clear();
        workflow::BuildServices services;
        services.renderers = fakeRenderers({&m_notes});
        const auto outcome = workflow::runBuild(request(song), m_quiet, services);
        EXPECT_TRUE(outcome.ok()) << outcome.error().message;
        std::vector<std::string> names;
        if (outcome.ok()) {
            for (const auto& file : outcome->keysoundFiles) {
                names.push_back(file.filename().string());
            }
        }
        return names;
    }

    TempDir m_dir;
    NullProgress m_quiet;
    std::vector<audio::NoteSound> m_notes;
};

TEST_F(KeysoundJobs, AStateConstantThroughTheTrackKeepsTheConversionsKeysoundsAndNames)
{
    // Volume, pan, expression and program set once: every note plays with them, and the
    // keysounds are those `convert` makes, named alike.
    const Bytes song = oneTrackSong({
        control(0, 7, 90),
        control(0, 10, 40),
        control(0, 11, 100),
        control(0, 64, 0),
        on(0, 60, 100),
        off(240, 60),
        on(240, 62, 80),
        off(720, 62),
        on(720, 60, 100),
        off(960, 60),
        on(960, 64, 100),
        off(1000, 64),
    });
    const auto names = fakeBuild(song);
    auto convertRequest = request(song, "converted").conversion;
    const auto converted = workflow::runConversion(convertRequest, m_quiet);
    ASSERT_TRUE(converted.ok()) << converted.error().message;
    std::vector<std::string> convertNames;
    for (const auto& entry : converted->keysounds.entries()) {
        convertNames.push_back(convert::keysoundStem("A", entry, 1920) + ".wav");
    }
    EXPECT_EQ(names, convertNames);
    EXPECT_EQ(names, (std::vector<std::string>{"A60-24-100.wav", "A62-48-80.wav", "A64-4-100.wav"}));
    ASSERT_EQ(m_notes.size(), 3u);
    for (const auto& note : m_notes) {
        EXPECT_EQ(note.controls, (audio::NoteControls{90, 100, 40, 0, 0, 8192, 2, 0}));
    }
}

TEST_F(KeysoundJobs, AKeyStruckAgainCutsItsEarlierNoteShortAndThatNoteIsAKeysoundOfItsOwn)
{
    // 480 ticks a quarter at 120 BPM: the first note sounds a quarter of its half note until the
    // key is struck again at tick 240 (11,025 frames); a later half note sounds whole.
    const Bytes song = oneTrackSong({
        on(0, 60),
        on(240, 60),
        off(480, 60),
        off(720, 60),
        on(960, 60),
        off(1440, 60),
    });
    const auto names = fakeBuild(song);
    EXPECT_EQ(names, (std::vector<std::string>{"A60-48-100-s24.wav", "A60-48-100.wav"}));
    ASSERT_EQ(m_notes.size(), 2u);
    EXPECT_EQ(m_notes[0].noteFrames, 11025);
    EXPECT_EQ(m_notes[1].noteFrames, 22050);
}

// A note's sound lasts its seconds under every tempo it crosses. 96 ticks a beat, 60 BPM, turning
// 240 BPM at beat 6: a note held over beats 4 to 8 sounds 2 s + 0.5 s, and the note of the same
// length after it 1 s. Rendered at one tempo ("K-Midi.mid"'s, the last Set Tempo), the two differ.
TEST_F(KeysoundJobs, AHeldNoteLastsItsSecondsUnderEveryTempoItCrosses)
{
    const Bytes song = midiFile(0, 96,
                                {bytes({
                                    0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,        // 1,000,000 us a beat: 60 BPM
                                    0x83, 0x00, 0x90, 0x3C, 0x64,                    // beat 4: note 60 on
                                    0x81, 0x40, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // beat 6: 250,000 us, 240 BPM
                                    0x81, 0x40, 0x80, 0x3C, 0x40,                    // beat 8: off
                                    0x00, 0x90, 0x3C, 0x64,                          // and on again
                                    0x83, 0x00, 0x80, 0x3C, 0x40,                    // beat 12: off
                                    0x00, 0xFF, 0x2F, 0x00,
                                })});
    fakeBuild(song);
    ASSERT_EQ(m_notes.size(), 2u);
    EXPECT_EQ(m_notes[0].noteFrames, 110250);  // 2.5 s
    EXPECT_EQ(m_notes[1].noteFrames, 44100);   // 1 s
}

struct Measured {
    double rms = 0;
    double balance = 0;  // (right - left) / (right + left) of the channels' RMS
    double pitchHz = 0;
};

// Level and balance of the first fifth of a second from `from`, and its pitch from the strongest
// autocorrelation between 100 Hz and 1 kHz, refined between samples.
Measured measure(const std::vector<float>& samples, std::int64_t from)
{
    constexpr std::size_t kFrames = 8820;
    const auto start = static_cast<std::size_t>(from);
    double left = 0;
    double right = 0;
    std::vector<double> mono(kFrames);
    for (std::size_t i = 0; i < kFrames && (start + i) * 2 + 1 < samples.size(); ++i) {
        const double l = samples[(start + i) * 2];
        const double r = samples[(start + i) * 2 + 1];
        left += l * l;
        right += r * r;
        mono[i] = l + r;
    }
    Measured m;
    m.rms = std::sqrt((left + right) / (2 * kFrames));
    m.balance = (std::sqrt(right) - std::sqrt(left)) / (std::sqrt(right) + std::sqrt(left));
    const auto correlation = [&](std::size_t lag) {
        double sum = 0;
        for (std::size_t i = 2048; i + lag < kFrames; ++i) {
            sum += mono[i] * mono[i + lag];
        }
        return sum;
    };
    std::size_t best = 44;
    for (std::size_t lag = 44; lag <= 441; ++lag) {
        if (correlation(lag) > correlation(best)) {
            best = lag;
        }
    }
    const double a = correlation(best - 1);
    const double b = correlation(best);
    const double c = correlation(best + 1);
    const double lag = static_cast<double>(best) + 0.5 * (a - c) / (a - 2 * b + c);
    m.pitchHz = audio::kSampleRate / lag;
    return m;
}

std::int64_t lastFrameAboveFloor(const std::vector<float>& samples, std::int64_t from, std::int64_t to)
{
    std::int64_t last = from;
    for (auto frame = from; frame < to && static_cast<std::size_t>(frame) * 2 + 1 < samples.size(); ++frame) {
        const auto i = static_cast<std::size_t>(frame) * 2;
        if (std::fabs(samples[i]) >= audio::kRingOutFloor || std::fabs(samples[i + 1]) >= audio::kRingOutFloor) {
            last = frame + 1;
        }
    }
    return last;
}

// Each keysound of a track that changes volume, expression, pan, pedal and bend between its
// notes sounds as that note does in a rendering of the whole track by the same synthesiser: level
// within 1 dB, balance within 0.1, pitch within 10 cents, and as long within 50 ms.
TEST_F(KeysoundJobs, KeysoundsSoundAsTheirNotesInTheWholeTrack)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no soundfont at " << kSoundFont << "; scripts/install-deps installs it";
    }
    // A flute (program 73), one note a second (960 ticks), each a quarter of a second long.
    const Bytes song = oneTrackSong({
        {0, 0xC0, 73, 0},
        on(0, 69),
        off(240, 69),
        control(900, 7, 60),
        on(960, 69),
        off(1200, 69),
        control(1800, 7, 100),
        control(1800, 11, 80),
        on(1920, 69),
        off(2160, 69),
        control(2800, 11, 127),
        control(2800, 10, 10),
        on(2880, 69),
        off(3120, 69),
        control(3800, 10, 64),
        {3800, 0xE0, 0x00, 0x60},
        on(3840, 69),
        off(4080, 69),
        {4700, 0xE0, 0x00, 0x40},
        control(4700, 64, 127),
        on(4800, 69),
        off(5040, 69),
        control(5400, 64, 0),
        control(6700, 7, 100),
    });
    auto req = request(song);
    req.soundFont = kSoundFont;
    const auto outcome = workflow::runBuild(req, m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    const std::vector<std::string> names = {"A69-24-100.wav",     "A69-24-100-v60.wav",   "A69-24-100-v63.wav",
                                            "A69-24-100-p10.wav", "A69-24-100-b+100.wav", "A69-24-100-s60.wav"};
    ASSERT_EQ(outcome->keysoundFiles.size(), names.size());

    auto synth = audio::SynthRenderer::open(kSoundFont);
    ASSERT_TRUE(synth.ok());
    const auto summary = summaryOf(song);
    const song::TrackPart track[] = {{1, 0}};
    const auto whole = synth->renderEvents(audio::sequenceParts(song, summary, track), audio::kSampleRate, m_quiet);
    ASSERT_TRUE(whole.ok());
    const song::Timeline timeline(summary);
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(outcome->keysoundFiles[i].filename().string(), names[i]);
        const auto decoded = audio::readSoundFile(outcome->keysoundFiles[i], audio::kSampleRate);
        ASSERT_TRUE(decoded.ok());
        const auto& keysound = decoded->samples;
        // The synthesiser strikes a note at the block start nearest its frame.
        const std::int64_t start =
            (timeline.frame(static_cast<std::int64_t>(i) * 960, audio::kSampleRate) + 32) / 64 * 64;
        const auto inKeysound = measure(keysound, 0);
        const auto inTrack = measure(*whole, start);
        ASSERT_GT(inTrack.rms, 0);
        EXPECT_NEAR(20 * std::log10(inKeysound.rms / inTrack.rms), 0, 1.0);
        EXPECT_NEAR(inKeysound.balance, inTrack.balance, 0.1);
        EXPECT_NEAR(1200 * std::log2(inKeysound.pitchHz / inTrack.pitchHz), 0, 10.0);
        const auto end = lastFrameAboveFloor(*whole, start, start + audio::kSampleRate) - start;
        EXPECT_NEAR(static_cast<double>(keysound.size() / 2), static_cast<double>(end), 0.05 * audio::kSampleRate);
    }
}

// A snare and a plucked string last until they have decayed below -60 dBFS, as the same note
// struck in a sequence and left ten seconds to ring; the snare whatever its MIDI length.
TEST(NoteRendering, NotesRingOutUntilSixtyDecibelsDown)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no soundfont at " << kSoundFont << "; scripts/install-deps installs it";
    }
    auto renderer = audio::SynthRenderer::open(kSoundFont);
    ASSERT_TRUE(renderer.ok()) << renderer.error().message;
    struct Case {
        const char* name;
        audio::NoteSound sound;
        std::vector<audio::TimedEvent> events;  // the same note in a sequence
    };
    const audio::NoteSound snare{{0, 0, true}, 38, 110, {}, 64, std::nullopt};
    audio::NoteSound heldSnare = snare;
    heldSnare.noteFrames = audio::kSampleRate;
    const std::vector<Case> cases = {
        {"snare struck for a block", snare, {{0, 0x99, 38, 110}}},
        {"snare held for a second", heldSnare, {{0, 0x99, 38, 110}}},
        {"plucked steel string",
         {{0, 25, false}, 52, 100, {}, 8832, std::nullopt},
         {{0, 0xC0, 25, 0}, {0, 0x90, 52, 100}, {8832, 0x80, 52, 0}}},
    };
    NullProgress quiet;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto note = renderer->renderNote(c.sound);
        const auto whole = renderer->renderEvents(c.events, audio::kLongestRingOutFrames, quiet);
        ASSERT_TRUE(note.ok() && whole.ok());
        const auto length = static_cast<std::int64_t>(note->size() / 2);
        EXPECT_EQ(length, lastFrameAboveFloor(*note, 0, length));  // cut right after its last frame at the floor
        EXPECT_GT(length, c.sound.instrument.drums ? audio::kSampleRate / 20 : c.sound.noteFrames);
        // The sequence's sound, every frame, to where it stays below the floor.
        const auto wholeLength = static_cast<std::int64_t>(whole->size() / 2);
        EXPECT_NEAR(static_cast<double>(length), static_cast<double>(lastFrameAboveFloor(*whole, 0, wholeLength)),
                    audio::kBlockFrames);
    }
}

}  // namespace
}  // namespace zentrowe::testing
