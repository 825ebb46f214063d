// zentrowe-cli given inputs that are huge, not regular files, piped, hand-edited or interrupted:
// one sentence, the right exit code, and the output folder exactly as it was.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/keysound/wave_builder.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

extern char** environ;

namespace zentrowe {
namespace {

using testing::Bytes;
using testing::CliRun;
using testing::runCli;

// Every entry of a folder with its size (files) or kind: a refusal must leave it as it was.
std::map<std::string, std::string> folderState(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> state;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto status = entry.symlink_status();
        state[entry.path().filename().string()] =
            std::filesystem::is_regular_file(status) ? std::to_string(entry.file_size()) + " bytes"
                                                     : std::to_string(static_cast<int>(status.type()));
    }
    return state;
}

// Division 96: C4, E4 and G4, an eighth each, one after another.
Bytes songFile(int notes = 3)
{
    Bytes events;
    for (int i = 0; i < notes; ++i) {
        const int note = 60 + (i % 3) * 2;
        testing::append(events, testing::bytes({0x00, 0x90, note, 100, 0x30, 0x80, note, 0x00}));
    }
    testing::append(events, testing::kEndOfTrack);
    return testing::midiFile(1, 96, {events});
}

// A conversion of songFile into `dir`, and a recording of pattern bytes beside it.
void convertAndRecord(const testing::TempDir& dir)
{
    testing::writeFile(dir / "song.mid", songFile());
    const CliRun converted =
        runCli({"convert", (dir / "song.mid").string(), "--track", "1", "--out", dir.path().string()});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(200000)}}));
}

void makeSparse(const std::filesystem::path& path, off_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

// One refusal: exit 1, one line on stderr holding `sentence`, the folder unchanged.
void expectRefused(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
                   const std::string& sentence)
{
    const auto before = folderState(folder);
    const CliRun run = runCli(arguments);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find(sentence), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(folderState(folder), before);
}

TEST(HostileInputCli, HugeSparseFilesAreRefusedAtOnce)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    const auto recording = (dir / "render.wav").string();
    const off_t huge = off_t{100} << 30;  // 100 GB of holes: no disk, and no memory if not read

    testing::TempDir other;
    makeSparse(other / "huge.mid", huge);
    for (const auto& command : {std::vector<std::string>{"tracks", (other / "huge.mid").string()},
                                {"events", (other / "huge.mid").string(), "--track", "1"},
                                {"convert", (other / "huge.mid").string(), "--track", "1", "--out", dir.path().string()}}) {
        SCOPED_TRACE(command[0] + " on a huge sparse song");
        expectRefused(command, dir.path(), "huge.mid: not a MIDI file (no \"MThd\" header)");
    }
    {
        SCOPED_TRACE("a huge sparse chart");
        makeSparse(other / "song.bms", huge);
        testing::writeFile(other / "K-Midi.mid", testing::readFile(dir / "K-Midi.mid"));
        expectRefused({"cut", recording, "--chart", (other / "song.bms").string()}, other.path(),
                      "song.bms: not a chart (it holds NUL bytes)");
    }
    {
        SCOPED_TRACE("a huge sparse K-Midi.mid");
        testing::writeFile(other / "song.bms", testing::readFile(dir / "song.bms"));
        makeSparse(other / "K-Midi.mid", huge);
        expectRefused({"cut", recording, "--chart", (other / "song.bms").string()}, other.path(),
                      "K-Midi.mid: not a MIDI file (no \"MThd\" header)");
    }
}

TEST(HostileInputCli, DevicesAndFifosAreRefusedWithoutWaiting)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    const auto chart = (dir / "song.bms").string();
    const auto recording = (dir / "render.wav").string();
    testing::TempDir other;
    // Devices and FIFOs would be read forever, or wait for a writer.
    ASSERT_EQ(::mkfifo((other / "fifo").c_str(), 0644), 0);
    for (const auto& special : {std::string("/dev/zero"), (other / "fifo").string()}) {
        SCOPED_TRACE(special);
        const std::string sentence = special + ": cannot read: not a regular file";
        expectRefused({"tracks", special}, dir.path(), sentence);
        expectRefused({"convert", special, "--track", "1", "--out", dir.path().string()}, dir.path(), sentence);
        expectRefused({"cut", special, "--chart", chart}, dir.path(), sentence);
        expectRefused({"cut", recording, "--chart", special}, dir.path(), sentence);
    }
    testing::TempDir fifoKeysounds;
    testing::writeFile(fifoKeysounds / "song.bms", testing::readFile(dir / "song.bms"));
    ASSERT_EQ(::mkfifo((fifoKeysounds / "K-Midi.mid").c_str(), 0644), 0);
    expectRefused({"cut", recording, "--chart", (fifoKeysounds / "song.bms").string()}, fifoKeysounds.path(),
                  "K-Midi.mid: cannot read: not a regular file");
}

TEST(HostileInputCli, APipedSongNeverReplacesAChart)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    const auto before = folderState(dir.path());
    const auto chart = testing::readFile(dir / "song.bms");
    const std::string command = "cat " + testing::shellQuoted((dir / "song.mid").string()) + " | " +
                                testing::shellQuoted(ZENTROWE_CLI) + " convert /dev/stdin --track 1 --out " +
                                testing::shellQuoted(dir.path().string()) + " 2>" +
                                testing::shellQuoted((dir / "../pipe-err").string());
    const int status = std::system(command.c_str());
    const std::string err = testing::readText(dir / "../pipe-err");
    std::filesystem::remove(dir / "../pipe-err");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("/dev/stdin: cannot read: not a regular file"), std::string::npos) << err;
    EXPECT_EQ(folderState(dir.path()), before);
    EXPECT_EQ(testing::readFile(dir / "song.bms"), chart);
}

// A 44.1 kHz 16-bit stereo format chunk with one field changed.
Bytes recordingWith(std::uint16_t channels, std::uint32_t byteRate, std::uint16_t blockAlign, std::uint16_t bits)
{
    return testing::riffWave({{"fmt ", testing::fmtBody(1, channels, 44100, byteRate, blockAlign, bits)},
                              {"data", testing::patternBytes(40000)}});
}

TEST(HostileInputCli, AFormatChunkThatContradictsItselfIsRefusedNamingTheRecording)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    const struct {
        const char* what;
        Bytes recording;
        const char* sentence;
    } cases[] = {
        {"block align 65535", recordingWith(2, 176400, 65535, 16),
         "bad.wav: block align 65535 in the \"fmt \" chunk is not 2 channels of 2 bytes"},
        {"one byte of the byte rate flipped", recordingWith(2, 176400 ^ 0x100, 4, 16),
         "bad.wav: byte rate 176144 in the \"fmt \" chunk is not 44100 samples per second of 4 bytes"},
        {"no channels", recordingWith(0, 0, 0, 16), "bad.wav: 0 channels in the \"fmt \" chunk"},
        {"12 bits", recordingWith(2, 176400, 4, 12), "bad.wav: 12 bits per sample in the \"fmt \" chunk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::writeFile(dir / "bad.wav", c.recording);
        expectRefused({"cut", (dir / "bad.wav").string(), "--chart", (dir / "song.bms").string()}, dir.path(),
                      c.sentence);
    }
}

TEST(HostileInputCli, CutNeverReplacesTheChartOrFindsNothingToCut)
{
    testing::TempDir dir;
    convertAndRecord(dir);
    const CliRun listed = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string()});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    // The first keysound: C4, an eighth (24/192 of a measure), velocity 100.
    ASSERT_TRUE(std::filesystem::exists(dir / "A60-24-100.wav"));
    {
        SCOPED_TRACE("the chart under a keysound's file name");
        std::filesystem::remove(dir / "A60-24-100.wav");
        std::filesystem::rename(dir / "song.bms", dir / "A60-24-100.wav");
        expectRefused({"cut", (dir / "render.wav").string(), "--chart", (dir / "A60-24-100.wav").string()},
                      dir.path(), "A60-24-100.wav: a keysound file would replace");
        std::filesystem::rename(dir / "A60-24-100.wav", dir / "song.bms");
    }
    {
        SCOPED_TRACE("a K-Midi.mid without notes");
        testing::writeFile(dir / "K-Midi.mid", testing::midiFile(1, 96, {testing::kEndOfTrack}));
        expectRefused({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string()}, dir.path(),
                      "K-Midi.mid: holds no keysounds, so there is nothing to cut");
    }
}

TEST(HostileInputCli, AKeysoundNameTooLongForFileNamesIsRefusedWhenTheSettingsAreRead)
{
    testing::TempDir dir;
    testing::writeFile(dir / "song.mid", songFile());
    const std::string longest(224, 'n');
    expectRefused({"convert", (dir / "song.mid").string(), "--track", "1", "--out", dir.path().string(), "--name",
                   longest + "n"},
                  dir.path(), "--name: the keysound name is 225 bytes; file names allow it 224");
    // The longest name accepted still gives file names the disk takes.
    const CliRun converted = runCli(
        {"convert", (dir / "song.mid").string(), "--track", "1", "--out", dir.path().string(), "--name", longest});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(200000)}}));
    const CliRun cut = runCli({"cut", (dir / "render.wav").string(), "--chart", (dir / "song.bms").string()});
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_TRUE(std::filesystem::exists(dir / (longest + "60-24-100.wav")));
}

// Runs zentrowe-cli with these arguments, output to files in `folder`'s parent, and sends
// `signal` once its handlers are in place; returns its exit code (-1 if the signal killed it).
int exitCodeAfterSignal(const std::vector<std::string>& arguments, int signal, const std::filesystem::path& logs)
{
    std::vector<std::string> words = {ZENTROWE_CLI};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (logs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, (logs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, ZENTROWE_CLI, &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        return -2;
    }
    // The handlers are in place once the kernel lists the signal as caught.
    const auto caught = [&] {
        std::ifstream status("/proc/" + std::to_string(child) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) == 0) {
                return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
            }
        }
        return false;
    };
    int status = 0;
    while (!caught()) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(child, signal);
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 300 different keysounds (50 notes at 6 velocities), an eighth each: a cut long enough to be
// stopped in the middle.
Bytes manyKeysounds()
{
    Bytes events;
    for (int i = 0; i < 300; ++i) {
        const int note = 40 + i % 50;
        testing::append(events, testing::bytes({0x00, 0x90, note, 20 + i / 50, 0x30, 0x80, note, 0x00}));
    }
    testing::append(events, testing::kEndOfTrack);
    return testing::midiFile(1, 96, {events});
}

TEST(HostileInputCli, ASignalStopsConvertAndCutLeavingTheFolderAsItWas)
{
    testing::TempDir dir;
    testing::writeFile(dir / "many.mid", manyKeysounds());
    const CliRun converted =
        runCli({"convert", (dir / "many.mid").string(), "--track", "1", "--out", dir.path().string()});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    // 300 eighths at 120 BPM with their gaps: about 100 s of sound, 17 MB.
    testing::writeFile(dir / "render.wav", testing::riffWave({{"fmt ", testing::cdFmt()},
                                                             {"data", testing::patternBytes(100 * 176400)}}));
    testing::TempDir logs;
    testing::TempDir songs;
    testing::writeFile(songs / "song.mid", songFile(200000));
    const struct {
        int signal;
        int exitCode;
        const char* name;
    } signals[] = {{SIGINT, 130, "SIGINT"}, {SIGTERM, 143, "SIGTERM"}, {SIGHUP, 129, "SIGHUP"}};
    for (const auto& s : signals) {
        for (const auto& arguments :
             {std::vector<std::string>{"convert", (songs / "song.mid").string(), "--track", "1", "--out",
                                       dir.path().string()},
              {"cut", (dir / "render.wav").string(), "--chart", (dir / "many.bms").string()}}) {
            SCOPED_TRACE(arguments[0] + " " + s.name);
            const auto before = folderState(dir.path());
            EXPECT_EQ(exitCodeAfterSignal(arguments, s.signal, logs.path()), s.exitCode);
            EXPECT_EQ(testing::readText(logs / "err"),
                      std::string("zentrowe-cli: stopped by ") + s.name + "; no file was left half-written\n");
            EXPECT_EQ(folderState(dir.path()), before);
        }
    }
}

// Every file of a folder with its bytes.
std::map<std::string, testing::Bytes> folderBytes(const std::filesystem::path& folder)
{
    std::map<std::string, testing::Bytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files[std::filesystem::relative(entry.path(), folder).string()] =
            entry.is_regular_file() ? testing::readFile(entry.path()) : testing::Bytes{};
    }
    return files;
}

TEST(HostileInputCli, ASignalOrABusyFolderLeavesAnEarlierBuildByteIdentical)
{
    constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";  // small, quick to load
    if (!std::filesystem::exists(kSoundFont)) {
        FAIL() << "no General MIDI soundfont" << "; scripts/install-deps installs it";
    }
    testing::TempDir dir;
    testing::TempDir logs;
    testing::writeFile(dir / "song.mid", songFile());
    const auto out = dir / "out";
    const std::vector<std::string> build = {"build", (dir / "song.mid").string(), "--track", "1", "--out",
                                            out.string(), "--format", "wav", "--no-bgm", "--soundfont", kSoundFont};
    const CliRun first = runCli(build);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const auto before = folderBytes(out);
    auto again = build;
    again.insert(again.end(), {"--gap", "48"});
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        EXPECT_EQ(exitCodeAfterSignal(again, signal, logs.path()), 128 + signal);
        EXPECT_NE(testing::readText(logs / "err").find("the folder's earlier files are untouched"), std::string::npos)
            << testing::readText(logs / "err");
        EXPECT_EQ(folderBytes(out), before);
    }
    // Another pass holds the folder's lock: the build waits, then says which folder.
    const int held = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const CliRun busy = runCli(again);
    ::close(held);
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_EQ(busy.err, "zentrowe-cli: " + out.string() +
                            ": another convert, build or cut is writing into this folder; run one at a time\n");
    EXPECT_EQ(folderBytes(out), before);
}

TEST(HostileInputCli, OptionsAreParsedAlikeByEveryCommand)
{
    testing::TempDir dir;
    testing::writeFile(dir / "song.mid", songFile());
    const auto song = (dir / "song.mid").string();
    const std::string typed = "99999999999999999999";
    for (const auto& command :
         {std::vector<std::string>{"events", song, "--track", typed},
          {"convert", song, "--track", typed, "--out", (dir / "out").string()}}) {
        SCOPED_TRACE(command[0]);
        expectRefused(command, dir.path(), "song.mid: track " + typed + " does not exist (tracks are numbered 1 to 1)");
    }
    for (const auto& command : {std::vector<std::string>{"events", song, "--track", "-1"},
                                {"events", song, "--track", "1x"},
                                {"convert", song, "--track", "+1", "--out", (dir / "out").string()},
                                {"convert", song, "--out", (dir / "out").string()},
                                {"convert", song, "--track", "1", "--out="},
                                {"convert", song, "--track", "1", "--out", ""}}) {
        SCOPED_TRACE(command[0] + " " + command.back());
        const CliRun run = runCli(command);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.rfind("zentrowe-cli: ", 0), 0u) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    const CliRun version = runCli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "zentrowe-cli " ZENTROWE_VERSION "\n");

    // An empty keysound name, in either form, makes the same chart and cuts the same files.
    for (const auto& form : {std::vector<std::string>{"--name="}, {"--name", ""}}) {
        SCOPED_TRACE(form.size());
        std::vector<std::string> command = {"convert", song, "--track", "1", "--out", (dir / "out").string()};
        command.insert(command.end(), form.begin(), form.end());
        const CliRun run = runCli(command);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(testing::readText(dir / "out" / "song.bms").find("#WAV01 60-24-100.OGG"), std::string::npos);
        testing::writeFile(dir / "out" / "render.wav",
                           testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(200000)}}));
        std::vector<std::string> cut = {"cut", (dir / "out" / "render.wav").string(), "--chart",
                                        (dir / "out" / "song.bms").string(), "--name", "B"};
        ASSERT_EQ(runCli(cut).exitCode, 0);
        cut.pop_back();
        cut.pop_back();
        cut.insert(cut.end(), form.begin(), form.end());
        const CliRun renamed = runCli(cut);
        EXPECT_EQ(renamed.exitCode, 0) << renamed.err;
        EXPECT_TRUE(std::filesystem::exists(dir / "out" / "60-24-100.wav"));
        std::filesystem::remove_all(dir / "out");
    }
}

}  // namespace
}  // namespace zentrowe
