#include "core/workflow/audit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/chart_folder.h"

namespace zentrowe::testing {
namespace {

namespace fs = std::filesystem;
using workflow::AuditCheck;
using workflow::AuditSeverity;

std::string listed(const workflow::AuditReport& report)
{
    std::string text;
    for (const auto& finding : report.findings) {
        text += std::string(workflow::severityWord(finding.severity)) + ": " + finding.file.string() + ": " +
                finding.message + "\n";
    }
    return text;
}

void writeChart(const fs::path& folder, const std::string& header, const std::string& body)
{
    writeFile(folder / "song.bms", header + body);
}

std::string without(std::string text, const std::string& line)
{
    return text.erase(text.find(line), line.size());
}

TEST(Audit, AGoodFolderHasNoFinding)
{
    const TempDir dir;
    writeGoodFolder(dir.path());
    NullProgress quiet;
    const auto report = workflow::auditFolder(dir.path(), quiet);
    ASSERT_TRUE(report) << report.error().message;
    EXPECT_TRUE(report->findings.empty()) << listed(*report);
    EXPECT_EQ(report->usedFiles, (std::vector<fs::path>{"kick.wav", "snare.wav"}));
}

TEST(Audit, EachPlantedDefectIsFound)
{
    struct Case {
        const char* defect;
        std::function<void(const fs::path&)> plant;
        AuditCheck check;
        AuditSeverity severity;
        std::string fileAtFault;
    };
    const std::string snare = "\x83X\x83l\x83"
                              "A.wav";  // "スネア.wav" in Shift_JIS
    const Case cases[] = {
        {"missing file", [](const fs::path& d) { fs::remove(d / "snare.wav"); }, AuditCheck::MissingFile,
         AuditSeverity::Error, "song.bms"},
        {"unused file", [](const fs::path& d) { writeFile(d / "extra.wav", pcmWave(10)); }, AuditCheck::UnusedFile,
         AuditSeverity::Warning, "extra.wav"},
        {"note in measure 000", [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00011:01\r\n"); },
         AuditCheck::NoteInFirstMeasure, AuditSeverity::Warning, "song.bms"},
        {"no #TOTAL", [](const fs::path& d) { writeChart(d, without(kGoodHeader, "#TOTAL 300\r\n"), kGoodBody); },
         AuditCheck::MissingHeader, AuditSeverity::Warning, "song.bms"},
        {"no #PLAYLEVEL", [](const fs::path& d) { writeChart(d, without(kGoodHeader, "#PLAYLEVEL 3\r\n"), kGoodBody); },
         AuditCheck::MissingHeader, AuditSeverity::Warning, "song.bms"},
        {"#TOTAL far below the default",
         [](const fs::path& d) { writeChart(d, without(kGoodHeader, "#TOTAL 300\r\n") + "#TOTAL 40\r\n", kGoodBody); },
         AuditCheck::HeaderOutOfRange, AuditSeverity::Warning, "song.bms"},
        {"code defined twice",
         [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#WAV01 snare.wav\r\n"); },
         AuditCheck::DuplicateDefinition, AuditSeverity::Warning, "song.bms"},
        {"codes in base 62", [](const fs::path& d) { writeChart(d, "#BASE 62\r\n" + kGoodHeader, kGoodBody); },
         AuditCheck::Base62Codes, AuditSeverity::Warning, "song.bms"},
        {"undefined code", [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00312:03\r\n"); },
         AuditCheck::UndefinedCode, AuditSeverity::Warning, "song.bms"},
        {"long note without its end",
         [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00351:01\r\n"); },
         AuditCheck::UnendedLongNote, AuditSeverity::Error, "song.bms"},
        {"note inside a long note",
         [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00351:0001\r\n#00411:02\r\n#00551:01\r\n"); },
         AuditCheck::NoteInLongNote, AuditSeverity::Error, "song.bms"},
        {"65 s sound",
         [](const fs::path& d) {
             writeFile(d / "long.wav", pcmWave(65 * 1000, 1000));
             writeChart(d, kGoodHeader, kGoodBody + "#WAV03 long.wav\r\n#00312:03\r\n");
         },
         AuditCheck::LongSound, AuditSeverity::Warning, "long.wav"},
        {"silent sound", [](const fs::path& d) { writeFile(d / "kick.wav", pcmWave(441, 44100, 0)); },
         AuditCheck::SilentSound, AuditSeverity::Warning, "kick.wav"},
        {"undecodable sound", [](const fs::path& d) { writeFile(d / "kick.wav", std::string_view("not a sound")); },
         AuditCheck::UndecodableSound, AuditSeverity::Error, "kick.wav"},
        {"Shift_JIS text written as UTF-8",
         [](const fs::path& d) {
             writeChart(d, without(kGoodHeader, "#TITLE Good Song\r\n") + "#TITLE \xE6\xA1\x9C\r\n", kGoodBody);
         },
         AuditCheck::TextEncoding, AuditSeverity::Error, "song.bms"},
        {"#PLAYER 3 on one side",
         [](const fs::path& d) { writeChart(d, without(kGoodHeader, "#PLAYER 1\r\n") + "#PLAYER 3\r\n", kGoodBody); },
         AuditCheck::PlayerSide, AuditSeverity::Warning, "song.bms"},
        {"#PLAYER 1 with 2P notes", [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00321:01\r\n"); },
         AuditCheck::PlayerSide, AuditSeverity::Error, "song.bms"},
        {"non-ASCII file name",
         [&](const fs::path& d) {
             fs::rename(d / "snare.wav", d / snare);
             writeChart(d, kGoodHeader, without(kGoodBody, "#WAV02 snare.wav\r\n") + "#WAV02 " + snare + "\r\n");
         },
         AuditCheck::NonAsciiFileName, AuditSeverity::Warning, snare},
        {"names that differ only in case",
         [](const fs::path& d) {
             writeFile(d / "Snare.wav", pcmWave(10));
             writeChart(d, kGoodHeader, kGoodBody + "#WAV03 Snare.wav\r\n#00312:03\r\n");
         },
         AuditCheck::NamesDifferInCaseOnly, AuditSeverity::Warning, "Snare.wav"},
        {"a keysound of another branch missing",
         [](const fs::path& d) {
             writeChart(d, kGoodHeader, kGoodBody + "#RANDOM 2\r\n#IF 2\r\n#WAV03 gone.wav\r\n#ENDIF\r\n");
         },
         AuditCheck::MissingFile, AuditSeverity::Error, "song.bms"},
        {"notes stacked on notes", [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00111:0200\r\n"); },
         AuditCheck::StackedNotes, AuditSeverity::Error, "song.bms"},
        {"one sound placed twice at one moment",
         [](const fs::path& d) { writeChart(d, kGoodHeader, kGoodBody + "#00101:01\r\n"); },
         AuditCheck::SoundPlacedTwice, AuditSeverity::Warning, "song.bms"},
        {"bmson with judge_rank 2",
         [](const fs::path& d) {
             writeFile(d / "song.bmson",
                       std::string_view(R"({"version":"1.0.0","info":{"title":"Good Song","artist":"Someone",)"
                                        R"("genre":"Test","level":3,"init_bpm":120,"judge_rank":2,"total":100},)"
                                        R"("lines":[{"y":0}],"sound_channels":[{"name":"kick.wav","notes":)"
                                        R"([{"x":1,"y":960,"l":0,"c":false}]}]})"));
         },
         AuditCheck::BmsonValueOutOfScale, AuditSeverity::Error, "song.bmson"},
        // The bmson reader takes UTF-16 with a byte order mark; its values are judged as well.
        {"UTF-16 bmson with total 300",
         [](const fs::path& d) {
             const std::string_view json(R"({"version":"1.0.0","info":{"title":"Good Song","artist":"Someone",)"
                                         R"("genre":"Test","level":3,"init_bpm":120,"judge_rank":100,)"
                                         R"("total":300},"lines":[{"y":0}],"sound_channels":[{"name":"kick.wav",)"
                                         R"("notes":[{"x":1,"y":960,"l":0,"c":false}]}]})");
             std::string utf16le("\xFF\xFE");
             for (const char c : json) {
                 utf16le += c;
                 utf16le += '\0';
             }
             writeFile(d / "song.bmson", std::string_view(utf16le));
         },
         AuditCheck::BmsonValueOutOfScale, AuditSeverity::Warning, "song.bmson"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        const TempDir dir;
        writeGoodFolder(dir.path());
        c.plant(dir.path());
        NullProgress quiet;
        const auto report = workflow::auditFolder(dir.path(), quiet);
        ASSERT_TRUE(report) << report.error().message;
        const auto found = std::find_if(report->findings.begin(), report->findings.end(), [&](const auto& finding) {
            return finding.check == c.check && finding.severity == c.severity && finding.file == c.fileAtFault;
        });
        EXPECT_NE(found, report->findings.end()) << listed(*report);
        EXPECT_EQ(report->hasError(), c.severity == AuditSeverity::Error) << listed(*report);
    }
}

TEST(Audit, OwnBookkeepingIsANoticeAndAStrangeFolderOnlyFindings)
{
    const TempDir dir;
    writeGoodFolder(dir.path());
    writeFile(dir / "K-Midi.mid", midiFile(0, 96, {kEndOfTrack}));
    writeFile(dir / ".zentrowe-build.json", std::string_view("{}"));
    fs::create_directory(dir / ".zentrowe-staging");
    writeFile(dir / ".zentrowe-staging" / "kick.wav", pcmWave(10));
    // Another tool's chart: garbage bytes, a bmson that is no JSON, a #WAV leading out of the folder.
    writeFile(dir / "noise.bme", Bytes{0x23, 0xFF, 0x00, 0x81, 0x0A, 0x23, 0x30});
    writeFile(dir / "broken.bmson", std::string_view("{\"info\":"));
    writeFile(dir / "out.bml", std::string_view("#WAV01 ../../etc/passwd\n#00111:01\n"));
    NullProgress quiet;
    const auto report = workflow::auditFolder(dir.path(), quiet);
    ASSERT_TRUE(report) << report.error().message;
    int bookkeeping = 0;
    for (const auto& finding : report->findings) {
        bookkeeping += finding.check == AuditCheck::BookkeepingFile ? 1 : 0;
        EXPECT_NE(finding.check, AuditCheck::UnusedFile) << listed(*report);
    }
    EXPECT_EQ(bookkeeping, 1) << listed(*report);  // the staging folder: K-Midi.mid and the manifest pass in silence
    EXPECT_TRUE(report->hasError()) << listed(*report);  // the unreadable bmson, the file outside

    const auto missing = workflow::auditFolder(dir / "nothing-here", quiet);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ErrorCode::CannotOpen);
}

TEST(Audit, NamesWhatLeadsOutOnceAndTakesEveryBranchsFiles)
{
    const TempDir dir;
    const auto folder = dir / "song";
    fs::create_directory(folder);
    writeGoodFolder(folder);
    writeFile(dir / "outside.wav", pcmWave(10));
    fs::create_symlink("../outside.wav", folder / "link.wav");
    for (const char* name : {"rand2.wav", "ex.wav", "video.avi", "char.chp"}) {
        writeFile(folder / name, pcmWave(10));
    }
    writeChart(folder, kGoodHeader,
               kGoodBody + "#WAV03 ../outside.wav\r\n#WAV04 link.wav\r\n#EXWAV05 v 0 ex.wav\r\n" +
                   "#VIDEOFILE video.avi\r\n#CHARFILE char.chp\r\n#RANDOM 2\r\n#IF 2\r\n#WAV06 rand2.wav\r\n" +
                   "#00312:06\r\n#ENDIF\r\n#ENDRANDOM\r\n#00311:0304\r\n");
    NullProgress quiet;
    const auto report = workflow::auditFolder(folder, quiet);
    ASSERT_TRUE(report) << report.error().message;
    const std::string text = listed(*report);
    EXPECT_NE(text.find("error: song.bms: \"../outside.wav\" leads out of the chart's folder"), std::string::npos)
        << text;
    EXPECT_NE(text.find("error: song.bms: \"link.wav\" leads out of the chart's folder"), std::string::npos) << text;
    EXPECT_EQ(text.find("link.wav: no chart uses this file"), std::string::npos) << text;
    for (const auto& finding : report->findings) {
        EXPECT_NE(finding.check, AuditCheck::UnusedFile) << text;
    }
    EXPECT_EQ(report->usedFiles,
              (std::vector<fs::path>{"char.chp", "ex.wav", "kick.wav", "rand2.wav", "snare.wav", "video.avi"}));
}

TEST(Audit, RefusesAMidiFileAndTellsASoundsWholeLength)
{
    const TempDir dir;
    writeFile(dir / "song.mid", midiFile(0, 96, {kEndOfTrack}));
    writeFile(dir / "song.rmi", std::string_view("RIFF\x10\0\0\0RMIDdata", 16));
    writeFile(dir / "short.bms", std::string_view("RIFF\x10"));  // too short to be RIFF MIDI: read as a chart
    NullProgress quiet;
    for (const char* name : {"song.mid", "song.rmi"}) {
        SCOPED_TRACE(name);
        const auto midi = workflow::auditFolder(dir / name, quiet);
        ASSERT_FALSE(midi);
        EXPECT_EQ(midi.error().code, ErrorCode::CannotOpen);
        EXPECT_NE(midi.error().message.find(std::string(name) + ": a MIDI file, not a chart"), std::string::npos)
            << midi.error().message;
    }
    EXPECT_TRUE(workflow::auditFolder(dir / "short.bms", quiet));

    // 700 s of silence at 44,100 Hz (a header, then a sparse file): sounds are read only 600 s
    // far; the header tells the rest.
    writeGoodFolder(dir.path());
    Bytes longWave = pcmWave(0);
    const std::uint32_t dataBytes = 700U * 44100 * 2;
    for (std::size_t i = 0; i < 4; ++i) {
        longWave[longWave.size() - 4 + i] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
    }
    writeFile(dir / "long.wav", longWave);
    fs::resize_file(dir / "long.wav", longWave.size() + dataBytes);
    writeChart(dir.path(), kGoodHeader, kGoodBody + "#WAV03 long.wav\r\n#00312:03\r\n");
    const auto report = workflow::auditFolder(dir / "song.bms", quiet);
    ASSERT_TRUE(report) << report.error().message;
    EXPECT_NE(listed(*report).find("long.wav: lasts 700.0 s, 60 s or more"), std::string::npos) << listed(*report);
}

// Sounds are decoded on several threads: each finding must still name the file it is about, and
// the findings come in the chart's order (errors before warnings) however the threads ran.
TEST(Audit, FindsEachSoundsDefectInTheChartsOrderWhateverTheThreads)
{
    enum class Sound { Good, Silent, Damaged };
    const Sound pattern[] = {Sound::Good,    Sound::Damaged, Sound::Silent,  Sound::Good,   Sound::Good,
                             Sound::Silent,  Sound::Damaged, Sound::Damaged, Sound::Good,   Sound::Silent,
                             Sound::Good,    Sound::Damaged, Sound::Silent,  Sound::Silent, Sound::Good,
                             Sound::Damaged, Sound::Good,    Sound::Good,    Sound::Silent, Sound::Damaged,
                             Sound::Good,    Sound::Good,    Sound::Silent,  Sound::Damaged};
    const TempDir dir;
    std::string body;
    std::string undecodable;
    std::string silent;
    for (std::size_t k = 0; k < std::size(pattern); ++k) {
        const std::string number = std::to_string(k + 10);  // codes 10 to 33, measures 010 to 033
        const std::string name = "s" + number + ".wav";
        writeFile(dir.path() / name, pattern[k] == Sound::Damaged ? Bytes{'R', 'I', 'F', 'F', 1, 2}
                                     : pattern[k] == Sound::Silent
                                         ? pcmWave(4410, 44100, 0)
                                         : pcmWave(static_cast<std::uint32_t>(4410 + 441 * k)));
        body += "#WAV" + number + " " + name + "\r\n#0" + number + "11:" + number + "\r\n";
        if (pattern[k] == Sound::Damaged) {
            undecodable += name + " undecodable\n";
        } else if (pattern[k] == Sound::Silent) {
            silent += name + " silent\n";
        }
    }
    writeChart(dir.path(), kGoodHeader, body);
    NullProgress quiet;
    const auto report = workflow::auditFolder(dir.path(), quiet);
    ASSERT_TRUE(report) << report.error().message;
    std::string found;
    for (const auto& finding : report->findings) {
        if (finding.check == AuditCheck::UndecodableSound || finding.check == AuditCheck::SilentSound) {
            found += finding.file.string() +
                     (finding.check == AuditCheck::UndecodableSound ? " undecodable\n" : " silent\n");
        }
    }
    EXPECT_EQ(found, undecodable + silent) << listed(*report);
}

TEST(Audit, StopsBetweenSoundsWhenAsked)
{
    struct Stopping final : ProgressSink {
        void advance(std::int64_t, std::int64_t) override { }
        bool stopRequested() const override { return true; }
    } stopping;
    const TempDir dir;
    writeGoodFolder(dir.path());
    const auto stopped = workflow::auditFolder(dir.path(), stopping);
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().code, ErrorCode::Cancelled);
}

}  // namespace
}  // namespace zentrowe::testing
