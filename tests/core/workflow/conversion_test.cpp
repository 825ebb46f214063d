#include "core/workflow/conversion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include <sys/stat.h>

#include "../convert/convert_test_support.h"
#include "core/song/chart_file_name.h"
#include "core/workflow/build_conversion.h"
#include "support/faulty_file_system.h"

namespace zentrowe::testing {
namespace {

using workflow::ConversionRequest;
using workflow::runConversion;

class Conversion : public ::testing::Test {
protected:
    // Writes `song` as song.mid in a fresh folder and asks for track 1 into out/.
    ConversionRequest request(const Bytes& song)
    {
        const auto source = m_dir / "song.mid";
        writeFile(source, song);
        std::filesystem::create_directory(m_dir / "out");
        ConversionRequest request;
        request.sourceMidiPath = source;
        request.song = summaryOf(song);
        request.chartFileName = song::deriveChartFileName(source.string());
        request.outputFolder = m_dir / "out";
        request.trackNumber = 1;
        return request;
    }

    // What a build of `conversion` prepares of `song` for its conversion.
    static workflow::PreparedSong preparedFor(const ConversionRequest& conversion, const Bytes& song)
    {
        workflow::BuildRequest build;
        build.conversion = conversion;
        build.bgm = workflow::BgmMode::None;
        return workflow::prepareSong(build, song);
    }

    std::vector<std::string> outputNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir / "out")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir m_dir;
    NullProgress m_quiet;
};

const Bytes kWorkedExample = oneTrackSong(
    {on(0, 60), off(480, 60), on(480, 64), off(960, 64), on(960, 60), off(1440, 60), on(1920, 67, 90), off(2400, 67)});

TEST_F(Conversion, WritesTheChartAndKMidiAndReadsKMidiBack)
{
    auto req = request(kWorkedExample);
    req.settings.keysoundGap = 100;
    const auto outcome = runConversion(req, m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;

    EXPECT_EQ(outcome->chartPath, m_dir / "out" / "song.bms");
    EXPECT_EQ(outcome->keysoundMidiPath, m_dir / "out" / "K-Midi.mid");
    EXPECT_EQ(outputNames(), (std::vector<std::string>{"K-Midi.mid", "song.bms"}));
    EXPECT_EQ(readText(outcome->chartPath), chartOf(kWorkedExample)->text);
    EXPECT_EQ(outcome->keysounds.size(), 3u);
    EXPECT_EQ(outcome->sourceTicksPerMeasure, 1920);
    // 480 source ticks at 480 per quarter are 96 keysound-file ticks.
    EXPECT_EQ(outcome->cuts, (keysound::CutList{{60, 196, 0}, {64, 196, 196}, {67, 96, 392}}));
    EXPECT_EQ(outcome->keysoundSong.ticksPerQuarter, 96);
    ASSERT_EQ(outcome->keysoundSong.tracks.size(), 1u);
    EXPECT_EQ(outcome->keysoundSong.tracks[0].noteCount, 3);
}

TEST_F(Conversion, KMidiTempoIsTheSongsOrTheCustomOne)
{
    struct Case {
        std::string name;
        std::uint32_t songTempo;  // 0: the song sets none
        std::optional<std::int32_t> customTempo;
        Bytes tempoBytes;
    };
    for (const auto& c : std::vector<Case>{{"the song's tempo", 600000, std::nullopt, {0x09, 0x27, 0xC0}},
                                           {"a song without tempo plays at 120", 0, std::nullopt, {0x07, 0xA1, 0x20}},
                                           {"the custom tempo", 600000, 428571, {0x06, 0x8A, 0x1B}}}) {
        SCOPED_TRACE(c.name);
        auto req = request(oneTrackSong({on(0, 60), off(480, 60)}, 480, c.songTempo));
        if (c.customTempo) {
            req.settings.useCustomTempo = true;
            req.settings.customTempo = *c.customTempo;
        }
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_TRUE(outcome.ok());
        const Bytes kmidi = readFile(outcome->keysoundMidiPath);
        ASSERT_GE(kmidi.size(), 29u);
        EXPECT_EQ(Bytes(kmidi.begin() + 26, kmidi.begin() + 29), c.tempoBytes);
    }
}

TEST_F(Conversion, RefusalsWriteNothing)
{
    struct Case {
        std::string name;
        Bytes song;
        int track;
        int startValue;
        ErrorCode code;
    };
    const std::vector<Case> cases{
        {"no track chosen", kWorkedExample, 0, 0, ErrorCode::TrackOutOfRange},
        {"a track past those read", kWorkedExample, 2, 0, ErrorCode::TrackOutOfRange},
        {"codes past ZZ", kWorkedExample, 1, 1293, ErrorCode::CodesExhausted},
        {"a note in measure 1000", oneTrackSong({on(1920000, 60), off(1920480, 60)}), 1, 0,
         ErrorCode::MeasureOutOfRange},
        {"a division of 0", oneTrackSong({on(0, 60), off(480, 60)}, 0), 1, 0, ErrorCode::UnsupportedDivision},
        // At 96 ticks per quarter a note of 2^28 ticks needs a five-byte delta time in K-Midi.mid.
        {"a note longer than a delta time",
         oneTrackSong({on(0, 60), {268435455, 0xB0, 7, 100}, off(268435456, 60)}, 96), 1, 0, ErrorCode::NoteTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto req = request(c.song);
        req.trackNumber = c.track;
        req.settings.startValue = c.startValue;
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, c.code);
        EXPECT_TRUE(outputNames().empty());
    }
}

TEST_F(Conversion, RefusesToOverwriteTheSourceFile)
{
    for (const std::string sourceName : {"song.bms", "K-Midi.mid"}) {
        SCOPED_TRACE(sourceName);
        auto req = request(kWorkedExample);
        const auto source = m_dir / "out" / sourceName;
        writeFile(source, kWorkedExample);
        req.sourceMidiPath = source;
        req.chartFileName = "song.bms";
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WouldOverwriteSource);
        EXPECT_EQ(readFile(source), kWorkedExample);
        EXPECT_EQ(outputNames(), std::vector<std::string>{sourceName});
        std::filesystem::remove(source);
    }
    {
        SCOPED_TRACE("the same file through another spelling of its folder");
        auto req = request(kWorkedExample);
        req.outputFolder = m_dir / "out" / "..";
        req.chartFileName = "song.mid";
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WouldOverwriteSource);
        EXPECT_EQ(readFile(m_dir / "song.mid"), kWorkedExample);
    }
}

TEST_F(Conversion, FailedWriteLeavesEarlierFilesIntact)
{
    {
        // The conversion makes a missing folder (and takes it away again if it writes nothing
        // there); a file in a folder's place cannot be written into.
        SCOPED_TRACE("an output folder inside a file");
        writeFile(m_dir / "a-file", std::string_view("x"));
        auto req = request(kWorkedExample);
        req.outputFolder = m_dir / "a-file" / "out";
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WriteFailed);
        EXPECT_NE(outcome.error().message.find("a-file/out"), std::string::npos) << outcome.error().message;
        std::filesystem::remove(m_dir / "a-file");
    }
    {
        SCOPED_TRACE("a chart name taken by a folder");
        auto req = request(kWorkedExample);
        std::filesystem::create_directory(m_dir / "out" / "song.bms");
        writeFile(m_dir / "out" / "K-Midi.mid", std::string_view("earlier keysounds"));
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WriteFailed);
        EXPECT_TRUE(std::filesystem::is_directory(m_dir / "out" / "song.bms"));
        EXPECT_EQ(readText(m_dir / "out" / "K-Midi.mid"), "earlier keysounds");
        EXPECT_EQ(outputNames(), (std::vector<std::string>{"K-Midi.mid", "song.bms"}));
        std::filesystem::remove_all(m_dir / "out");
    }
    {
        SCOPED_TRACE("K-Midi.mid taken by a folder after the chart is in place");
        auto req = request(kWorkedExample);
        writeFile(m_dir / "out" / "song.bms", std::string_view("earlier chart"));
        std::filesystem::create_directories(m_dir / "out" / "K-Midi.mid" / "renders");
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WriteFailed);
        EXPECT_NE(outcome.error().message.find("K-Midi.mid"), std::string::npos);
        EXPECT_EQ(readText(m_dir / "out" / "song.bms"), "earlier chart") << "the chart goes back with its pair";
        EXPECT_EQ(outputNames(), (std::vector<std::string>{"K-Midi.mid", "song.bms"}));
        std::filesystem::remove_all(m_dir / "out");
    }
}

TEST_F(Conversion, AFolderThatRefusesItsFilesKeepsTheEarlierPair)
{
    // As a read-only folder does, also for root: the rename of either file into place fails.
    for (const char* refused : {"song.bms", "K-Midi.mid"}) {
        SCOPED_TRACE(refused);
        auto req = request(kWorkedExample);
        writeFile(m_dir / "out" / "song.bms", std::string_view("earlier chart"));
        writeFile(m_dir / "out" / "K-Midi.mid", std::string_view("earlier keysounds"));
        FaultyFileSystem files;
        files.failAt = m_dir / "out" / refused;
        req.fileSystem = &files;
        const auto outcome = runConversion(req, m_quiet);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, ErrorCode::WriteFailed);
        EXPECT_NE(outcome.error().message.find(refused), std::string::npos) << outcome.error().message;
        EXPECT_EQ(readText(m_dir / "out" / "song.bms"), "earlier chart");
        EXPECT_EQ(readText(m_dir / "out" / "K-Midi.mid"), "earlier keysounds");
        EXPECT_EQ(outputNames(), (std::vector<std::string>{"K-Midi.mid", "song.bms"})) << "no temporary file left";
        std::filesystem::remove_all(m_dir / "out");
    }
}

TEST_F(Conversion, ReplacesEarlierOutputs)
{
    auto req = request(kWorkedExample);
    writeFile(m_dir / "out" / "song.bms", std::string_view("earlier chart, longer than nothing at all"));
    const auto outcome = runConversion(req, m_quiet);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(readText(m_dir / "out" / "song.bms"), chartOf(kWorkedExample)->text);
    EXPECT_EQ(outputNames(), (std::vector<std::string>{"K-Midi.mid", "song.bms"}));
}

TEST_F(Conversion, ChartOfSeveralMegabytesIsWrittenWhole)
{
    // In each of 100 measures notes 1 to 126 struck together at slot 0 and held one slot (10
    // ticks of a 1920-tick measure): 1 to 7 take their own lanes, 8 to 126 find none free and
    // each needs a background line of its own, about 5 MB of chart in all.
    constexpr int kMeasures = 100;
    std::vector<TimedEvent> events;
    for (int measure = 0; measure < kMeasures; ++measure) {
        for (int note = 1; note <= 126; ++note) {
            events.push_back(on(1920 * measure, note));
        }
        for (int note = 1; note <= 126; ++note) {
            events.push_back(off(1920 * measure + 10, note));
        }
    }
    const auto outcome = runConversion(request(oneTrackSong(events)), m_quiet);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;

    // Note n is handled n-th and gets the code n in base 36.
    auto code = [](int n) {
        const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        return std::string{digits[n / 36], digits[n % 36]};
    };
    std::string expected = "#LNTYPE 01\r\n\r\n\r\n#BPM01 120.00\r\n\r\n\r\n";
    for (int note = 1; note <= 126; ++note) {
        expected += "#WAV" + code(note) + " A" + std::to_string(note) + "-1-100.OGG\r\n";
    }
    expected += "\r\n\r\n";
    // Lanes in the chart's line order 16, 11, 12, 13, 14, 15, 18 hold notes 7, 1, 2, 3, 4, 5, 6.
    const char* channels[7] = {"16", "11", "12", "13", "14", "15", "18"};
    const int laneNotes[7] = {7, 1, 2, 3, 4, 5, 6};
    for (int measure = 0; measure < kMeasures; ++measure) {
        std::string number = std::to_string(measure);
        number.insert(0, 3 - number.size(), '0');
        for (int lane = 0; lane < 7; ++lane) {
            expected += channelLine(number, channels[lane], {{0, code(laneNotes[lane])}}, lane == 6);
        }
        for (int note = 8; note <= 126; ++note) {
            expected += channelLine(number, "01", {{0, code(note)}}, true);
        }
    }
    expected += channelLine("000", "08", {{0, "01"}}, true) + "\r\n";
    const std::string written = readText(outcome->chartPath);
    EXPECT_GT(written.size(), std::size_t{4} << 20);
    EXPECT_TRUE(written == expected) << "the chart file differs from the expected " << expected.size() << " bytes";
}

TEST_F(Conversion, TrackWithoutNotesIsRefusedNamingItAndWritesNothing)
{
    auto req = request(oneTrackSong({}));
    writeFile(m_dir / "out" / "song.bms", std::string_view("earlier chart"));
    const auto outcome = runConversion(req, m_quiet);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, ErrorCode::EmptyTrack);
    EXPECT_NE(outcome.error().message.find("track 1 "), std::string::npos) << outcome.error().message;
    EXPECT_EQ(readText(m_dir / "out" / "song.bms"), "earlier chart");
    EXPECT_EQ(outputNames(), (std::vector<std::string>{"song.bms"}));
}

TEST_F(Conversion, MissingSourceFileCannotBeOpened)
{
    auto req = request(kWorkedExample);
    std::filesystem::remove(req.sourceMidiPath);
    const auto outcome = runConversion(req, m_quiet);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, ErrorCode::CannotOpen);
    EXPECT_TRUE(outputNames().empty());
}

}  // namespace
}  // namespace zentrowe::testing

namespace zentrowe::testing {
namespace {

TEST_F(Conversion, ASongShorterThanItsSummaryIsNeverConverted)
{
    // The summary saw the whole song; the file read again holds only its header and part of its
    // track (a drained pipe, a file cut short since): converting that would write a wrong chart.
    auto req = request(kWorkedExample);
    const Bytes whole = readFile(req.sourceMidiPath);
    writeFile(req.sourceMidiPath, Bytes(whole.begin(), whole.begin() + 30));
    const auto outcome = runConversion(req, m_quiet);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, ErrorCode::CannotOpen);
    EXPECT_NE(outcome.error().message.find("song.mid: cannot read: it holds 30 bytes now but held " +
                                           std::to_string(whole.size())),
              std::string::npos)
        << outcome.error().message;
    EXPECT_TRUE(outputNames().empty());
}

TEST_F(Conversion, ABuildRefusesAndHintsAsStartDoesFromThePreparedNotes)
{
    // Track 1 plays channel 1 and the drum channel, track 2 drums alone, track 3 nothing.
    const Bytes song = midiFile(1, 480,
                                {eventTrack({on(0, 60), on(0, 36, 100, 9), off(240, 60), off(240, 36, 9)}),
                                 eventTrack({on(0, 38, 90, 9), off(120, 38, 9)}, 0), eventTrack({}, 0)});
    struct Case {
        const char* name;
        int track;
        int channel;
        std::vector<song::TrackPart> moreParts;
        std::optional<ErrorCode> refusal;
        bool drums = false;  // the hint that percussion mode would suit
    };
    const std::vector<Case> cases = {
        {"a track of drums", 2, 0, {}, std::nullopt, true},
        {"a track of drums and more", 1, 0, {}, std::nullopt},
        {"the drum channel of a track", 1, 10, {}, std::nullopt, true},
        {"a channel without notes", 1, 5, {}, ErrorCode::EmptyTrack},
        {"a further part without notes", 1, 1, {{3, 0}}, ErrorCode::EmptyTrack},
        {"a further part the song lacks", 1, 1, {{9, 0}}, ErrorCode::TrackOutOfRange},
        {"a part without notes before one the song lacks", 1, 5, {{9, 0}}, ErrorCode::EmptyTrack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto req = request(song);
        req.trackNumber = c.track;
        req.channel = c.channel;
        req.moreParts = c.moreParts;
        const auto start = workflow::convertTrack(req, song, m_quiet);
        const auto build =
            workflow::convertTrackForBuild({req, "", std::nullopt, ".ogg"}, preparedFor(req, song), m_quiet);
        for (const auto* outcome : {&start, &build}) {
            if (c.refusal) {
                ASSERT_FALSE(outcome->ok());
                EXPECT_EQ(outcome->error().code, *c.refusal);
                EXPECT_EQ(outcome->error().message, start.error().message);
            } else {
                ASSERT_TRUE(outcome->ok()) << outcome->error().message;
                EXPECT_EQ((*outcome)->allNotesOnDrumChannel, c.drums);
            }
        }
    }
}

TEST_F(Conversion, ABuildOfASongShorterThanItsSummaryIsNeverConverted)
{
    auto req = request(kWorkedExample);
    const Bytes cut(kWorkedExample.begin(), kWorkedExample.begin() + 30);
    const auto outcome =
        workflow::convertTrackForBuild({req, "", std::nullopt, ".ogg"}, preparedFor(req, cut), m_quiet);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, ErrorCode::CannotOpen);
    EXPECT_NE(outcome.error().message.find("it holds 30 bytes now"), std::string::npos) << outcome.error().message;
}

TEST_F(Conversion, ABuildsBmsChartKeepsEveryNoteAtItsTickUnderTheTablesCodes)
{
    // 480 ticks a quarter note: a measure of 1920. A note a tick late, one at a measure's tick 5,
    // and, as a second case, a note at measure 1000, past what a BMS chart numbers.
    struct Case {
        const char* name;
        Bytes song;
        std::vector<std::string> lines;  // "measure channel/slots: slot=code", one a note
        std::optional<ErrorCode> refusal;
    };
    const std::vector<Case> cases = {
        {"off the grid",
         oneTrackSong({on(1, 60), off(481, 60), on(1925, 61), off(2405, 61)}),
         {"0 14/1920: 1=11", "1 15/1920: 5=12"},  // note mod 7 picks the lane
         std::nullopt},
        {"measure 1000",
         oneTrackSong({on(1920 * 1000, 60), off(1920 * 1000 + 480, 60)}),
         {},
         ErrorCode::MeasureOutOfRange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        workflow::BuildConversionRequest req{request(c.song), "", std::nullopt, ".OGG"};
        req.conversion.settings.startValue = 10;
        const auto outcome = workflow::convertTrackForBuild(req, preparedFor(req.conversion, c.song), m_quiet);
        if (c.refusal) {
            ASSERT_FALSE(outcome.ok());
            EXPECT_EQ(outcome.error().code, *c.refusal);
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const auto& chart = outcome->chart;
        EXPECT_EQ(chart.header.lnType, 1);
        ASSERT_EQ(chart.keysounds.size(), 2u);
        EXPECT_EQ(chart.keysounds.front().code, 11u);  // the start value, then one on
        EXPECT_EQ(chart.keysounds.front().fileName, "A60-48-100.OGG");
        std::vector<std::string> lines;
        for (const auto& line : chart.lines) {
            if (line.objectCount == 1 && chart::isLaneChannel(line.channel)) {
                const auto& object = chart.objects[line.firstObject];
                lines.push_back(std::to_string(line.measure) + " " + std::to_string(line.channel) + "/" +
                                std::to_string(line.slotCount) + ": " + std::to_string(object.slot) + "=" +
                                std::to_string(object.code));
            }
        }
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(Conversion, ABuildsBmsChartNumbersItsTemposAndSharesCodesPastTheLast)
{
    struct Case {
        const char* name;
        int changes;                     // alternating 100 and 150 BPM, one a tick from tick 1
        std::size_t definitions;         // "#BPMxx" lines
        std::vector<std::string> texts;  // the first definitions' values
    };
    const std::vector<Case> cases = {
        {"each change its code", 3, 3, {"100.00", "150.00", "100.00"}},
        {"past ZZ, equal tempos share one", 1300, 2, {"100.00", "150.00"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes conductor;
        for (int k = 0; k < c.changes; ++k) {
            const int micros = k % 2 == 0 ? 600000 : 400000;
            append(conductor, bytes({1, 0xFF, 0x51, 0x03, micros >> 16, (micros >> 8) & 0xFF, micros & 0xFF}));
        }
        append(conductor, kEndOfTrack);
        const Bytes song = midiFile(1, 480, {conductor, eventTrack({on(2000, 60), off(2400, 60)}, 0)});
        workflow::BuildConversionRequest req{request(song), "", std::nullopt, ".OGG"};
        req.conversion.trackNumber = 2;
        const auto outcome = workflow::convertTrackForBuild(req, preparedFor(req.conversion, song), m_quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const auto& chart = outcome->chart;
        ASSERT_EQ(chart.tempos.size(), c.definitions);
        for (std::size_t k = 0; k < c.texts.size(); ++k) {
            EXPECT_EQ(chart.tempos[k].text, c.texts[k]);
        }
        // Every change at its tick, each naming the definition of its tempo.
        int placed = 0;
        for (const auto& line : chart.lines) {
            if (line.channel != chart::kTempoChannel) {
                continue;
            }
            for (std::uint32_t k = 0; k < line.objectCount; ++k) {
                const auto& object = chart.objects[line.firstObject + k];
                const std::int64_t tick = std::int64_t{line.measure} * 1920 + object.slot * 1920 / line.slotCount;
                ASSERT_GE(object.code, 1u);
                ASSERT_LE(object.code, chart.tempos.size());
                EXPECT_EQ(chart.tempos[object.code - 1].text, tick % 2 == 1 ? "100.00" : "150.00") << tick;
                ++placed;
            }
        }
        EXPECT_EQ(placed, c.changes);
    }
}

}  // namespace
}  // namespace zentrowe::testing
