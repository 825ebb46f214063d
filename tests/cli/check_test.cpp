// zentrowe-cli check and build --verify, run as programs on folders made from the track and on
// folders broken the ways a chart maker breaks them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "core/audio/sound_file_reader.h"
#include "core/audio/sound_file_writer.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

const std::filesystem::path kDemo = std::filesystem::path(ZENTROWE_SOURCE_DIR) / "data" / "demo" / "ode-to-joy.mid";
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";  // small, quick to load

Bytes noteEvents(std::uint32_t delta, int channel, int note, int velocity, std::uint32_t length)
{
    Bytes out = varLen(delta);
    append(out, bytes({0x90 | channel, note, velocity}));
    append(out, varLen(length));
    append(out, bytes({0x80 | channel, note, 0}));
    return out;
}

// Division 480: 120 BPM for two measures, then 90 BPM. Track 2 plays sixteen quarter-note steps
// (each held three quarters of its beat), on the piano or, for `drums`, on the drum
// channel; track 3 a bass under it, which the BGM of a build plays.
Bytes generatedSong(bool drums)
{
    Bytes tempo = bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    append(tempo, varLen(3840));
    append(tempo, bytes({0xFF, 0x51, 0x03, 0x0A, 0x2C, 0x2B}));
    append(tempo, kEndOfTrack);

    const std::vector<int> melody = {60, 62, 64, 65, 67, 69, 71, 72, 71, 67, 64, 60, 62, 65, 69, 72};
    const std::vector<int> kit = {36, 42, 38, 42, 36, 36, 38, 46, 36, 42, 38, 42, 49, 36, 38, 46};
    const int channel = drums ? 9 : 0;
    Bytes lead = bytes({0x00, 0xC0 | channel, 0});
    for (std::size_t step = 0; step < melody.size(); ++step) {
        append(lead, noteEvents(step == 0 ? 0 : 120, channel, drums ? kit[step] : melody[step],
                                80 + static_cast<int>(step % 4) * 10, 360));
    }
    append(lead, kEndOfTrack);

    Bytes bass = bytes({0x00, 0xC1, 32});
    for (const int note : {36, 41, 43, 36}) {
        append(bass, noteEvents(0, 1, note, 90, 1920));
    }
    append(bass, kEndOfTrack);
    return midiFile(1, 480, {tempo, lead, bass});
}

std::vector<std::string> chartLines(const std::filesystem::path& chart)
{
    std::vector<std::string> lines;
    const std::string text = readText(chart);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

void writeLines(const std::filesystem::path& chart, const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    writeFile(chart, std::string_view(text));
}

// The keysound files of a built folder in "#WAV" order, the BGM left out.
std::vector<std::filesystem::path> keysoundFiles(const std::filesystem::path& chart)
{
    std::vector<std::filesystem::path> files;
    for (const auto& line : chartLines(chart)) {
        if (line.rfind("#WAV", 0) == 0 && line.find("bgm.") == std::string::npos) {
            auto file = chart.parent_path() / line.substr(7);
            if (!std::filesystem::exists(file)) {
                file.replace_extension(".ogg");
            }
            files.push_back(file);
        }
    }
    return files;
}

CliRun check(const std::filesystem::path& chart, const std::filesystem::path& midi, const std::string& track)
{
    return runCli({"check", "--soundfont", kSoundFont, chart.string(), "--against", midi.string(), "--track", track});
}

bool haveTools()
{
    return std::filesystem::exists(kSoundFont) && std::system("command -v fluidsynth >/dev/null 2>&1") == 0;
}

// The recording of K-Midi.mid FluidSynth makes on the command line, reverb and all.
void renderWithFluidSynth(const std::filesystem::path& keysoundMidi, const std::filesystem::path& wav)
{
    const std::string command = "fluidsynth -ni -F " + shellQuoted(wav.string()) + " -r 44100 -g 0.4 " +
                                shellQuoted(kSoundFont) + " " + shellQuoted(keysoundMidi.string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

struct BuiltCase {
    const char* name;
    bool generated;  // a generated song rather than the demo
    bool drums;
    std::vector<std::string> options;
    friend void PrintTo(const BuiltCase& c, std::ostream* os) { *os << c.name; }
};

class FolderBuiltFromTheTrack : public ::testing::TestWithParam<BuiltCase> {};

TEST_P(FolderBuiltFromTheTrack, Passes)
{
    if (!haveTools()) {
        FAIL() << "no General MIDI soundfont or no fluidsynth" << "; scripts/install-deps installs it";
    }
    const BuiltCase& c = GetParam();
    TempDir dir;
    std::filesystem::path midi = kDemo;
    if (c.generated) {
        midi = dir / "song.mid";
        writeFile(midi, generatedSong(c.drums));
    }
    const auto out = dir / "built";
    std::vector<std::string> arguments = {"build", "--soundfont", kSoundFont, midi.string(), "--track", "2", "--out", out.string(), "--verify"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const auto run = runCli(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    // The first chart of the set is compared with the track, each other one with the first.
    const auto chart = [&](const char* letter) { return out / (midi.stem().string() + "_" + letter + ".bms"); };
    const auto checked = run.out.find("checking " + chart("N").string() + "\npasses: similarity ");
    EXPECT_NE(checked, std::string::npos) << run.out;
    // Built with every note a keysound, the folder plays the whole song; without a BGM, the track.
    const bool noBgm = std::find(c.options.begin(), c.options.end(), "--no-bgm") != c.options.end();
    const std::string verdict = noBgm ? "the chart sounds like track 2\n" : "the chart sounds like the whole song\n";
    EXPECT_NE(run.out.find(verdict, checked), std::string::npos) << run.out;
    for (const char* letter : {"H", "A"}) {
        EXPECT_NE(run.out.find("checking " + chart(letter).string() + "\npasses: it plays what " + chart("N").string() +
                               " plays\n"),
                  std::string::npos)
            << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(CheckCommand, FolderBuiltFromTheTrack,
                         ::testing::Values(BuiltCase{"DemoPlain", false, false, {"--no-bgm"}},
                                           BuiltCase{"GeneratedPlain", true, false, {}},
                                           BuiltCase{"GeneratedLongNotes", true, false, {"--mode", "long", "--long-min", "12"}},
                                           BuiltCase{"GeneratedDrumsPercussion", true, true, {"--mode", "percussion"}}),
                         [](const ::testing::TestParamInfo<BuiltCase>& param) { return std::string(param.param.name); });

TEST(CheckCommand, AFolderConvertedRenderedByAnotherSynthesiserAndCutPasses)
{
    if (!haveTools()) {
        FAIL() << "no General MIDI soundfont or no fluidsynth" << "; scripts/install-deps installs it";
    }
    TempDir dir;
    writeFile(dir / "song.mid", generatedSong(false));
    // Rendered with reverb on and another gain.
    const auto chart = dir / "converted" / "song.bms";
    ASSERT_EQ(runCli({"convert", (dir / "song.mid").string(), "--track", "2", "--out", chart.parent_path().string()})
                  .exitCode,
              0);
    renderWithFluidSynth(chart.parent_path() / "K-Midi.mid", dir / "render.wav");
    ASSERT_EQ(runCli({"cut", (dir / "render.wav").string(), "--chart", chart.string()}).exitCode, 0);
    const auto run = check(chart, dir / "song.mid", "2");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
}

// One good folder built once, then broken a copy at a time.
class BrokenFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!haveTools()) {
            return;
        }
        s_dir = std::make_unique<TempDir>();
        writeFile(midi(), generatedSong(false));
        s_built = runCli({"build", "--soundfont", kSoundFont, midi().string(), "--track", "2", "--out", built().string()}).exitCode == 0;
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override
    {
        if (!haveTools()) {
            FAIL() << "no General MIDI soundfont or no fluidsynth" << "; scripts/install-deps installs it";
        }
        ASSERT_TRUE(s_built);
    }

    static std::filesystem::path dir() { return s_dir->path(); }
    static std::filesystem::path midi() { return dir() / "song.mid"; }
    static std::filesystem::path built() { return dir() / "built"; }
    // A copy of the good folder to break.
    static std::filesystem::path copyOfBuilt(const std::string& name)
    {
        const auto folder = dir() / name;
        std::filesystem::copy(built(), folder);
        return folder;
    }

private:
    static inline std::unique_ptr<TempDir> s_dir;
    static inline bool s_built = false;
};

// The lag "timing: notes +30.0 ms against the track" prints, in milliseconds; NaN if none.
double printedLagMs(const std::string& out)
{
    const std::string lead = "timing: notes ";
    const auto at = out.find(lead);
    return at == std::string::npos ? std::nan("") : std::strtod(out.c_str() + at + lead.size(), nullptr);
}

TEST_F(BrokenFolder, TheGoodFolderPasses)
{
    // The hardest chart of the set: the charts differ in what is struck, not in what is heard.
    const auto run = check(built() / "song_A.bms", midi(), "2");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_LT(std::fabs(printedLagMs(run.out)), 5) << run.out;
}

// Each keysound file of a copy of the good folder, decoded, changed and written back.
std::filesystem::path withKeysoundsChanged(const std::filesystem::path& folder,
                                           const std::function<void(std::vector<float>&, std::size_t index)>& change)
{
    const auto files = keysoundFiles(folder / "song_N.bms");
    EXPECT_FALSE(files.empty());
    for (std::size_t k = 0; k < files.size(); ++k) {
        auto sound = audio::readSoundFile(files[k], 44100);
        EXPECT_TRUE(sound);
        if (sound) {
            change(sound->samples, k);
            EXPECT_TRUE(audio::writeSoundFile(files[k], sound->samples, audio::SoundFormat::OggVorbis, 0.5, 44100));
        }
    }
    return folder / "song_N.bms";
}

TEST_F(BrokenFolder, EveryKeysoundThirtyMillisecondsLateFailsOnItsTiming)
{
    // Early is the same figure the other way round (OnsetTiming measures both); a chart is lined
    // up by its first sound, so only sound late inside the files moves every note.
    const auto chart = withKeysoundsChanged(copyOfBuilt("late30"), [](std::vector<float>& samples, std::size_t) {
        samples.insert(samples.begin(), 2 * 44100 * 30 / 1000, 0.0F);
    });
    const auto run = check(chart, midi(), "2");
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NEAR(printedLagMs(run.out), 30, 5) << run.out;
    EXPECT_NE(run.out.find("does not sound like the whole song: its notes are off the song's times"),
              std::string::npos)
        << run.out;
}

TEST_F(BrokenFolder, ALaneKeysoundThatSoundsNothingFails)
{
    const auto chart = withKeysoundsChanged(copyOfBuilt("silent1"), [](std::vector<float>& samples, std::size_t index) {
        if (index == 0) {
            std::fill(samples.begin(), samples.end(), 0.0F);
        }
    });
    // The hardest chart of the set strikes every note.
    const auto run = check(chart.parent_path() / "song_A.bms", midi(), "2");
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("lane notes play keysounds that sound nothing"), std::string::npos) << run.err;
}

TEST(CheckCommand, ANoteThePedalHoldsToTheTracksEndPassesVerify)
{
    if (!haveTools()) {
        FAIL() << "no General MIDI soundfont or no fluidsynth" << "; scripts/install-deps installs it";
    }
    // An organ (program 19) with the sustain pedal down and never let go: every note sounds to the
    // track's last event, a volume change two seconds in, where its keysound ends too.
    Bytes organ = bytes({0x00, 0xC0, 19, 0x00, 0xB0, 64, 127});
    for (int k = 0; k < 8; ++k) {
        append(organ, noteEvents(k == 0 ? 0 : 40, 0, 60 + k, 100, 200));
    }
    append(organ, bytes({0x28, 0xB0, 7, 100}));
    append(organ, kEndOfTrack);
    const TempDir dir;
    writeFile(dir / "pedal.mid", midiFile(1, 480, {bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00}), organ}));
    const auto run = runCli({"build", "--soundfont", kSoundFont, "--format", "wav", (dir / "pedal.mid").string(),
                             "--track", "2", "--out", (dir / "out").string(), "--verify"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("the chart sounds like the whole song"), std::string::npos) << run.out;
}

TEST_F(BrokenFolder, TheTracksKeysoundFilesSwappedRoundFail)
{
    // The whole song is compared, the other tracks' keysounds too, so two files swapped among
    // a song's are drowned out: every file of the track passed on to the next one is not.
    const auto folder = copyOfBuilt("swapped");
    std::vector<std::filesystem::path> files;
    for (const auto& file : keysoundFiles(folder / "song_N.bms")) {
        if (file.filename().string().rfind("Abg", 0) != 0) {
            files.push_back(file);
        }
    }
    ASSERT_GE(files.size(), 2u);
    std::filesystem::rename(files[0], folder / "swap");
    for (std::size_t k = 1; k < files.size(); ++k) {
        std::filesystem::rename(files[k], files[k - 1]);
    }
    std::filesystem::rename(folder / "swap", files.back());
    const auto run = check(folder / "song_N.bms", midi(), "2");
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("does not sound like the whole song\n"), std::string::npos) << run.out;
}

TEST_F(BrokenFolder, ATempoChangeWrittenWrongFails)
{
    const auto folder = copyOfBuilt("tempo");
    auto lines = chartLines(folder / "song_N.bms");
    // The last "#BPMxx" definition is the change to 90 BPM two measures in.
    auto last = std::find_if(lines.rbegin(), lines.rend(),
                             [](const std::string& line) { return line.rfind("#BPM", 0) == 0 && line[4] != ' '; });
    ASSERT_NE(last, lines.rend());
    ASSERT_NEAR(std::stod(last->substr(7)), 90.0, 1e-3);
    *last = last->substr(0, 7) + "100.00";
    writeLines(folder / "song_N.bms", lines);
    const auto run = check(folder / "song_N.bms", midi(), "2");
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
}

TEST_F(BrokenFolder, NoKeysoundFileAtAllIsNotSilenceMatchingSilence)
{
    const auto folder = dir() / "silent";
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(built() / "song_N.bms", folder / "song_N.bms");
    const auto run = check(folder / "song_N.bms", midi(), "2");
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("mix to silence"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("similarity"), std::string::npos) << run.out;
}

TEST_F(BrokenFolder, EveryFileCutAGapLateFails)
{
    // The gap of K-Midi.mid at 120 BPM: 100 ticks of 96 a beat.
    constexpr double kGapSeconds = 100.0 / 96 * 0.5;
    const auto chart = dir() / "late" / "song.bms";
    ASSERT_EQ(runCli({"convert", midi().string(), "--track", "2", "--out", chart.parent_path().string()}).exitCode, 0);
    renderWithFluidSynth(chart.parent_path() / "K-Midi.mid", dir() / "render.wav");
    auto recording = audio::readSoundFile(dir() / "render.wav", 44100);
    ASSERT_TRUE(recording);
    recording->samples.insert(recording->samples.begin(),
                              static_cast<std::size_t>(std::lround(kGapSeconds * 44100)) * 2, 0.0F);
    ASSERT_TRUE(audio::writeSoundFile(dir() / "late.wav", recording->samples, audio::SoundFormat::Wave, 0.5, 44100));
    ASSERT_EQ(runCli({"cut", (dir() / "late.wav").string(), "--chart", chart.string(), "--lead-in", "file-start"})
                  .exitCode,
              0);
    const auto run = check(chart, midi(), "2");
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
}

TEST(BuildCommand, WritesAFadedPreviewTheChartNames)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    TempDir dir;
    const auto out = dir / "out";
    const auto run = runCli({"build", "--soundfont", kSoundFont, kDemo.string(), "--track", "2", "--out", out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("wrote " + (out / "preview.ogg").string() + "\n"), std::string::npos);
    const auto lines = chartLines(out / "ode-to-joy_N.bms");
    ASSERT_GE(lines.size(), 11u);
    // After #PLAYER, #GENRE, #TITLE, #SUBTITLE, #BPM, the four lines that tell the set's charts
    // apart and #VOLWAV (the files are levelled: players play them as they are).
    EXPECT_EQ(lines[1], "#GENRE MIDI");
    EXPECT_EQ(lines[9], "#VOLWAV 100");
    EXPECT_EQ(lines[10], "#PREVIEW preview.ogg");

    const auto preview = audio::readSoundFile(out / "preview.ogg", 44100);
    ASSERT_TRUE(preview);
    EXPECT_NEAR(static_cast<double>(preview->frames()) / 44100, 20.0, 0.05);
    // Peak levels: the first and last tenth of a second against the second in the middle.
    auto peak = [&](double from, double to) {
        float loudest = 0;
        for (auto i = static_cast<std::size_t>(from * 44100) * 2; i < static_cast<std::size_t>(to * 44100) * 2; ++i) {
            loudest = std::max(loudest, std::abs(preview->samples[i]));
        }
        return loudest;
    };
    const float loudest = peak(0, 19.99);
    EXPECT_GT(peak(9.5, 10.5), loudest * 0.3F);
    EXPECT_LT(peak(0, 0.1), loudest * 0.15F);  // a tenth into a fade in of a second
    EXPECT_LT(peak(19.9, 19.99), loudest * 0.1F);  // the last tenth of a fade out of two
}

}  // namespace
}  // namespace zentrowe::testing
