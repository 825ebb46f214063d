#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "core/keysound/wave_builder.h"

namespace zentrowe::testing {
namespace {

// The size field of the first "data" chunk; 0 if there is none.
std::uint32_t dataChunkSize(const Bytes& wave)
{
    const std::string tag = "data";
    const auto at = std::search(wave.begin(), wave.end(), tag.begin(), tag.end());
    if (wave.end() - at < 8) {
        return 0;
    }
    return u32leAt(wave, static_cast<std::size_t>(at - wave.begin()) + 4);
}

TEST(PreviewCli, MixesAWindowAndListsMissingKeysounds)
{
    const TempDir dir;
    Bytes samples;
    for (int i = 0; i < 4410; ++i) {
        appendU16le(samples, 8000);
    }
    writeFile(dir / "hit.wav", riffWave({{"fmt ", fmtBody(1, 1, 44100, 88200, 2, 16)}, {"data", samples}}));
    // Shift_JIS name of a file that is not there, and a CR LF chart with one odd line.
    writeFile(dir / "song.bms", std::string_view("#BPM 120\r\n#WAV01 HIT.ogg\r\n#WAV02 \x83L\x83" "b\x83N.wav\r\n"
                                                 "#00011:01020101\r\n#00111:010\r\n"));

    const auto wav = runCli({"preview", (dir / "song.bms").string(), "--out", (dir / "mix.wav").string(),
                             "--from", "0.5", "--length", "2"});
    EXPECT_EQ(wav.exitCode, 0) << wav.err;
    EXPECT_NE(wav.out.find("wrote "), std::string::npos) << wav.out;
    EXPECT_NE(wav.err.find("missing keysound: \x83L\x83" "b\x83N.wav"), std::string::npos) << wav.err;
    EXPECT_NE(wav.err.find("song.bms: line 5: "), std::string::npos) << wav.err;
    // Two seconds of 16-bit stereo at 44,100 Hz.
    EXPECT_EQ(dataChunkSize(readFile(dir / "mix.wav")), 2U * 44100 * 4);

    const auto ogg = runCli({"preview", (dir / "song.bms").string(), "--out", (dir / "mix.OGG").string()});
    EXPECT_EQ(ogg.exitCode, 0) << ogg.err;
    const Bytes oggBytes = readFile(dir / "mix.OGG");
    ASSERT_GE(oggBytes.size(), 4U);
    EXPECT_EQ(std::string(oggBytes.begin(), oggBytes.begin() + 4), "OggS");
}

TEST(PreviewCli, RefusesBadRequestsAndWritesNothing)
{
    const TempDir dir;
    writeFile(dir / "song.bms", std::string_view("#WAV01 a.wav\n#00011:01\n"));
    // Charts that cannot be read: one with no object, a bmson chart that is no JSON.
    writeFile(dir / "empty.bms", std::string_view("#TITLE nothing here\n"));
    writeFile(dir / "cut.bmson", std::string_view("{\"version\":"));
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const std::string chart = (dir / "song.bms").string();
    const std::string out = (dir / "mix.wav").string();
    for (const auto& [arguments, exitCode] : std::vector<Case>{
             {{"preview", chart, "--out", (dir / "mix.mp3").string()}, 2},
             {{"preview", chart, "--out", out, "--length", "0"}, 2},
             {{"preview", chart, "--out", out, "--from", "-1"}, 2},
             {{"preview", (dir / "none.bms").string(), "--out", out}, 1},
             {{"preview", chart, "--out", (dir / "no" / "mix.wav").string()}, 1},
             {{"preview", (dir / "empty.bms").string(), "--out", out}, 1},
             {{"preview", (dir / "cut.bmson").string(), "--out", out}, 1},
             {{"preview", chart, "--out", out, "--from", "1e300", "--length", "20"}, 2},
             {{"preview", chart, "--out", out, "--from", "nan"}, 2},
             {{"preview", chart, "--out", chart}, 2},
         }) {
        SCOPED_TRACE(arguments[1] + " " + arguments.back());
        const auto run = runCli(arguments);
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 3);
}

TEST(PreviewCli, HostileChartsEndInOneSentence)
{
    const TempDir dir;
    Bytes samples(400, 0x10);
    writeFile(dir / "s1.wav", riffWave({{"fmt ", fmtBody(1, 1, 44100, 88200, 2, 16)}, {"data", samples}}));
    writeFile(dir / "long.bms", std::string_view("#BPM 60\n#WAV01 s1.wav\n#00011:01\n#99911:01\n"));
    writeFile(dir / "over.bms", std::string_view("#BPM 120\n#WAV01 s1.wav\n#00011:01\n"));
    writeFile(dir / "name\x1b[2J.bms", std::string_view("#WAV01 a\x07.wav\n#00011:01\n"));
    struct Case {
        std::string chart;
        std::string out;
        int exitCode;
        std::string err;
    };
    for (const auto& [chart, out, exitCode, err] : std::vector<Case>{
             {"long.bms", "mix.wav", 1, "the chart sounds for more than an hour"},
             {"over.bms", "s1.wav", 1, "s1.wav: is the keysound \"s1.wav\" of the chart; write the preview elsewhere"},
             {"name\x1b[2J.bms", "mix.wav", 1, "could not be read (a\\x07.wav); no preview was written"},
         }) {
        SCOPED_TRACE(chart);
        const auto run = runCli({"preview", (dir / chart).string(), "--out", (dir / out).string()});
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
    }
    EXPECT_EQ(readFile(dir / "s1.wav").size(), 444U);
}

}  // namespace
}  // namespace zentrowe::testing
