#include "core/chartset/chart_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>

#include "support/build_request.h"
#include "support/fake_renderer.h"
#include "core/chart/chart_file.h"
#include "core/chartset/note_grid.h"
#include "core/workflow/build.h"
#include "core/workflow/build_manifest.h"

namespace zentrowe::testing {
namespace {

using chartset::Difficulty;

workflow::BuildServices toneServices()
{
    workflow::BuildServices services;
    services.renderers = fakeRenderers();
    return services;
}

struct SongNote {
    std::int64_t tick;
    int note;
    int velocity;
};

// 240 BPM at 96 ticks a quarter: a 16th (24 ticks) lasts 1/16 s. Eight seconds of 16ths, 16
// strikes a second, rising and falling over an octave with every fourth step repeated (a jack if
// both stay in one lane), and a five-note chord under each beat: 256 notes, 32 a second.
std::vector<SongNote> denseNotes()
{
    constexpr int kScale[] = {60, 62, 64, 65, 67, 69, 71, 72, 72, 71, 69, 67, 65, 64, 62, 60};
    std::vector<SongNote> notes;
    for (int step = 0; step < 128; ++step) {
        const std::int64_t tick = step * 24;
        const int note = kScale[(step % 4 == 3 ? step - 1 : step) % 16];
        if (step % 4 == 0) {
            for (const int below : {12, 8, 5, 3}) {
                notes.push_back({tick, note - below, 80});
            }
        }
        notes.push_back({tick, note, step % 4 == 0 ? 110 : 90});
    }
    return notes;
}

Bytes songOf(const std::vector<SongNote>& notes)
{
    // Each note ends 24 ticks after it starts; ends at a tick go before the starts there.
    std::vector<TimedEvent> all;
    std::size_t next = 0;
    std::vector<SongNote> sounding;
    for (std::int64_t tick = 0; tick <= notes.back().tick + 24; tick += 24) {
        for (const auto& note : sounding) {
            all.push_back(off(tick, note.note));
        }
        sounding.clear();
        while (next < notes.size() && notes[next].tick == tick) {
            all.push_back(on(tick, notes[next].note, notes[next].velocity));
            sounding.push_back(notes[next++]);
        }
    }
    return oneTrackSong(all, 96, 250000);
}

// What a player hears of a chart: each sounding object's time (in microseconds) and file.
using Heard = std::vector<std::pair<std::int64_t, std::string>>;

struct ReadChart {
    Heard heard;                                     // lanes and background together
    std::vector<std::pair<double, int>> laneNotes;  // time and lane
    std::string text;
};

// The chart as heard `seconds` later (a built chart's lead-in put before a converted one), its
// lane notes' times to the microsecond, as the two charts time them along other paths.
ReadChart later(ReadChart chart, double seconds)
{
    for (auto& [micros, name] : chart.heard) {
        micros += std::llround(seconds * 1e6);
    }
    for (auto& [at, lane] : chart.laneNotes) {
        at = static_cast<double>(std::llround((at + seconds) * 1e6)) / 1e6;
    }
    return chart;
}

// True if the two lists hold the same things at the same times, to `micros` microseconds: a
// build writes each tempo exactly where convert rounds it to two decimals, and the times part.
template <typename Thing>
::testing::AssertionResult sameWithin(const std::vector<std::pair<Thing, std::string>>& a,
                                      const std::vector<std::pair<Thing, std::string>>& b, double micros)
{
    if (a.size() != b.size()) {
        return ::testing::AssertionFailure() << a.size() << " against " << b.size();
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].second != b[k].second || std::fabs(static_cast<double>(a[k].first - b[k].first)) > micros) {
            return ::testing::AssertionFailure() << "at " << k << ": " << a[k].first << " " << a[k].second << " against "
                                                 << b[k].first << " " << b[k].second;
        }
    }
    return ::testing::AssertionSuccess();
}

ReadChart readChart(const std::filesystem::path& path)
{
    ReadChart out;
    out.text = readText(path);
    const auto chart = chart::readChartFile(path);
    EXPECT_TRUE(chart.ok()) << path;
    if (!chart.ok()) {
        return out;
    }
    for (const auto& object : chart->objects) {
        if (object.kind == chart::ObjectKind::LongNoteEnd) {
            continue;
        }
        const std::string& name = chart->keysoundNames[object.code];
        if (name.rfind("bgm", 0) == 0) {
            continue;
        }
        out.heard.emplace_back(std::llround(object.seconds * 1e6), name);
        if (object.kind != chart::ObjectKind::Background) {
            out.laneNotes.emplace_back(object.seconds, object.lane);
        }
    }
    std::sort(out.heard.begin(), out.heard.end());
    return out;
}

int headerNumber(const std::string& text, const std::string& command)
{
    std::smatch match;
    const std::regex line("#" + command + " ([0-9]+)\r\n");
    return std::regex_search(text, match, line) ? std::stoi(match[1]) : -1;
}

class ChartSet : public ::testing::Test {
protected:
    workflow::BuildRequest request(const Bytes& song, const std::filesystem::path& source)
    {
        return wavBuildRequest(song, source, m_dir / "out");
    }

    TempDir m_dir;
    NullProgress m_quiet;
};

TEST_F(ChartSet, EachDifficultyKeepsItsCapsAndEveryChartPlaysTheWholeTrack)
{
    const auto notes = denseNotes();
    // The track heard: every note at its time, as a keysound file "A<note>-12-<velocity>.wav"
    // (a 16th is 12 of 192 slots).
    Heard track;
    for (const auto& note : notes) {
        track.emplace_back(note.tick * 1'000'000 / 16 / 24,
                           "A" + std::to_string(note.note) + "-12-" + std::to_string(note.velocity) + ".wav");
    }
    std::sort(track.begin(), track.end());
    constexpr double kPlayingSeconds = 8.0;

    struct Cap {
        Difficulty difficulty;
        const char* file;
        int atOnce;          // 0: any
        double perSecond;    // 0: any
        bool jacks;          // same-lane repeats a 16th apart allowed
        const char* subtitle;
    };
    const std::vector<Cap> caps = {
        {Difficulty::Beginner, "song_B", 1, 2, false, "[BEGINNER]"},
        {Difficulty::Normal, "song_N", 2, 4, false, "[NORMAL]"},
        {Difficulty::Hyper, "song_H", 3, 7, false, "[HYPER]"},
        {Difficulty::Another, "song_A", 4, 10, true, "[ANOTHER]"},
        {Difficulty::Insane, "song_X", 0, 20, true, "[INSANE]"},
    };
    for (const bool bmson : {false, true}) {
        SCOPED_TRACE(bmson ? "bmson" : "BMS");
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(songOf(notes), m_dir / "song.mid");
        req.conversion.settings.bmson = bmson;
        for (const auto& cap : caps) {
            req.charts.difficulties.push_back(cap.difficulty);
        }
        const auto outcome = workflow::runBuild(req, m_quiet, toneServices());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_EQ(outcome->charts.size(), caps.size());

        int lastLevel = 0;
        std::size_t lastLaneNotes = 0;
        for (std::size_t k = 0; k < caps.size(); ++k) {
            const auto& cap = caps[k];
            SCOPED_TRACE(cap.file);
            const auto path = m_dir / "out" / (std::string(cap.file) + (bmson ? ".bmson" : ".bms"));
            EXPECT_EQ(outcome->charts[k].path, path);
            const ReadChart chart = readChart(path);
            // Lanes and background together: every note of the track at its place, with its sound,
            // after the lead-in: at 240 BPM a measure is 1 s, and two make the least 1.5 s.
            EXPECT_EQ(outcome->leadInMeasures, 2);
            EXPECT_EQ(later(chart, -2).heard, track);

            std::map<double, int> atOnce;
            std::map<int, double> lastInLane;
            int jacks = 0;
            for (const auto& [seconds, lane] : chart.laneNotes) {
                ++atOnce[seconds];
                const auto last = lastInLane.find(lane);
                if (last != lastInLane.end() && seconds - last->second < 0.1) {
                    ++jacks;
                }
                lastInLane[lane] = seconds;
            }
            const int largest = std::max_element(atOnce.begin(), atOnce.end(), [](auto& a, auto& b) {
                                    return a.second < b.second;
                                })->second;
            if (cap.atOnce > 0) {
                EXPECT_LE(largest, cap.atOnce);
            }
            if (cap.perSecond > 0) {
                EXPECT_LE(static_cast<double>(chart.laneNotes.size()) / kPlayingSeconds, cap.perSecond);
            }
            if (!cap.jacks) {
                EXPECT_EQ(jacks, 0);
            }
            EXPECT_GT(chart.laneNotes.size(), lastLaneNotes);
            lastLaneNotes = chart.laneNotes.size();
            EXPECT_EQ(outcome->charts[k].report.notes, static_cast<std::int64_t>(chart.laneNotes.size()));
            EXPECT_EQ(outcome->charts[k].report.backgroundNotes,
                      static_cast<std::int64_t>(notes.size() - chart.laneNotes.size()));
            EXPECT_EQ(outcome->charts[k].report.largestChord, largest);

            if (!bmson) {
                const int level = headerNumber(chart.text, "PLAYLEVEL");
                EXPECT_GT(level, lastLevel);
                lastLevel = level;
                EXPECT_EQ(headerNumber(chart.text, "DIFFICULTY"), static_cast<int>(k) + 1);
                EXPECT_EQ(headerNumber(chart.text, "RANK"), 2);
                EXPECT_GE(headerNumber(chart.text, "TOTAL"), 160);
                EXPECT_NE(chart.text.find(std::string("#SUBTITLE ") + cap.subtitle + "\r\n"), std::string::npos);
            }
        }
        // The insane chart plays 20 notes a second: nearly all of them find a lane.
        EXPECT_GE(static_cast<double>(lastLaneNotes), 0.9 * 20 * kPlayingSeconds);
    }
}

// Quantizing is worth advising only where it keeps the notes in time: eighths at 240 BPM played
// 31 to 35 ticks late at 960 a quarter (8.1 to 9.1 ms, 8.59 ms on average; off every grid by more
// than an eighth of its step) move to any grid unheard; at 60 BPM and 96 a quarter, 5 to 9 ticks
// late (52 to 94 ms) they would be heard out of time.
TEST_F(ChartSet, QuantizingIsAdvisedOnlyWhereItKeepsTheNotesInTime)
{
    struct Case {
        const char* name;
        std::uint16_t division;
        std::uint32_t tempoMicros;
        int lateBase;
        int lateStep;
        double meanShiftSeconds;  // to the 16ths
        std::vector<std::uint32_t> advised;
    };
    // Late by lateBase + lateStep * ((i * 7) % 5) ticks: the steps average 127 / 64.
    const std::vector<Case> cases{
        {"a few milliseconds off", 960, 250000, 31, 1, (31 + 127.0 / 64) * 250000e-6 / 960, {16, 24, 32}},
        {"tens of milliseconds off", 96, 1000000, 5, 1, (5 + 127.0 / 64) * 1000000e-6 / 96, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TimedEvent> events;
        for (int i = 0; i < 64; ++i) {
            const std::int64_t at = i * (c.division / 2) + c.lateBase + c.lateStep * ((i * 7) % 5);
            events.push_back(on(at, 60 + (i * 5) % 12, 90));
            events.push_back(off(at + c.division / 4, 60 + (i * 5) % 12));
        }
        std::filesystem::remove_all(m_dir / "out");
        const auto outcome = workflow::runBuild(
            request(oneTrackSong(events, c.division, c.tempoMicros), m_dir / "song.mid"), m_quiet, toneServices());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const auto& grid = outcome->charts.front().report.grid;
        EXPECT_TRUE(grid.performance);
        EXPECT_NEAR(grid.meanShiftSeconds[0], c.meanShiftSeconds, 1e-6);
        EXPECT_EQ(chartset::advisedQuantizeGrids(grid), c.advised);
    }
}

TEST_F(ChartSet, APlayedInTrackIsToldAndMovesToTheGridWithItsKeysounds)
{
    // 240 BPM, 96 ticks a quarter: a 16th is 24 ticks, 62.5 ms. Eighths played 5 to 9 ticks late,
    // off every grid; the same written on the beat.
    const auto song = [](int late) {
        std::vector<TimedEvent> events;
        for (int i = 0; i < 64; ++i) {
            const std::int64_t at = i * 48 + (late > 0 ? late + (i * 7) % 5 : 0);
            events.push_back(on(at, 60 + (i * 5) % 12, 90));
            events.push_back(off(at + 30, 60 + (i * 5) % 12));
        }
        return oneTrackSong(events, 96, 250000);
    };
    struct Case {
        const char* name;
        int late;
        std::uint32_t quantize;
        bool performance;
        bool onGrid;
    };
    const std::vector<Case> cases{{"written on the beat", 0, 0, false, true},
                                  {"played in, as played", 5, 0, true, false},
                                  {"played in, quantized to 16ths", 5, 16, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(song(c.late), m_dir / "song.mid");
        req.charts.quantizeGrid = c.quantize;
        const auto outcome = workflow::runBuild(req, m_quiet, toneServices());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        for (const auto& built : outcome->charts) {
            EXPECT_EQ(built.report.grid.performance, c.performance);
            const ReadChart chart = readChart(built.path);
            EXPECT_EQ(chart.heard.size(), 64u) << "every note sounds once, lane or background";
            const bool onGrid = std::all_of(chart.heard.begin(), chart.heard.end(),
                                            [](const auto& heard) { return heard.first % 62500 == 0; });
            EXPECT_EQ(onGrid, c.onGrid);
        }
    }
}

TEST_F(ChartSet, SeedLanesAreConvertsLanesAndTheDemoIsTitledAfterItsSequenceName)
{
    const auto demo = std::filesystem::path(ZENTROWE_TEST_DATA) / ".." / ".." / "data" / "demo" / "ode-to-joy.mid";
    const Bytes song = readFile(demo);
    auto req = request(song, m_dir / "ode-to-joy.mid");
    req.conversion.trackNumber = 2;
    req.charts.lanes = chartset::LaneRule::Seed;
    req.charts.difficulties = {Difficulty::Normal, Difficulty::Insane};
    req.charts.genre = "Classical";
    const auto outcome = workflow::runBuild(req, m_quiet, toneServices());
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;

    auto convert = req.conversion;
    convert.outputFolder = m_dir / "converted";
    ASSERT_TRUE(workflow::runConversion(convert, m_quiet).ok());
    const ReadChart converted = readChart(m_dir / "converted" / "ode-to-joy.bms");
    const ReadChart insane = readChart(m_dir / "out" / "ode-to-joy_X.bms");
    // The same notes one measure (2 s at 120 BPM) later, after the lead-in.
    ASSERT_EQ(outcome->leadInMeasures, 1);
    std::vector<std::pair<std::int64_t, std::string>> insaneLanes;
    std::vector<std::pair<std::int64_t, std::string>> convertedLanes;
    for (const auto& [at, lane] : insane.laneNotes) {
        insaneLanes.emplace_back(std::llround(at * 1e6), std::to_string(lane));
    }
    for (const auto& [at, lane] : converted.laneNotes) {
        convertedLanes.emplace_back(std::llround((at + 2) * 1e6), std::to_string(lane));
    }
    EXPECT_TRUE(sameWithin(insaneLanes, convertedLanes, 50));
    // The build renders each note as long as it lasts in seconds, counted at the one tempo of
    // "K-Midi.mid" (this song's last, 96 BPM): the notes played at its other tempos are told
    // apart by their sounding length ("-s38"), which `convert` does not name; `convert` names its
    // files ".OGG", as the manual path cuts them.
    auto insaneHeard = insane.heard;
    for (auto& [micros, name] : insaneHeard) {
        name = std::regex_replace(name, std::regex("-s[0-9]+"), "");
        name = std::regex_replace(name, std::regex("\\.wav$"), ".OGG");
    }
    EXPECT_TRUE(sameWithin(insaneHeard, later(converted, 2).heard, 50));
    for (const char* name : {"ode-to-joy_N.bms", "ode-to-joy_X.bms"}) {
        SCOPED_TRACE(name);
        const std::string text = readText(m_dir / "out" / name);
        // 欢乐颂 has no Shift_JIS form; its Japanese kanji 歓楽頌 (8A BD 8A 79 E8 F1) has.
        EXPECT_NE(text.find("#TITLE \x8A\xBD\x8A\x79\xE8\xF1\r\n"), std::string::npos);
        EXPECT_NE(text.find("#GENRE Classical\r\n"), std::string::npos);
    }

    // The two charts play the same; one keysound named after another file does not.
    const auto normal = m_dir / "out" / "ode-to-joy_N.bms";
    EXPECT_EQ(chartset::chartsPlayTheSame(normal, m_dir / "out" / "ode-to-joy_X.bms").value(), true);
    std::string text = readText(normal);
    text.replace(text.find("#WAV01 ") + 7, 1, "B");
    writeFile(m_dir / "out" / "changed.bms", std::string_view(text));
    EXPECT_EQ(chartset::chartsPlayTheSame(normal, m_dir / "out" / "changed.bms").value(), false);
    EXPECT_EQ(chartset::chartsPlayTheSame(normal, m_dir / "out" / "none.bms").error().code, ErrorCode::CannotOpen);
}

TEST_F(ChartSet, ASetReplacesTheEarlierChartsOfTheSongAndNothingElse)
{
    const Bytes song = songOf(denseNotes());
    auto req = request(song, m_dir / "song.mid");
    std::filesystem::create_directories(m_dir / "out");
    // An earlier single-chart build of this track, an insane chart the set no longer has, and
    // files no build made, recorded as manifests were before songs had a hash: by absolute path.
    workflow::BuildManifest earlier;
    const std::string source = std::filesystem::absolute(m_dir / "song.mid").lexically_normal().string();
    earlier.builds.push_back({"song.bms", {"old.wav", "K-Midi.mid"}, source, 1, {}, ""});
    earlier.builds.push_back({"song_X.bms", {"old.wav"}, source, 1, {}, ""});
    writeFile(m_dir / "out" / workflow::kBuildManifestFileName, workflow::manifestText(earlier));
    for (const char* name : {"song.bms", "song_X.bms", "old.wav", "mine.txt", "song_Q.bms"}) {
        writeFile(m_dir / "out" / name, std::string_view("earlier"));
    }
    req.charts.difficulties = {Difficulty::Normal, Difficulty::Hyper};
    const auto outcome = workflow::runBuild(req, m_quiet, toneServices());
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    std::vector<std::string> removed;
    for (const auto& path : outcome->removedFiles) {
        removed.push_back(path.filename().string());
    }
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<std::string>{"old.wav", "song.bms", "song_X.bms"}));
    EXPECT_TRUE(std::filesystem::exists(m_dir / "out" / "mine.txt"));
    EXPECT_TRUE(std::filesystem::exists(m_dir / "out" / "song_Q.bms"));
    const auto manifest = workflow::readBuildManifest(m_dir / "out");
    ASSERT_EQ(manifest.builds.size(), 2u);
    EXPECT_EQ(manifest.builds[0].chart, "song_N.bms");
    EXPECT_EQ(manifest.builds[1].chart, "song_H.bms");
    EXPECT_EQ(manifest.builds[0].files, manifest.builds[1].files);

    // A chart of the set built from another track is not replaced unasked.
    auto other = req;
    other.conversion.trackNumber = 2;
    other.charts.difficulties = {Difficulty::Another};
    EXPECT_TRUE(workflow::wouldReplaceAnotherChart(other));
}

TEST_F(ChartSet, InsaneJoinsTheSetOnlyForATrackDenserThanAnother)
{
    // Four quarter notes at 240 BPM, within a second: normal and harder keep them all.
    std::vector<SongNote> calm;
    for (int k = 0; k < 4; ++k) {
        calm.push_back({k * 24 * 4, 60 + 2 * k, 100});
    }
    struct Case {
        const char* name;
        std::vector<SongNote> notes;
        std::vector<Difficulty> asked;
        bool insaneWhenDenser;
        std::vector<std::string> charts;
    };
    const std::vector<Case> cases = {
        {"dense, default set", denseNotes(), {}, false, {"song_N.bms", "song_H.bms", "song_A.bms", "song_X.bms"}},
        {"calm, default set", calm, {}, false, {"song_N.bms", "song_H.bms", "song_A.bms"}},
        {"dense, normal and insane when denser", denseNotes(), {Difficulty::Normal}, true, {"song_N.bms", "song_X.bms"}},
        {"calm, normal and insane when denser", calm, {Difficulty::Normal}, true, {"song_N.bms"}},
        {"dense, normal only", denseNotes(), {Difficulty::Normal}, false, {"song_N.bms"}},
        {"calm, insane asked", calm, {Difficulty::Insane}, true, {"song_X.bms"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto req = request(songOf(c.notes), m_dir / "song.mid");
        req.charts.difficulties = c.asked;
        req.charts.insaneWhenDenser = c.insaneWhenDenser;
        const auto outcome = workflow::runBuild(req, m_quiet, toneServices());
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        std::vector<std::string> charts;
        for (const auto& chart : outcome->charts) {
            charts.push_back(chart.path.filename().string());
        }
        EXPECT_EQ(charts, c.charts);
    }
}

TEST(ChartSetNames, TheSetOwnsTheSingleChartAndEveryLetteredChartOfItsName)
{
    struct Case {
        const char* chart;
        bool owned;
    };
    const std::vector<Case> cases = {
        {"song.bms", true},
        {"song.bmson", true},
        {"song_N.bms", true},
        {"song_X.bmson", true},
        {"song_Q.bms", false},
        {"song_N.txt", false},
        {"songs_N.bms", false},
        {"other.bms", false},
        // A part's set: "song_4_N.bms", a channel's "song_1-2_X.bmson".
        {"song_4_N.bms", true},
        {"song_1-2_X.bmson", true},
        {"song_4_Q.bms", false},
        {"song_x4_N.bms", false},
        {"song__N.bms", false},
        {"song_4_N.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chart);
        EXPECT_EQ(chartset::belongsToChartSet(c.chart, "song.bms"), c.owned);
    }
}

TEST(ChartSetNames, EveryChartOfASetKeepsItsFormatsExtensionWhateverTheSongIsNamed)
{
    // The conversion's chart name is the song's name up to ".mid", plus ".bms": a song named
    // ".mid" gives ".bms", and ".hidden.mid" gives ".hidden.bms".
    struct Case {
        const char* converted;
        const char* normal;
        const char* another;
    };
    const std::vector<Case> cases = {
        {"song.bms", "song_N.bms", "song_A.bms"},
        {"song.bmson", "song_N.bmson", "song_A.bmson"},
        {".bms", "_N.bms", "_A.bms"},
        {".bmson", "_N.bmson", "_A.bmson"},
        {".hidden.bms", ".hidden_N.bms", ".hidden_A.bms"},
        {"a.b.c.bms", "a.b.c_N.bms", "a.b.c_A.bms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.converted);
        EXPECT_EQ(chartset::chartSetFileName(c.converted, chartset::Difficulty::Normal), c.normal);
        EXPECT_EQ(chartset::chartSetFileName(c.converted, chartset::Difficulty::Another), c.another);
        EXPECT_TRUE(chartset::belongsToChartSet(c.normal, c.converted));
        EXPECT_TRUE(chartset::belongsToChartSet(c.another, c.converted));
    }
    EXPECT_FALSE(chartset::belongsToChartSet(".hidden_N.bms", ".bms"));
    EXPECT_FALSE(chartset::belongsToChartSet("_N.bms", ".hidden.bms"));
}

TEST(ChartSetChords, AStrumAtItsTicksIsStruckAsOneChordAndTheBackgroundKeepsItsTicks)
{
    // 480 ticks a quarter note: a 1/192 measure is 10 ticks. A strum over ticks 0, 3 and 7, then
    // a note a quarter later, each on a line of a slot a tick, as a build's conversion places them.
    const Bytes file = oneTrackSong({on(0, 60), off(480, 60)});
    const auto song = summaryOf(file);
    const std::int64_t ticks[] = {0, 3, 7, 480};
    const std::int64_t chordTicks[] = {0, 0, 0, 480};
    convert::KeysoundTable keysounds;
    chart::Chart converted;
    for (std::size_t k = 0; k < 4; ++k) {
        keysounds.findOrAdd(static_cast<std::uint8_t>(60 + 4 * k), 480, 100, ticks[k]);
        const auto code = static_cast<chart::ChartCode>(k + 1);
        converted.keysounds.push_back({code, "A" + std::to_string(k) + ".ogg"});
        converted.addLine(0, 11, 1920);
        converted.addObject(static_cast<std::uint32_t>(ticks[k]), code);
    }
    for (const auto difficulty : chartset::kAllDifficulties) {
        SCOPED_TRACE(chartset::difficultyName(difficulty));
        chartset::ChartSetRequest request;
        request.difficulties = {difficulty};
        const auto set = chartset::makeChartSet(converted, keysounds, song, "song.bms", request, false);
        ASSERT_EQ(set.size(), 1u);
        const auto& chart = set.front().chart;
        std::size_t objects = 0;
        std::size_t inLanes = 0;
        for (const auto& line : chart.lines) {
            for (std::uint32_t k = 0; k < line.objectCount; ++k) {
                const auto& object = chart.objects[line.firstObject + k];
                const std::int64_t tick = std::int64_t{line.measure} * 1920 + object.slot * 1920 / line.slotCount;
                const bool lane = line.channel != chart::kBackgroundChannel;
                EXPECT_EQ(tick, (lane ? chordTicks : ticks)[object.code - 1]) << "code " << object.code;
                ++objects;
                inLanes += lane ? 1 : 0;
            }
        }
        EXPECT_EQ(objects, 4u);
        if (difficulty == Difficulty::Insane) {
            EXPECT_EQ(inLanes, 4u);
            EXPECT_EQ(set.front().report.largestChord, 3);
        }
    }
}

TEST(ChartSetChords, EveryChartOfTheSetStartsEachSoundAtOneMoment)
{
    // 480 ticks a quarter note: a 1/192 measure is 10 ticks. Strums of four notes over ticks 0,
    // 3, 6 and 9, one a beat for two measures: the insane chart strikes each strum as a chord at
    // its first note, the beginner chart one note of it; what the beginner chart leaves to the
    // background sounds where the insane chart strikes it, not at its own tick.
    const Bytes file = oneTrackSong({on(0, 60), off(480, 60)});
    const auto song = summaryOf(file);
    convert::KeysoundTable keysounds;
    chart::Chart converted;
    std::map<chart::ChartCode, std::int64_t> chordTick;
    for (std::int64_t beat = 0; beat < 8; ++beat) {
        for (std::int64_t k = 0; k < 4; ++k) {
            const std::int64_t tick = beat * 480 + 3 * k;
            const auto index = keysounds.findOrAdd(static_cast<std::uint8_t>(60 + 4 * k), 240,
                                                   static_cast<std::uint8_t>(60 + beat), tick);
            ASSERT_TRUE(index.has_value());
            const auto code = static_cast<chart::ChartCode>(*index + 1);
            converted.keysounds.push_back({code, "A" + std::to_string(code) + ".ogg"});
            converted.addLine(static_cast<std::int32_t>(tick / 1920), 11, 1920);
            converted.addObject(static_cast<std::uint32_t>(tick % 1920), code);
            chordTick[code] = beat * 480;
        }
    }
    chartset::ChartSetRequest request;
    request.difficulties = {Difficulty::Beginner, Difficulty::Insane};
    const auto set = chartset::makeChartSet(converted, keysounds, song, "song.bms", request, false);
    ASSERT_EQ(set.size(), 2u);
    std::vector<std::size_t> background;
    for (const auto& made : set) {
        SCOPED_TRACE(made.fileName);
        std::size_t objects = 0;
        background.push_back(0);
        for (const auto& line : made.chart.lines) {
            for (std::uint32_t k = 0; k < line.objectCount; ++k) {
                const auto& object = made.chart.objects[line.firstObject + k];
                const std::int64_t tick = std::int64_t{line.measure} * 1920 + object.slot * 1920 / line.slotCount;
                EXPECT_EQ(tick, chordTick[object.code]) << "code " << object.code;
                ++objects;
                background.back() += line.channel == chart::kBackgroundChannel ? 1 : 0;
            }
        }
        EXPECT_EQ(objects, 32u);
    }
    // The beginner chart strikes one note at once and leaves the others to the background.
    EXPECT_GE(background.front(), 24u);
    EXPECT_EQ(background.back(), 0u);
}

}  // namespace
}  // namespace zentrowe::testing
