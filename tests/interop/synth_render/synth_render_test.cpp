// Renders the keysound MIDI file of a converted song with TiMidity++ (its default: the recording
// starts at the first note) and FluidSynth (the recording starts at time 0 of the file, one gap
// earlier), cuts both with --lead-in auto, and measures in every cut file's samples that its
// note starts within 10 ms of the file's start and that the file holds the whole note.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

constexpr double kSampleRate = 44100;
constexpr double kSecondsPerTick = 0.5 / 96;  // 120 BPM, 96 ticks a quarter
constexpr int kGapTicks = 192;                // one second

struct Note {
    int number;
    int ticks;
    int velocity;
    const char* stem;  // name + note + "-" + 1/192 measures + "-" + velocity
};

// Every note shorter than the gap, so its sound has died away before the next one starts; the
// last is the shortest, which a cut one gap late would lose entirely.
const std::vector<Note> kNotes = {
    {60, 48, 100, "A60-24-100"}, {64, 24, 90, "A64-12-90"}, {67, 96, 110, "A67-48-110"},
    {72, 12, 80, "A72-6-80"},    {62, 36, 70, "A62-18-70"},
};

Bytes songFile()
{
    Bytes events = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});  // 500,000 us a quarter
    for (const auto& note : kNotes) {
        append(events, varLen(48));
        append(events, bytes({0x90, note.number, note.velocity}));
        append(events, varLen(static_cast<std::uint32_t>(note.ticks)));
        append(events, bytes({0x80, note.number, 0x00}));
    }
    append(events, kEndOfTrack);
    return midiFile(1, 96, {events});
}

// The loudest channel of every frame of a 16-bit PCM WAV file.
std::vector<int> frameLevels(const std::filesystem::path& path)
{
    const Bytes file = readFile(path);
    std::size_t pos = 12;
    int channels = 0;
    int bits = 0;
    while (pos + 8 <= file.size()) {
        const std::string id(file.begin() + static_cast<std::ptrdiff_t>(pos),
                             file.begin() + static_cast<std::ptrdiff_t>(pos + 4));
        const std::size_t size = std::size_t{file[pos + 4]} | (std::size_t{file[pos + 5]} << 8) |
                                 (std::size_t{file[pos + 6]} << 16) | (std::size_t{file[pos + 7]} << 24);
        if (id == "fmt ") {
            channels = file[pos + 10] | (file[pos + 11] << 8);
            bits = file[pos + 22] | (file[pos + 23] << 8);
        } else if (id == "data") {
            EXPECT_EQ(bits, 16) << path;
            std::vector<int> levels;
            const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
            const std::size_t end = std::min(file.size(), pos + 8 + size);
            for (std::size_t at = pos + 8; channels > 0 && at + frameBytes <= end; at += frameBytes) {
                int level = 0;
                for (int c = 0; c < channels; ++c) {
                    const auto sample = static_cast<std::int16_t>(file[at + 2 * static_cast<std::size_t>(c)] |
                                                                  (file[at + 2 * static_cast<std::size_t>(c) + 1] << 8));
                    level = std::max(level, std::abs(int{sample}));
                }
                levels.push_back(level);
            }
            return levels;
        }
        pos += 8 + size + (size & 1);
    }
    ADD_FAILURE() << path << ": no data chunk";
    return {};
}

int run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string quoted(const std::filesystem::path& path)
{
    return "'" + path.string() + "'";
}

struct Measured {
    double onsetSeconds = -1;       // first frame at 5% of the file's peak
    double lastSoundSeconds = -1;   // last frame at 5% of the file's peak
    double durationSeconds = 0;
};

Measured measure(const std::filesystem::path& path)
{
    const auto levels = frameLevels(path);
    Measured m;
    m.durationSeconds = static_cast<double>(levels.size()) / kSampleRate;
    const int peak = levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
    const int threshold = std::max(33, peak / 20);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] >= threshold) {
            if (m.onsetSeconds < 0) {
                m.onsetSeconds = static_cast<double>(i) / kSampleRate;
            }
            m.lastSoundSeconds = static_cast<double>(i) / kSampleRate;
        }
    }
    return m;
}

// Converts the song, renders K-Midi.mid with `render` (a command taking the MIDI file and the
// WAV file), cuts it and returns the folder holding the cut files.
void renderAndCut(const TempDir& dir, const std::string& name, const std::string& render, const std::string& leadIn,
                  const std::string& expectedLeadIn)
{
    const auto folder = dir / name;
    std::filesystem::create_directories(folder);
    writeFile(folder / "song.mid", songFile());
    ASSERT_EQ(run(std::string(ZENTROWE_CLI) + " convert " + quoted(folder / "song.mid") + " --track 1 --out " +
                  quoted(folder) + " --gap " + std::to_string(kGapTicks)),
              0);
    const auto recording = folder / "render.wav";
    std::string command = render;
    command.replace(command.find("MIDI"), 4, quoted(folder / "K-Midi.mid"));
    command.replace(command.find("WAV"), 3, quoted(recording));
    ASSERT_EQ(run(command), 0) << command;
    ASSERT_TRUE(std::filesystem::exists(recording)) << command;

    const auto log = folder / "cut.log";
    const int cut = std::system((std::string(ZENTROWE_CLI) + " cut " + quoted(recording) + " --chart " +
                                 quoted(folder / "song.bms") + " --lead-in " + leadIn + " >/dev/null 2>" +
                                 quoted(log))
                                    .c_str());
    ASSERT_EQ(cut, 0) << readText(log);
    EXPECT_NE(readText(log).find("lead-in: " + expectedLeadIn + "\n"), std::string::npos) << readText(log);
}

void expectNotesCutAtTheirOnsets(const std::filesystem::path& folder)
{
    for (std::size_t i = 0; i < kNotes.size(); ++i) {
        const auto& note = kNotes[i];
        SCOPED_TRACE(note.stem);
        const auto path = folder / (std::string(note.stem) + ".wav");
        ASSERT_TRUE(std::filesystem::exists(path));
        const Measured m = measure(path);
        const double noteSeconds = note.ticks * kSecondsPerTick;
        ASSERT_GE(m.onsetSeconds, 0.0) << "no sound";
        EXPECT_LE(m.onsetSeconds, 0.010);
        if (i + 1 < kNotes.size()) {
            // The note and the gap after it: the sound has ended before the next note would
            // start, so nothing of the next keysound leaks in and nothing of this one is cut off.
            EXPECT_NEAR(m.durationSeconds, noteSeconds + kGapTicks * kSecondsPerTick, 0.001);
            EXPECT_GE(m.lastSoundSeconds, m.onsetSeconds + noteSeconds * 0.5);
            EXPECT_LT(m.lastSoundSeconds, m.durationSeconds - 0.050);
        } else {
            // The last runs to its Note Off, still sounding.
            EXPECT_NEAR(m.durationSeconds, noteSeconds, 0.001);
            EXPECT_GE(m.lastSoundSeconds, m.durationSeconds - 0.010);
        }
    }
}

// TiMidity++ with the same small General MIDI set as FluidSynth: its stock configuration points
// at a sound font that is only a recommended package, so a lean install would render silence.
const std::string kTimidity = "timidity -c " + std::string(ZENTROWE_TIMIDITY_CONFIG) + " -Ow -o WAV MIDI";
const std::string kFluidSynth = "fluidsynth -ni -r 44100 -F WAV " + std::string(ZENTROWE_SOUNDFONT) + " MIDI";

TEST(SynthRender, TimidityRenderingCutsAtEveryNote)
{
    ASSERT_EQ(run("command -v timidity"), 0) << "timidity is not installed (scripts/install-deps test)";
    TempDir dir;
    renderAndCut(dir, "timidity", kTimidity, "auto", "first note");
    expectNotesCutAtTheirOnsets(dir / "timidity");
}

TEST(SynthRender, FluidSynthRenderingCutsAtEveryNote)
{
    ASSERT_EQ(run("command -v fluidsynth"), 0) << "fluidsynth is not installed (scripts/install-deps test)";
    ASSERT_TRUE(std::filesystem::exists(ZENTROWE_SOUNDFONT)) << "timgm6mb-soundfont is not installed";
    TempDir dir;
    renderAndCut(dir, "fluidsynth", kFluidSynth, "auto", "file start");
    expectNotesCutAtTheirOnsets(dir / "fluidsynth");
}

TEST(SynthRender, FluidSynthRenderingCutAsIfItStartedAtTheFirstNoteMissesTheNotes)
{
    // The measurement above must be able to fail: without the lead-in every cut starts one gap
    // early, so its note sounds a second into the file.
    ASSERT_EQ(run("command -v fluidsynth"), 0) << "fluidsynth is not installed (scripts/install-deps test)";
    TempDir dir;
    renderAndCut(dir, "early", kFluidSynth, "first-note", "first note");
    const Measured first = measure(dir / "early" / (std::string(kNotes[0].stem) + ".wav"));
    EXPECT_GT(first.onsetSeconds, 0.9);
}

// The manual path on the demo: convert, render K-Midi.mid with FluidSynth, cut, and `check` the
// folder against the track, rendered with the same soundfont. It passes only if every keysound
// sounds with the track's own instrument (a bass as a bass, a kit strike as a drum).
void expectManualPathPasses(const std::string& track, const std::vector<std::string>& options)
{
    ASSERT_EQ(run("command -v fluidsynth"), 0) << "fluidsynth is not installed (scripts/install-deps test)";
    ASSERT_TRUE(std::filesystem::exists(ZENTROWE_SOUNDFONT)) << "timgm6mb-soundfont is not installed";
    TempDir dir;
    std::string convert = std::string(ZENTROWE_CLI) + " convert " + quoted(ZENTROWE_DEMO) + " --track " + track +
                          " --out " + quoted(dir.path());
    for (const auto& option : options) {
        convert += " " + option;
    }
    ASSERT_EQ(run(convert), 0) << convert;
    const auto recording = dir / "render.wav";
    std::string render = kFluidSynth;
    render.replace(render.find("MIDI"), 4, quoted(dir / "K-Midi.mid"));
    render.replace(render.find("WAV"), 3, quoted(recording));
    ASSERT_EQ(run(render), 0) << render;
    const auto chart = dir / "ode-to-joy.bms";
    ASSERT_EQ(run(std::string(ZENTROWE_CLI) + " cut " + quoted(recording) + " --chart " + quoted(chart)), 0);
    const auto log = dir / "check.log";
    const int checked = std::system((std::string(ZENTROWE_CLI) + " check " + quoted(chart) + " --against " +
                                     quoted(ZENTROWE_DEMO) + " --track " + track + " --soundfont " +
                                     quoted(ZENTROWE_SOUNDFONT) + " >" + quoted(log) + " 2>&1")
                                        .c_str());
    EXPECT_EQ(checked, 0) << readText(log);
    EXPECT_NE(readText(log).find("passes: similarity"), std::string::npos) << readText(log);
}

TEST(SynthRender, TheDemosBassConvertedRenderedAndCutSoundsLikeItsTrack)
{
    expectManualPathPasses("3", {});
}

TEST(SynthRender, TheDemosDrumsInPercussionModeConvertedRenderedAndCutSoundLikeTheirTrack)
{
    expectManualPathPasses("4", {"--mode", "percussion"});
}

}  // namespace
}  // namespace zentrowe::testing
