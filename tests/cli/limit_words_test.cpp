// What zentrowe-cli says at a limit: the options that lift it, numbers a person reads, figures
// that agree with each other.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";  // small, quick to load

// One timed event: delta ticks, then its bytes.
struct Event {
    std::uint32_t delta;
    Bytes bytes;
};

Bytes track(const std::vector<Event>& events)
{
    Bytes out;
    for (const auto& event : events) {
        append(out, varLen(event.delta));
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

// Division 480, 120 BPM: track 2 plays `notes` quarter notes from tick 0; track 3, if `bgmAt`
// is above 0, one note at 0 and one at that tick.
Bytes song(std::vector<Event> conductor, int notes, std::uint32_t bgmAt = 0, std::uint32_t lastNoteAt = 0)
{
    conductor.insert(conductor.begin(), {0, tempo(500000)});
    std::vector<Event> melody;
    for (int k = 0; k < notes; ++k) {
        melody.push_back({k == 0 ? 0u : 240u, bytes({0x90, 60 + k % 12, 100})});
        melody.push_back({240, bytes({0x80, 60 + k % 12, 0})});
    }
    if (lastNoteAt > 0) {
        melody.push_back({lastNoteAt, bytes({0x90, 64, 100})});
        melody.push_back({240, bytes({0x80, 64, 0})});
    }
    std::vector<Bytes> tracks = {track(conductor), track(melody)};
    if (bgmAt > 0) {
        tracks.push_back(track({{0, bytes({0x91, 48, 100})}, {240, bytes({0x81, 48, 0})},
                                {bgmAt - 240, bytes({0x91, 48, 100})}, {240, bytes({0x81, 48, 0})}}));
    }
    return midiFile(1, 480, tracks);
}

TEST(LimitWords, EveryLimitNamesWhatLiftsItAndFiguresReadAsNumbers)
{
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont at " << kSoundFont << "; scripts/install-deps installs it";
    }
    const TempDir dir;
    std::vector<Event> tempos;
    for (std::uint32_t k = 1; k < 1400; ++k) {
        tempos.push_back({4, tempo(400000 + k * 10)});
    }
    writeFile(dir / "tempos.mid", song(tempos, 32));
    writeFile(dir / "measure1000.mid", song({}, 1, 0, 1000 * 1920));
    writeFile(dir / "twohours.mid", song({}, 4, 2 * 3600 * 2 * 480));
    writeFile(dir / "one.mid", song({}, 1));
    writeFile(dir / "fast.mid", song({{0, tempo(1)}}, 4));
    writeFile(dir / "song.bms", std::string_view("#WAV01 a.wav\n#00011:01\n"));
    const std::string out = (dir / "out").string();
    const std::vector<std::string> build = {"build", "--soundfont", kSoundFont, "--format", "wav", "--track", "2",
                                            "--out", out};
    const auto withBuild = [&](std::vector<std::string> more) {
        std::vector<std::string> arguments = build;
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string said;  // in what the command printed, standard output and error together
    };
    const std::vector<Case> cases = {
        {"1,400 tempos in base 36",
         {"convert", (dir / "tempos.mid").string(), "--track", "2", "--out", out},
         1,
         "more than 1295 different tempos, more than a chart can number; base-62 codes (--codes 62) number 3843, "
         "a bmson chart (--chart-format bmson) any"},
        {"a note in measure 1000",
         {"convert", (dir / "measure1000.mid").string(), "--track", "2", "--out", out},
         1,
         "but a BMS chart holds measures 000 to 999 only; a bmson chart (--chart-format bmson) holds 1000000"},
        {"one BGM file of two hours", withBuild({(dir / "twohours.mid").string(), "--bgm", "one"}), 1,
         "one BGM file would be longer than an hour, the longest rendering; build it in slices (--bgm slices)"},
        {"the peak of a one-note chart", withBuild({(dir / "one.mid").string(), "--bgm", "none"}), 0,
         "1 notes, 1.0/s average, 1.0/s peak"},
        {"a lead-in the 999 measures of BMS cannot stretch to 1.5 s",
         withBuild({(dir / "fast.mid").string(), "--bgm", "none"}), 0,
         "s, before the 1.5 s a player needs to get ready"},
        {"a preview from past the chart's end",
         {"preview", (dir / "song.bms").string(), "--out", (dir / "mix.wav").string(), "--from", "1e18"},
         2,
         "a mix cannot start at 1e+18 s: the chart's last sound starts at 0.000 s"},
        {"a negative preview length",
         {"preview", (dir / "song.bms").string(), "--out", (dir / "mix.wav").string(), "--length", "-1"},
         2,
         "--length -1 is not a number of seconds above 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir / "out");
        const auto run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
        EXPECT_LT(run.err.size(), 400u) << run.err;
    }
}

}  // namespace
}  // namespace zentrowe::testing
