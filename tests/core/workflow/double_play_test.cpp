#include "core/workflow/double_play_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "core/chart/chart_file.h"
#include "core/workflow/build.h"
#include "support/build_request.h"
#include "support/fake_renderer.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

constexpr std::int64_t kBarTicks = 1920;  // 480 ticks a quarter; at 120 BPM a bar is 2 s
constexpr int kBars = 8;
// The tune plays notes from 72 up, every other part below: a keysound's file name ("A72-...")
// tells which side its note belongs on.
constexpr int kLowestTuneNote = 72;

std::vector<TimedEvent> inTimeOrder(std::vector<TimedEvent> events)
{
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent& a, const TimedEvent& b) {
        const bool aOn = (a.status & 0xF0) == 0x90;
        const bool bOn = (b.status & 0xF0) == 0x90;
        return a.time != b.time ? a.time < b.time : (!aOn && bOn);
    });
    return events;
}

// Notes of `length` ticks every `step` ticks over the song, cycling through `notes`.
void addNotes(std::vector<TimedEvent>& events, std::vector<int> notes, std::int64_t step, std::int64_t length,
              int channel, int velocity = 100)
{
    std::size_t k = 0;
    for (std::int64_t at = 0; at < kBars * kBarTicks; at += step, ++k) {
        const int note = notes[k % notes.size()];
        events.push_back(on(at, note, velocity, channel));
        events.push_back(off(at + length, note, channel));
    }
}

// Chords of three notes, struck together.
void addChords(std::vector<TimedEvent>& events, std::int64_t step, int channel)
{
    const std::vector<std::vector<int>> chords = {{48, 52, 55}, {53, 57, 60}, {55, 59, 62}};
    std::size_t k = 0;
    for (std::int64_t at = 0; at < kBars * kBarTicks; at += step, ++k) {
        for (const int note : chords[k % chords.size()]) {
            events.push_back(on(at, note, 90, channel));
            events.push_back(off(at + step - 60, note, channel));
        }
    }
}

std::vector<TimedEvent> tune()
{
    std::vector<TimedEvent> events;
    addNotes(events, {72, 74, 76, 77, 79, 77, 76, 74}, 480, 400, 0);
    return events;
}

struct Song {
    const char* name;
    Bytes bytes;
    int trackNumber = 1;
    int channel = 0;  // of the chosen part, 1 to 16; 0: the whole track
    std::int64_t notes = 0;
};

// The tune in bars 0-1 and 6-7 only, a melody of another track in the bars between: following
// the music, the first side would take every note the second side has.
Bytes restingTuneSong()
{
    std::vector<TimedEvent> tuneEvents;
    std::vector<TimedEvent> fill;
    for (int bar = 0; bar < kBars; ++bar) {
        const bool rest = bar >= 2 && bar <= 5;
        for (int step = 0; step < (rest ? 8 : 4); ++step) {
            const std::int64_t at = bar * kBarTicks + step * (rest ? 240 : 480);
            const int note = rest ? 60 + step % 4 * 2 : 72 + step * 2;
            auto& events = rest ? fill : tuneEvents;
            events.push_back(on(at, note, 100, rest ? 1 : 0));
            events.push_back(off(at + (rest ? 200 : 400), note, rest ? 1 : 0));
        }
    }
    return midiFile(1, 480, {eventTrack(tuneEvents), eventTrack(fill, 0)});
}

std::vector<Song> songs()
{
    std::vector<TimedEvent> chords;
    addChords(chords, 960, 1);
    std::vector<TimedEvent> bass;
    addNotes(bass, {36, 43, 40, 43}, 480, 440, 2);
    std::vector<TimedEvent> drums;
    addNotes(drums, {36, 42, 38, 42}, 240, 100, 9, 110);
    auto both = tune();
    both.insert(both.end(), bass.begin(), bass.end());
    // quarters of the tune: 4 a bar; chords 2 a bar of 3; bass 4 a bar; drums 8 a bar.
    return {
        {"tune and chords", midiFile(1, 480, {eventTrack(tune()), eventTrack(inTimeOrder(chords), 0)}), 1, 0,
         kBars * (4 + 6)},
        {"tune, bass and drums",
         midiFile(1, 480, {eventTrack(tune()), eventTrack(inTimeOrder(bass), 0), eventTrack(inTimeOrder(drums), 0)}), 1,
         0, kBars * (4 + 4 + 8)},
        {"the tune a channel of a track that also plays the bass", midiFile(1, 480, {eventTrack(inTimeOrder(both))}), 1,
         1, kBars * (4 + 4)},
        {"the other part plays only where the tune rests", restingTuneSong(), 1, 0, 4 * 4 + 4 * 8},
    };
}

// What each difficulty allows one side, as its caps are documented: notes at once, and the
// closest repeat on one key in seconds.
struct SideCaps {
    char letter;
    int notesAtOnce;
    double repeatSeconds;
};
constexpr SideCaps kCaps[] = {{'N', 2, 0.25}, {'H', 3, 0.125}, {'A', 4, 0.06}, {'X', 1000, 0.06}};

const SideCaps& capsOf(const std::string& fileName)
{
    for (const auto& caps : kCaps) {
        if (fileName.find(std::string("_") + caps.letter + "_DP.") != std::string::npos) {
            return caps;
        }
    }
    ADD_FAILURE() << fileName << " names no difficulty of the set";
    return kCaps[0];
}

int noteOfName(const std::string& name)
{
    return std::atoi(name.c_str() + 1);  // "A72-..."
}

// Checks one side's lane notes against the caps: notes struck at one moment, and repeats on a key.
void expectSideKeepsItsCaps(const std::vector<chart::ChartObject>& side, const SideCaps& caps)
{
    std::map<long long, int> atOnce;
    std::map<int, double> lastOnLane;
    for (const auto& object : side) {
        const auto moment = std::llround(object.seconds * 1000);
        EXPECT_LE(++atOnce[moment], caps.notesAtOnce) << "at " << object.seconds << " s";
        if (const auto last = lastOnLane.find(object.lane); last != lastOnLane.end()) {
            EXPECT_GE(object.seconds - last->second, caps.repeatSeconds - 1e-6)
                << "lane " << int{object.lane} << " at " << object.seconds << " s";
        }
        lastOnLane[object.lane] = object.seconds;
    }
}

// (time in microseconds, file) of every sound of a chart, sorted: what a player hears.
std::vector<std::pair<long long, std::string>> heard(const chart::TimedChart& chart)
{
    std::vector<std::pair<long long, std::string>> sounds;
    for (const auto& object : chart.objects) {
        if (object.kind != chart::ObjectKind::LongNoteEnd) {
            sounds.emplace_back(std::llround(object.seconds * 1e6), chart.keysoundNames[object.code]);
        }
    }
    std::sort(sounds.begin(), sounds.end());
    return sounds;
}

class DoublePlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder per test: ctest runs tests side by side.
        m_dir = std::filesystem::path(::testing::TempDir()) /
                (std::string("double_play_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    workflow::BuildRequest request(const Bytes& song, const std::string& name) const
    {
        auto made = wavBuildRequest(song, m_dir / (name + ".mid"), m_dir / name);
        made.bgm = workflow::BgmMode::Keysounds;
        made.loudness = std::nullopt;
        made.charts.play = chartset::Play::Double;
        return made;
    }

    std::filesystem::path m_dir;
};

TEST_F(DoublePlay, TheTuneIsOnTheFirstSideTheOtherPartsOnTheSecondAndEveryNoteSoundsOnce)
{
    int songNumber = 0;
    for (const Song& song : songs()) {
        SCOPED_TRACE(song.name);
        auto asked = request(song.bytes, "song" + std::to_string(++songNumber));
        asked.conversion.trackNumber = song.trackNumber;
        asked.conversion.channel = song.channel;
        workflow::BuildServices services;
        services.renderers = fakeRenderers();
        NullProgress quiet;
        const auto outcome = workflow::runBuild(asked, quiet, services);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        EXPECT_FALSE(outcome->singlePlay);
        ASSERT_GE(outcome->charts.size(), 3u);
        std::vector<std::pair<long long, std::string>> firstHeard;
        for (const auto& built : outcome->charts) {
            const std::string fileName = built.path.filename().string();
            SCOPED_TRACE(fileName);
            EXPECT_NE(readText(built.path).find("#PLAYER 3\r\n"), std::string::npos);
            const auto chart = chart::readChartFile(built.path);
            ASSERT_TRUE(chart.ok()) << chart.error().message;
            std::vector<chart::ChartObject> first;
            std::vector<chart::ChartObject> second;
            for (const auto& object : chart->objects) {
                if (object.kind == chart::ObjectKind::Background || object.kind == chart::ObjectKind::LongNoteEnd) {
                    continue;
                }
                const bool onFirst = object.lane >= 11 && object.lane <= 19;
                ASSERT_TRUE(onFirst || (object.lane >= 21 && object.lane <= 29)) << int{object.lane};
                (onFirst ? first : second).push_back(object);
                const int note = noteOfName(chart->keysoundNames[object.code]);
                EXPECT_EQ(note >= kLowestTuneNote, onFirst) << "note " << note << " at " << object.seconds << " s";
            }
            EXPECT_FALSE(first.empty());
            EXPECT_FALSE(second.empty());
            expectSideKeepsItsCaps(first, capsOf(fileName));
            expectSideKeepsItsCaps(second, capsOf(fileName));
            const auto sounds = heard(*chart);
            EXPECT_EQ(static_cast<std::int64_t>(sounds.size()), song.notes) << "every note of the song once";
            if (firstHeard.empty()) {
                firstHeard = sounds;
            }
            EXPECT_EQ(sounds, firstHeard) << "every sound at one moment in every chart";
        }
        for (std::size_t k = 1; k < outcome->charts.size(); ++k) {
            EXPECT_GT(outcome->charts[k].report.level, outcome->charts[k - 1].report.level);
        }
    }
}

TEST_F(DoublePlay, ASongOfOnlyTheChosenPartsGetsSinglePlayChartsAndSaysSo)
{
    const Bytes song = midiFile(1, 480, {eventTrack(tune())});
    auto asked = request(song, "alone");
    workflow::BuildServices services;
    services.renderers = fakeRenderers();
    NullProgress quiet;
    const auto outcome = workflow::runBuild(asked, quiet, services);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    ASSERT_TRUE(outcome->singlePlay);
    EXPECT_EQ(*outcome->singlePlay, workflow::SinglePlayReason::OnePart);
    const auto said = std::count_if(outcome->findings.begin(), outcome->findings.end(), [](const auto& finding) {
        return finding.code == workflow::FindingCode::SinglePlayMade;
    });
    EXPECT_EQ(said, 1) << "one warning for the whole set";
    ASSERT_FALSE(outcome->charts.empty());
    for (const auto& built : outcome->charts) {
        SCOPED_TRACE(built.path.filename().string());
        EXPECT_EQ(built.path.filename().string().find("_DP"), std::string::npos);
        EXPECT_NE(readText(built.path).find("#PLAYER 1\r\n"), std::string::npos);
        const auto chart = chart::readChartFile(built.path);
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        for (const auto& object : chart->objects) {
            EXPECT_FALSE(object.lane >= 21 && object.lane <= 29) << "no second side in a single-play chart";
        }
    }
}

TEST_F(DoublePlay, SettingsTheSecondSideCannotTakeNotesUnderMakeSinglePlay)
{
    std::vector<TimedEvent> bass;
    addNotes(bass, {36, 43}, 480, 440, 2);
    const Bytes song = midiFile(1, 480, {eventTrack(tune()), eventTrack(inTimeOrder(bass), 0)});
    struct Case {
        const char* name;
        void (*change)(workflow::BuildRequest&);
        std::optional<workflow::SinglePlayReason> reason;
        std::size_t tuneParts;
    };
    using Reason = workflow::SinglePlayReason;
    const Case cases[] = {
        {"double play", [](workflow::BuildRequest&) {}, std::nullopt, 1},
        {"single play asked", [](workflow::BuildRequest& r) { r.charts.play = chartset::Play::Single; }, std::nullopt,
         0},
        {"BGM slices", [](workflow::BuildRequest& r) { r.bgm = workflow::BgmMode::Slices; }, Reason::BgmNotKeysounds,
         0},
        {"no BGM", [](workflow::BuildRequest& r) { r.bgm = workflow::BgmMode::None; }, Reason::BgmNotKeysounds, 0},
        {"percussion mode", [](workflow::BuildRequest& r) { r.conversion.settings.percussion = true; },
         Reason::Percussion, 0},
        {"convert's lanes", [](workflow::BuildRequest& r) { r.charts.lanes = chartset::LaneRule::Seed; },
         Reason::SeedLanes, 0},
        {"a set per part", [](workflow::BuildRequest& r) { r.charts.setPerPart = true; }, Reason::PartSets, 0},
        {"every part chosen",
         [](workflow::BuildRequest& r) {
             r.conversion.moreParts = {{2, 0}};
         },
         Reason::OnePart, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto asked = request(song, "settings");
        c.change(asked);
        std::optional<workflow::SinglePlayReason> setAside;
        workflow::SongParts parts(song, asked.conversion.song);
        const auto made = workflow::withDoublePlayParts(asked, asked, parts, setAside);
        EXPECT_EQ(parts.noteReads(), 0u) << "the second side is chosen from the rows alone";
        EXPECT_EQ(setAside, c.reason);
        EXPECT_EQ(made.charts.tuneParts, c.tuneParts);
        const bool doublePlay = made.charts.play == chartset::Play::Double;
        EXPECT_EQ(doublePlay, c.tuneParts > 0);
        if (doublePlay) {
            EXPECT_EQ(made.conversion.moreParts, (std::vector<song::TrackPart>{{2, 3}}))
                << "the other track's channel joins the conversion after the tune";
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
