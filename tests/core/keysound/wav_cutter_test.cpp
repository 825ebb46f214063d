#include "core/keysound/wav_cutter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"
#include "wave_builder.h"

namespace zentrowe::keysound {
namespace {

using testing::Bytes;
using testing::RiffChunk;
using testing::TempDir;

class RecordingSink final : public ProgressSink {
public:
    explicit RecordingSink(int stopAfter = -1) : m_stopAfter(stopAfter) {}
    void advance(std::int64_t done, std::int64_t total) override { calls.emplace_back(done, total); }
    bool stopRequested() const override
    {
        return m_stopAfter >= 0 && !calls.empty() && calls.back().first >= m_stopAfter;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;

private:
    int m_stopAfter;
};

std::vector<std::string> folderNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes slice(const Bytes& data, std::size_t from, std::size_t to)
{
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from), data.begin() + static_cast<std::ptrdiff_t>(to));
}

// A cut at 120 BPM (500,000 us a quarter), 96 ticks a quarter, as the keysound file has.
CutRequest request(const TempDir& dir, std::vector<std::string> stems, keysound::CutList cuts,
                   LeadIn leadIn = LeadIn::FirstNote)
{
    CutRequest r;
    r.recording = dir / "render.wav";
    r.outputFolder = dir / "out";
    std::filesystem::create_directories(r.outputFolder);
    r.keysoundStems = std::move(stems);
    r.cuts = std::move(cuts);
    r.ticksPerQuarter = 96;
    r.tempoMicros = 500000;
    r.gapTicks = 100;
    r.leadIn = leadIn;
    return r;
}

TEST(WavCutter, WorkedByteOffsetsAt120BpmDivision96)
{
    const struct {
        std::int64_t tick;
        std::int64_t offset;
    } cases[] = {{0, 0}, {100, 91872}, {196, 180072}, {296, 271948}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tick);
        EXPECT_EQ(frameOffset(ticksToSeconds(c.tick, 500000, 96), 176400, 4), c.offset);
    }
    EXPECT_DOUBLE_EQ(ticksToSeconds(100, 500000, 96), 0.5 * 100 / 96);
}

TEST(WavCutter, OffsetsRoundHalfToEvenThenDownToAFrame)
{
    // 2.5 bytes round to 2, 3.5 to 4; a block align of 3 then moves 4 down to 3.
    EXPECT_EQ(frameOffset(2.5, 1, 1), 2);
    EXPECT_EQ(frameOffset(3.5, 1, 1), 4);
    EXPECT_EQ(frameOffset(3.5, 1, 3), 3);
    EXPECT_EQ(frameOffset(1.0, 7, 4), 4);
}

TEST(WavCutter, CutsThePlainHeaderRecordingAtTheWorkedOffsets)
{
    TempDir dir;
    const Bytes data = testing::patternBytes(400000);
    testing::writeFile(dir / "render.wav", testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", data}}));
    // Note Ons at 100, 196 and 296 ticks after the first; the last sounds 48 ticks.
    const auto r = request(dir, {"A60-48-100", "A62-24-90", "A64-12-80", "A65-24-70"},
                           {{60, 100, 0}, {62, 96, 100}, {64, 100, 196}, {65, 48, 296}});
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_TRUE(report.ok()) << report.error().message;
    EXPECT_EQ(report->written.size(), 4u);
    EXPECT_TRUE(report->warnings.empty());

    const struct {
        const char* name;
        std::size_t first;
        std::size_t last;
    } cases[] = {
        {"A60-48-100.wav", 0, 91872},
        {"A62-24-90.wav", 91872, 180072},
        {"A64-12-80.wav", 180072, 271948},
        // 344 ticks: 1.7916... s, 316,050 bytes, down to the frame at 316,048.
        {"A65-24-70.wav", 271948, 316048},
    };
    const Bytes original = testing::readFile(dir / "render.wav");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes cut = testing::readFile(r.outputFolder / c.name);
        const std::size_t size = c.last - c.first;
        ASSERT_EQ(cut.size(), 44 + size);
        EXPECT_EQ(slice(cut, 0, 4), slice(original, 0, 4));
        EXPECT_EQ(testing::u32leAt(cut, 4), 36 + size);
        EXPECT_EQ(slice(cut, 8, 40), slice(original, 8, 40));
        EXPECT_EQ(testing::u32leAt(cut, 40), size);
        EXPECT_EQ(slice(cut, 44, cut.size()), slice(data, c.first, c.last));
    }
}

TEST(WavCutter, FileStartShiftsEveryCutByOneGap)
{
    TempDir dir;
    const Bytes data = testing::patternBytes(200000);
    testing::writeFile(dir / "render.wav", testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", data}}));
    const auto r = request(dir, {"A1"}, {{60, 96, 0}}, LeadIn::FileStart);
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_TRUE(report.ok()) << report.error().message;
    EXPECT_EQ(report->leadInUsed, LeadIn::FileStart);
    // Gap 100 ticks: 0.5208... s, byte 91,875, frame at 91,872; plus 96 ticks (0.5 s, 88,200
    // bytes): 1.0208... s, byte 180,075, frame at 180,072.
    const Bytes cut = testing::readFile(r.outputFolder / "A1.wav");
    EXPECT_EQ(slice(cut, 44, cut.size()), slice(data, 91872, 180072));
}

TEST(WavCutter, FindsTheDataChunkBehindOtherChunksAndOddSizes)
{
    TempDir dir;
    const Bytes data = testing::patternBytes(4000);
    Bytes bext(601, 0x42);  // odd: a pad byte follows it
    Bytes junk(200, 0);
    const Bytes recording = testing::riffWave(
        {{"JUNK", junk}, {"bext", bext}, {"fmt ", testing::fmtBody(1, 1, 1000, 2000, 2, 16)}, {"LIST", Bytes(9, 1)},
         {"data", data}, {"LIST", Bytes(30, 0x55)}});
    testing::writeFile(dir / "render.wav", recording);
    const std::size_t dataTag = 12 + 8 + 200 + 8 + 602 + 8 + 16 + 8 + 10;
    ASSERT_EQ(slice(recording, dataTag, dataTag + 4), testing::bytes({'d', 'a', 't', 'a'}));

    // 96 ticks at 120 BPM is 0.5 s: 1000 bytes at 2000 bytes a second.
    auto r = request(dir, {"A1", "A2"}, {{60, 96, 0}, {61, 96 * 4, 96 * 3}});
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_TRUE(report.ok()) << report.error().message;

    // The JUNK chunk (8 + 200 bytes) is padding and stays behind; the other chunks are copied.
    const std::size_t cutTag = dataTag - 208;
    Bytes header = slice(recording, 8, 12);
    testing::append(header, slice(recording, 12 + 208, dataTag + 4));
    const Bytes first = testing::readFile(r.outputFolder / "A1.wav");
    ASSERT_EQ(first.size(), cutTag + 8 + 1000);
    EXPECT_EQ(slice(first, 8, cutTag + 4), header);
    EXPECT_EQ(testing::u32leAt(first, 4), cutTag + 1000);
    EXPECT_EQ(testing::u32leAt(first, cutTag + 4), 1000u);
    EXPECT_EQ(slice(first, cutTag + 8, first.size()), slice(data, 0, 1000));

    // The second runs from 3000 to 7000 bytes; the data chunk ends at 4000, and the LIST chunk
    // after it must not become sound.
    const Bytes second = testing::readFile(r.outputFolder / "A2.wav");
    ASSERT_EQ(second.size(), cutTag + 8 + 4000);
    Bytes expected = slice(data, 3000, 4000);
    expected.resize(4000, 0);
    EXPECT_EQ(slice(second, cutTag + 8, second.size()), expected);
}

TEST(WavCutter, ReadsByteRateAndBlockAlignFromTheFormatChunk)
{
    struct Case {
        const char* name;
        Bytes fmt;
        std::size_t first;
        std::size_t last;
    };
    // Cut from 0.25 s to 0.75 s (48 to 144 ticks).
    const Case cases[] = {
        // 48 kHz 24-bit mono: 144,000 bytes a second, 3-byte frames.
        {"24-bit mono", testing::fmtBody(1, 1, 48000, 144000, 3, 24), 36000, 108000},
        // 22,050 Hz 8-bit mono: 5,512.5 bytes round to 5,512, 16,537.5 to 16,538.
        {"8-bit mono", testing::fmtBody(1, 1, 22050, 22050, 1, 8), 5512, 16538},
        // 1,001 bytes a second: 250.25 and 750.75 bytes give 501, an odd size with a pad byte.
        {"8-bit mono, odd size", testing::fmtBody(1, 1, 1001, 1001, 1, 8), 250, 751},
        // 44.1 kHz float stereo: 88,200 and 264,600 bytes, 8-byte frames.
        {"float stereo", testing::fmtBody(3, 2, 44100, 352800, 8, 32), 88200, 264600},
        {"extensible PCM 16-bit 6ch", testing::extensibleFmtBody(1, 6, 8000, 16), 24000, 72000},
        {"extensible float", testing::extensibleFmtBody(3, 1, 8000, 32), 8000, 24000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Bytes data = testing::patternBytes(300000);
        testing::writeFile(dir / "render.wav", testing::riffWave({{"fmt ", c.fmt}, {"data", data}}));
        const auto r = request(dir, {"A1"}, {{60, 96, 48}});
        NullProgress quiet;
        const auto report = cutRecording(r, quiet);
        ASSERT_TRUE(report.ok()) << report.error().message;
        const Bytes cut = testing::readFile(r.outputFolder / "A1.wav");
        const std::size_t headerSize = 12 + 8 + c.fmt.size() + 8;
        const std::size_t size = c.last - c.first;
        const std::size_t pad = size % 2;
        ASSERT_EQ(cut.size(), headerSize + size + pad);
        EXPECT_EQ(testing::u32leAt(cut, 4), headerSize - 8 + size + pad);
        EXPECT_EQ(testing::u32leAt(cut, headerSize - 4), size);
        EXPECT_EQ(slice(cut, headerSize, headerSize + size), slice(data, c.first, c.last));
    }
}

TEST(WavCutter, RewritesTheFactFrameCountOfEachFile)
{
    TempDir dir;
    Bytes fact;
    testing::appendU32le(fact, 999999);
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::fmtBody(3, 1, 1000, 4000, 4, 32)},
                                          {"fact", fact},
                                          {"data", testing::patternBytes(8000)}}));
    const auto r = request(dir, {"A1"}, {{60, 96, 0}});
    NullProgress quiet;
    ASSERT_TRUE(cutRecording(r, quiet).ok());
    const Bytes cut = testing::readFile(r.outputFolder / "A1.wav");
    // 0.5 s of 4-byte frames at 1000 frames a second.
    EXPECT_EQ(testing::u32leAt(cut, 12 + 8 + 16 + 8), 500u);
    EXPECT_EQ(testing::u32leAt(cut, cut.size() - 2000 - 4), 2000u);
}

TEST(WavCutter, LeavesPaddingChunksOutOfEveryKeysoundFile)
{
    // A recorder's reserve of 64 MB would otherwise be copied into every keysound. The fact
    // chunk after the padding moves up with everything else, and its frame count is rewritten.
    TempDir dir;
    Bytes fact;
    testing::appendU32le(fact, 999999);
    const Bytes fmt = testing::fmtBody(1, 1, 1000, 2000, 2, 16);
    const Bytes data = testing::patternBytes(4000);
    testing::writeFile(dir / "render.wav", testing::riffWave({{"JUNK", Bytes(64 << 20, 0)},
                                                             {"fmt ", fmt},
                                                             {"PAD ", Bytes(3, 0)},
                                                             {"fact", fact},
                                                             {"LIST", Bytes(5, 0x4C)},
                                                             {"data", data}}));
    const auto r = request(dir, {"A1"}, {{60, 96, 0}});
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_TRUE(report.ok()) << report.error().message;
    // 0.5 s at 2000 bytes a second: 1000 bytes, 500 frames.
    Bytes count;
    testing::appendU32le(count, 500);
    const Bytes expected = testing::riffWave({{"fmt ", fmt}, {"fact", count}, {"LIST", Bytes(5, 0x4C)},
                                              {"data", slice(data, 0, 1000)}});
    EXPECT_EQ(testing::readFile(r.outputFolder / "A1.wav"), expected);
}

TEST(WavCutter, RefusesRecordingsItCannotCutAndWritesNothing)
{
    const Bytes data = testing::patternBytes(1000);
    struct Case {
        const char* name;
        Bytes file;
        ErrorCode code;
    };
    Bytes notRiff = testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", data}});
    notRiff[8] = 'X';
    Bytes riffWithoutChunks = testing::riffWave({});
    Bytes fmt14 = testing::cdFmt();
    fmt14.resize(14);
    const Case cases[] = {
        {"not RIFF/WAVE", notRiff, ErrorCode::NotPcmWave},
        {"empty RIFF", riffWithoutChunks, ErrorCode::NotPcmWave},
        {"too short", testing::bytes({'R', 'I', 'F', 'F'}), ErrorCode::NotPcmWave},
        {"no fmt", testing::riffWave({{"data", data}}), ErrorCode::NotPcmWave},
        {"fmt after data", testing::riffWave({{"data", data}, {"fmt ", testing::cdFmt()}}), ErrorCode::NotPcmWave},
        {"fmt of 14 bytes",
         testing::riffWave({{"fmt ", fmt14}, {"data", data}}), ErrorCode::NotPcmWave},
        {"no data", testing::riffWave({{"fmt ", testing::cdFmt()}}), ErrorCode::NotPcmWave},
        {"block align 0", testing::riffWave({{"fmt ", testing::fmtBody(1, 2, 44100, 176400, 0, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"byte rate 0", testing::riffWave({{"fmt ", testing::fmtBody(1, 2, 44100, 0, 4, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"ADPCM", testing::riffWave({{"fmt ", testing::fmtBody(2, 2, 44100, 176400, 4, 4)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"extensible A-law", testing::riffWave({{"fmt ", testing::extensibleFmtBody(6, 1, 8000, 8)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"short extensible",
         testing::riffWave({{"fmt ", testing::fmtBody(0xFFFE, 2, 44100, 176400, 4, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"block align 65535", testing::riffWave({{"fmt ", testing::fmtBody(1, 2, 44100, 176400, 65535, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"byte rate not rate x align", testing::riffWave({{"fmt ", testing::fmtBody(1, 2, 44100, 176144, 4, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"0 channels", testing::riffWave({{"fmt ", testing::fmtBody(1, 0, 44100, 0, 0, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"sample rate 0", testing::riffWave({{"fmt ", testing::fmtBody(1, 2, 0, 0, 4, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"PCM of 64 bits", testing::riffWave({{"fmt ", testing::fmtBody(1, 1, 1000, 8000, 8, 64)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"float of 16 bits", testing::riffWave({{"fmt ", testing::fmtBody(3, 1, 1000, 2000, 2, 16)}, {"data", data}}),
         ErrorCode::NotPcmWave},
        {"chunk size past the end", testing::riffWave({{"fmt ", testing::cdFmt()}, {"LIST", Bytes(4), 1000}, {"data", data}}),
         ErrorCode::NotPcmWave},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        testing::writeFile(dir / "render.wav", c.file);
        const auto r = request(dir, {"A1"}, {{60, 96, 0}});
        NullProgress quiet;
        const auto report = cutRecording(r, quiet);
        ASSERT_FALSE(report.ok());
        EXPECT_EQ(report.error().code, c.code);
        EXPECT_NE(report.error().message.find("render.wav"), std::string::npos) << report.error().message;
        EXPECT_TRUE(folderNames(r.outputFolder).empty());
    }
    TempDir dir;
    const auto r = request(dir, {"A1"}, {{60, 96, 0}});
    NullProgress quiet;
    const auto missing = cutRecording(r, quiet);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ErrorCode::CannotOpen);
}

TEST(WavCutter, LastFormatChunkOfSixteenBytesOrMoreCounts)
{
    TempDir dir;
    // The first says 4-byte frames, the second 2-byte frames at 2,000 bytes a second; a third
    // of 12 bytes is too short to count.
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()},
                                          {"fmt ", testing::fmtBody(1, 1, 1000, 2000, 2, 16)},
                                          {"fmt ", Bytes(12, 0)},
                                          {"data", testing::patternBytes(4000)}}));
    const auto r = request(dir, {"A1"}, {{60, 96, 0}});
    NullProgress quiet;
    ASSERT_TRUE(cutRecording(r, quiet).ok());
    const Bytes cut = testing::readFile(r.outputFolder / "A1.wav");
    EXPECT_EQ(testing::u32leAt(cut, cut.size() - 1000 - 4), 1000u);
}

TEST(WavCutter, EmptyOrNegativeSegmentsGiveEmptyDataChunks)
{
    TempDir dir;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(1000)}}));
    const auto r = request(dir, {"A1", "A2"}, {{60, 0, 0}, {61, -50, 0}});
    NullProgress quiet;
    ASSERT_TRUE(cutRecording(r, quiet).ok());
    for (const char* name : {"A1.wav", "A2.wav"}) {
        SCOPED_TRACE(name);
        const Bytes cut = testing::readFile(r.outputFolder / name);
        ASSERT_EQ(cut.size(), 44u);
        EXPECT_EQ(testing::u32leAt(cut, 4), 36u);
        EXPECT_EQ(testing::u32leAt(cut, 40), 0u);
    }
}

TEST(WavCutter, CutsTheShorterOfKeysoundsAndNotesAndSaysSo)
{
    const struct {
        std::vector<std::string> stems;
        keysound::CutList cuts;
        std::vector<std::string> files;
    } cases[] = {
        {{"A1", "A2", "A3"}, {{60, 10, 0}, {61, 10, 10}}, {"A1.wav", "A2.wav"}},
        {{"A1"}, {{60, 10, 0}, {61, 10, 10}}, {"A1.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stems.size());
        TempDir dir;
        testing::writeFile(dir / "render.wav",
                           testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(1000)}}));
        const auto r = request(dir, c.stems, c.cuts);
        NullProgress quiet;
        const auto report = cutRecording(r, quiet);
        ASSERT_TRUE(report.ok());
        EXPECT_EQ(std::count_if(report->warnings.begin(), report->warnings.end(),
                                [](const std::string& w) { return w.find("notes in the keysound file") != std::string::npos; }),
                  1);
        EXPECT_EQ(folderNames(r.outputFolder), c.files);
    }
}

TEST(WavCutter, RefusesWholeWhenAFileWouldReplaceTheRecording)
{
    TempDir dir;
    auto r = request(dir, {"A1", "render"}, {{60, 10, 0}, {61, 10, 10}});
    r.recording = r.outputFolder / "render.wav";
    const Bytes original = testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(1000)}});
    testing::writeFile(r.recording, original);
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error().code, ErrorCode::WouldOverwriteSource);
    EXPECT_EQ(folderNames(r.outputFolder), std::vector<std::string>{"render.wav"});
    EXPECT_EQ(testing::readFile(r.recording), original);
}

TEST(WavCutter, RefusesUnsafeKeysoundNamesBeforeWriting)
{
    for (const std::string stem : {"../A1", "a/b", "A\\1", "A:1", "A?", "A*", "A\"", "A<", "A>", "A|", ".", "..", "",
                                   "A\x7F", "\xE9\x9F\xB3"}) {
        SCOPED_TRACE(stem);
        TempDir dir;
        testing::writeFile(dir / "render.wav",
                           testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(100)}}));
        const auto r = request(dir, {"A0", stem}, {{60, 1, 0}, {61, 1, 1}});
        NullProgress quiet;
        const auto report = cutRecording(r, quiet);
        ASSERT_FALSE(report.ok());
        EXPECT_EQ(report.error().code, ErrorCode::InvalidSetting);
        EXPECT_TRUE(folderNames(r.outputFolder).empty());
    }
}

TEST(WavCutter, RefusesPositionsNoWaveFileCanHoldBeforeWritingAnything)
{
    const std::int64_t hugeTick = std::int64_t{1} << 61;
    const struct {
        const char* what;
        Bytes fmt;
        keysound::CutList cuts;
        std::uint32_t tempoMicros;
        const char* says;
    } cases[] = {
        // 50,000 beats at 120 BPM: 25,000 s, 4.41 GB at CD rate, past the 32-bit RIFF sizes. The
        // first keysound fits and must not be written either.
        {"second keysound too long", testing::cdFmt(), {{60, 96, 0}, {61, 96 * 50000, 96}}, 500000, "do not fit"},
        {"tick far past any file", testing::cdFmt(), {{60, 96, 0}, {61, 96, hugeTick}}, 500000, "beyond any"},
        {"slowest tempo and highest byte rate", testing::fmtBody(1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 1, 8),
         {{60, 0, 0}, {61, hugeTick, 0}}, 0xFFFFFFFF, "beyond any"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        testing::writeFile(dir / "render.wav", testing::riffWave({{"fmt ", c.fmt}, {"data", testing::patternBytes(1000)}}));
        auto r = request(dir, {"A1", "A2"}, c.cuts);
        r.tempoMicros = c.tempoMicros;
        NullProgress quiet;
        const auto report = cutRecording(r, quiet);
        ASSERT_FALSE(report.ok());
        EXPECT_EQ(report.error().code, ErrorCode::InvalidSetting);
        EXPECT_NE(report.error().message.find(c.says), std::string::npos) << report.error().message;
        EXPECT_NE(report.error().message.find("A2.wav"), std::string::npos) << report.error().message;
        EXPECT_TRUE(folderNames(r.outputFolder).empty());
    }
}

TEST(WavCutter, RecordingEndingEarlyCutsAndCountsTheKeysoundsPastItsEnd)
{
    TempDir dir;
    // 20,000 bytes at CD rate; ticks 10, 20, 30 lie at bytes 9,188, 18,372 and 27,560.
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(20000)}}));
    const auto r = request(dir, {"A1", "A2", "A3"}, {{60, 10, 0}, {61, 10, 10}, {62, 10, 20}});
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_TRUE(report.ok()) << report.error().message;
    ASSERT_EQ(report->warnings.size(), 1u);
    EXPECT_NE(report->warnings[0].find("before 1 of the 3 keysounds"), std::string::npos) << report->warnings[0];
    const Bytes last = testing::readFile(r.outputFolder / "A3.wav");
    ASSERT_EQ(last.size(), 44u + 9188u);
    EXPECT_EQ(slice(last, 44, 44 + 1628), slice(testing::patternBytes(20000), 18372, 20000));
    EXPECT_TRUE(std::all_of(last.begin() + 44 + 1628, last.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(WavCutter, FailedWriteLeavesNoPartialFile)
{
    TempDir dir;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(100)}}));
    auto r = request(dir, {"A1"}, {{60, 1, 0}});
    r.outputFolder = dir / "missing";
    NullProgress quiet;
    const auto report = cutRecording(r, quiet);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(report.error().message.find("A1.wav"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(r.outputFolder));
}

TEST(WavCutter, ReportsEveryFileAndStopsWhenAsked)
{
    TempDir dir;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(100000)}}));
    const auto r = request(dir, {"A1", "A2", "A3"}, {{60, 10, 0}, {61, 10, 10}, {62, 10, 20}});

    RecordingSink all;
    ASSERT_TRUE(cutRecording(r, all).ok());
    EXPECT_EQ(all.calls, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));

    TempDir other;
    testing::writeFile(other / "render.wav", testing::readFile(dir / "render.wav"));
    const auto stopped = request(other, {"A1", "A2", "A3"}, {{60, 10, 0}, {61, 10, 10}, {62, 10, 20}});
    RecordingSink stopAfterOne(1);
    const auto report = cutRecording(stopped, stopAfterOne);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error().code, ErrorCode::Cancelled);
    // The finished file stays whole; no temporary file is left behind.
    EXPECT_EQ(folderNames(stopped.outputFolder), std::vector<std::string>{"A1.wav"});
}

TEST(WavCutter, NothingToCutIsRefused)
{
    TempDir dir;
    testing::writeFile(dir / "render.wav",
                       testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", testing::patternBytes(100)}}));
    for (const auto& [stems, cuts] : {std::pair<std::vector<std::string>, keysound::CutList>{{}, {}},
                                      {{}, {{60, 96, 0}}},
                                      {{"A1"}, {}}}) {
        SCOPED_TRACE(std::to_string(stems.size()) + " stems, " + std::to_string(cuts.size()) + " cuts");
        const auto r = request(dir, stems, cuts, LeadIn::Auto);
        RecordingSink sink;
        const auto report = cutRecording(r, sink);
        ASSERT_FALSE(report.ok());
        EXPECT_EQ(report.error().code, ErrorCode::EmptyTrack);
        EXPECT_TRUE(folderNames(r.outputFolder).empty());
    }
}

TEST(WavCutter, SameNameTwiceKeepsTheLaterCut)
{
    TempDir dir;
    const Bytes data = testing::patternBytes(400000);
    testing::writeFile(dir / "render.wav", testing::riffWave({{"fmt ", testing::cdFmt()}, {"data", data}}));
    const auto r = request(dir, {"A60-48-100", "A60-48-100"}, {{60, 100, 0}, {60, 96, 100}});
    NullProgress quiet;
    ASSERT_TRUE(cutRecording(r, quiet).ok());
    const Bytes cut = testing::readFile(r.outputFolder / "A60-48-100.wav");
    EXPECT_EQ(slice(cut, 44, cut.size()), slice(data, 91872, 180072));
}

// One sample at `frame` of an otherwise silent recording, 1,000 frames a second; a gap of 192
// ticks at 120 BPM is 1 s, so half a gap is 500 frames in.
Bytes oneSound(const Bytes& fmt, std::size_t frameBytes, std::size_t frame, const Bytes& sample)
{
    Bytes data(frameBytes * 2000, 0);
    if (frameBytes == 1) {
        std::fill(data.begin(), data.end(), 128);
    }
    // The last channel of the frame carries the sound.
    std::copy(sample.begin(), sample.end(), data.begin() + static_cast<std::ptrdiff_t>((frame + 1) * frameBytes - sample.size()));
    return testing::riffWave({{"fmt ", fmt}, {"data", data}});
}

Bytes floatBytes(float value)
{
    Bytes out(4);
    std::memcpy(out.data(), &value, 4);
    return out;
}

Bytes doubleBytes(double value)
{
    Bytes out(8);
    std::memcpy(out.data(), &value, 8);
    return out;
}

TEST(WavCutter, AutoLeadInTellsFromTheFirstSoundAtEachSampleWidth)
{
    using testing::bytes;
    using testing::fmtBody;
    const struct {
        const char* name;
        Bytes fmt;
        std::size_t frameBytes;
        Bytes quiet;  // just under 0.001 of full scale
        Bytes loud;   // just at it
    } cases[] = {
        {"8-bit", fmtBody(1, 1, 1000, 1000, 1, 8), 1, bytes({128}), bytes({127})},
        {"16-bit", fmtBody(1, 2, 1000, 4000, 4, 16), 4, bytes({0xE0, 0xFF}), bytes({0xDF, 0xFF})},  // -32, -33
        {"24-bit", fmtBody(1, 1, 1000, 3000, 3, 24), 3, bytes({0xC4, 0x20, 0x00}), bytes({0xC5, 0x20, 0x00})},
        {"32-bit", fmtBody(1, 1, 1000, 4000, 4, 32), 4, bytes({0x9B, 0xC4, 0x20, 0x00}),
         bytes({0x9C, 0xC4, 0x20, 0x00})},  // 2,147,483 and 2,147,484
        {"float", fmtBody(3, 2, 1000, 8000, 8, 32), 8, floatBytes(0.00099f), floatBytes(-0.0011f)},
        {"double", fmtBody(3, 1, 1000, 8000, 8, 64), 8, doubleBytes(0.000999), doubleBytes(0.001)},
        {"extensible 16-bit", testing::extensibleFmtBody(1, 1, 1000, 16), 2, bytes({32, 0}), bytes({33, 0})},
    };
    for (const auto& c : cases) {
        const struct {
            const char* what;
            std::size_t frame;
            bool loud;
            LeadIn expected;
        } placements[] = {
            {"sound at half a gap", 500, true, LeadIn::FileStart},
            {"sound just before half a gap", 499, true, LeadIn::FirstNote},
            {"quiet sample only", 1500, false, LeadIn::Auto},  // no sound at all: refused
        };
        for (const auto& p : placements) {
            SCOPED_TRACE(std::string(c.name) + ", " + p.what);
            TempDir dir;
            testing::writeFile(dir / "render.wav", oneSound(c.fmt, c.frameBytes, p.frame, p.loud ? c.loud : c.quiet));
            auto r = request(dir, {"A1"}, {{60, 10, 0}}, LeadIn::Auto);
            r.gapTicks = 192;
            NullProgress quiet;
            const auto report = cutRecording(r, quiet);
            if (!p.loud) {
                ASSERT_FALSE(report.ok());
                EXPECT_EQ(report.error().code, ErrorCode::SilentRecording);
                EXPECT_TRUE(folderNames(r.outputFolder).empty());
                continue;
            }
            ASSERT_TRUE(report.ok()) << report.error().message;
            EXPECT_EQ(report->leadInUsed, p.expected);
        }
    }
}

TEST(WavCutter, AutoLeadInEdgeCases)
{
    TempDir dir;
    // 12-bit samples in 2-byte frames are no sample width a WAV file holds: refused.
    testing::writeFile(dir / "odd.wav",
                       oneSound(testing::fmtBody(1, 1, 1000, 2000, 2, 12), 2, 600, testing::bytes({0x00, 0x40})));
    auto r = request(dir, {"A1"}, {{60, 10, 0}}, LeadIn::Auto);
    r.recording = dir / "odd.wav";
    r.gapTicks = 96;
    NullProgress quiet;
    auto report = cutRecording(r, quiet);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error().code, ErrorCode::NotPcmWave);

    // A gap of 0 reports file start whatever the sound: here the sound starts at once.
    testing::writeFile(dir / "early.wav",
                       oneSound(testing::fmtBody(1, 1, 1000, 2000, 2, 16), 2, 0, testing::bytes({0x00, 0x40})));
    r.recording = dir / "early.wav";
    r.gapTicks = 0;
    report = cutRecording(r, quiet);
    ASSERT_TRUE(report.ok());
    EXPECT_EQ(report->leadInUsed, LeadIn::FileStart);

    // A sound past the end of the data chunk's size field does not count: silent, so refused.
    Bytes data(4000, 0);
    Bytes trailing(200, 0x7F);
    testing::writeFile(dir / "short.wav",
                       testing::riffWave({{"fmt ", testing::fmtBody(1, 1, 1000, 2000, 2, 16)},
                                          {"data", data},
                                          {"LIST", trailing}}));
    r.recording = dir / "short.wav";
    r.gapTicks = 96;
    report = cutRecording(r, quiet);
    ASSERT_FALSE(report.ok());
    EXPECT_EQ(report.error().code, ErrorCode::SilentRecording);
}

}  // namespace
}  // namespace zentrowe::keysound

namespace zentrowe::keysound {
namespace {

TEST(WavCutter, EveryPrefixOfARecordingCutsOrIsRefused)
{
    Bytes fact;
    testing::appendU32le(fact, 50);
    const Bytes whole = testing::riffWave({{"JUNK", Bytes(5, 0)},
                                           {"fmt ", testing::fmtBody(1, 1, 1000, 2000, 2, 16)},
                                           {"fact", fact},
                                           {"data", testing::patternBytes(100)},
                                           {"LIST", Bytes(7, 0x33)}});
    const std::size_t dataTag = 12 + 8 + 6 + 8 + 16 + 8 + 4;
    const std::size_t cutTag = dataTag - (8 + 6);  // the JUNK chunk is left out of the cut
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        TempDir dir;
        testing::writeFile(dir / "render.wav", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
        const auto r = request(dir, {"A1"}, {{60, 96, 0}}, LeadIn::Auto);
        NullProgress quiet;
        const auto report = cutRecording(r, quiet);
        if (length < dataTag + 8) {
            // The "data" chunk's header is not all there.
            ASSERT_FALSE(report.ok());
            EXPECT_EQ(report.error().code, ErrorCode::NotPcmWave);
            continue;
        }
        if (length < dataTag + 8 + 2) {
            // No whole frame, so no sound: refused rather than cut into silence.
            ASSERT_FALSE(report.ok());
            EXPECT_EQ(report.error().code, ErrorCode::SilentRecording);
            continue;
        }
        ASSERT_TRUE(report.ok()) << report.error().message;
        // 0.5 s at 2,000 bytes a second, whatever the file still holds; the rest is zeros.
        const Bytes cut = testing::readFile(r.outputFolder / "A1.wav");
        ASSERT_EQ(cut.size(), cutTag + 8 + 1000);
        EXPECT_EQ(testing::u32leAt(cut, cutTag + 4), 1000u);
        const std::size_t kept = std::min<std::size_t>(length - (dataTag + 8), 100);
        EXPECT_EQ(slice(cut, cutTag + 8, cutTag + 8 + kept), slice(whole, dataTag + 8, dataTag + 8 + kept));
        EXPECT_TRUE(std::all_of(cut.begin() + static_cast<std::ptrdiff_t>(cutTag + 8 + kept), cut.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

}  // namespace
}  // namespace zentrowe::keysound
