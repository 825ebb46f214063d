#include "core/workflow/followed_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "core/chart/chart_file.h"
#include "core/workflow/build.h"
#include "core/workflow/build_manifest.h"
#include "support/build_request.h"
#include "support/fake_renderer.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

constexpr std::int64_t kBarTicks = 1920;  // 480 ticks a quarter; at 120 BPM a bar is 2 s

// Track 1 (the chosen one) strikes quarters of note 72 in bars 0-1 and 6-7 and rests between;
// track 2 plays eighths of notes 67 and 69 on channel 2 throughout, with a channel 3 note.
Bytes restingSong()
{
    std::vector<TimedEvent> lead;
    for (const int bar : {0, 1, 6, 7}) {
        for (int beat = 0; beat < 4; ++beat) {
            const std::int64_t at = bar * kBarTicks + beat * 480;
            lead.push_back(on(at, 72));
            lead.push_back(off(at + 240, 72));
        }
    }
    std::vector<TimedEvent> other;
    for (int eighth = 0; eighth < 64; ++eighth) {
        const std::int64_t at = eighth * 240;
        other.push_back(on(at, eighth % 2 == 0 ? 67 : 69, 100, 1));
        other.push_back(off(at + 120, eighth % 2 == 0 ? 67 : 69, 1));
    }
    other.push_back(on(15360, 48, 100, 2));
    other.push_back(off(15600, 48, 2));
    return midiFile(1, 480, {eventTrack(lead), eventTrack(other, 0)});
}

class FollowedParts : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder per test: ctest runs tests side by side.
        m_dir = std::filesystem::path(::testing::TempDir()) /
                (std::string("followed_parts_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_request = wavBuildRequest(restingSong(), m_dir / "song.mid", m_dir / "out");
        m_request.bgm = workflow::BgmMode::Keysounds;
        m_request.loudness = std::nullopt;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir;
    workflow::BuildRequest m_request;
};

TEST_F(FollowedParts, TheSongsOtherPartsJoinTheChosenOnesOnlyWhenTheLanesCanFollowThem)
{
    const Bytes song = restingSong();
    using Parts = std::vector<song::TrackPart>;
    struct Case {
        const char* name;
        void (*change)(workflow::BuildRequest&);
        Parts moreParts;
        std::size_t chosenParts;
        std::size_t notesRead;  // parts whose notes are weighed: the chosen ones and the others with notes
        bool setAside = false;  // following asked for, but the other settings keep to the chosen parts
    };
    const Case cases[] = {
        {"followed by default: the part that carries the rest, not the one note after it",
         [](workflow::BuildRequest&) {},
         {{2, 2}},
         1,
         3},
        {"--follow off", [](workflow::BuildRequest& r) { r.charts.follow = false; }, {}, 0, 0},
        {"BGM slices", [](workflow::BuildRequest& r) { r.bgm = workflow::BgmMode::Slices; }, {}, 0, 0, true},
        {"no BGM", [](workflow::BuildRequest& r) { r.bgm = workflow::BgmMode::None; }, {}, 0, 0, true},
        {"percussion mode", [](workflow::BuildRequest& r) { r.conversion.settings.percussion = true; }, {}, 0, 0, true},
        {"convert's lanes",
         [](workflow::BuildRequest& r) { r.charts.lanes = chartset::LaneRule::Seed; },
         {},
         0,
         0,
         true},
        {"channel 2 of track 2 chosen too: the chosen parts never rest",
         [](workflow::BuildRequest& r) {
             r.conversion.moreParts = {{2, 2}};
         },
         {{2, 2}},
         0,
         3},
        {"all of the song chosen",
         [](workflow::BuildRequest& r) {
             r.conversion.moreParts = {{2, 0}};
         },
         {{2, 0}},
         0,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = m_request;
        c.change(request);
        workflow::SongParts parts(song, request.conversion.song);
        const auto followed = workflow::withFollowedParts(request, parts);
        EXPECT_EQ(followed.conversion.moreParts, c.moreParts);
        EXPECT_EQ(parts.noteReads(), c.notesRead);
        EXPECT_EQ(followed.charts.chosenParts, c.chosenParts);
        EXPECT_EQ(workflow::followSetAside(request), c.setAside);
    }
}

TEST_F(FollowedParts, ARestIsChartedFromTheOtherPartAndEveryNoteStillSoundsOnce)
{
    workflow::BuildServices services;
    services.renderers = fakeRenderers();
    NullProgress quiet;
    const auto outcome = workflow::runBuild(m_request, quiet, services);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message;
    // The rest runs from the lead's last strike in bar 1 to its return in bar 6; its first
    // part-bar holds one strike of track 2, too few to carry: the lanes take track 2 from bar 2.
    ASSERT_EQ(outcome->followed.size(), 1u);
    EXPECT_EQ(outcome->followed.front().part, (song::TrackPart{2, 2}));
    EXPECT_DOUBLE_EQ(outcome->followed.front().startSeconds, 4.0);
    EXPECT_DOUBLE_EQ(outcome->followed.front().endSeconds, 12.0);
    EXPECT_TRUE(outcome->skipped.empty()) << "the other track's notes are in the charts, not missing";
    const auto manifest = workflow::readBuildManifest(m_dir / "out");
    ASSERT_FALSE(manifest.builds.empty());
    const auto& settings = manifest.builds.front().settings;
    const auto setting = [&](const std::string& name) {
        const auto found =
            std::find_if(settings.begin(), settings.end(), [&](const auto& s) { return s.first == name; });
        return found != settings.end() ? found->second : std::string("(none)");
    };
    EXPECT_EQ(setting("follow"), "on");
    EXPECT_EQ(setting("scratch"), "on");
    EXPECT_EQ(setting("followed"), "2:2 4.0-12.0");
    EXPECT_EQ(setting("parts"), "(none)") << "the chosen track alone is what --track named";
    for (const auto& built : outcome->charts) {
        SCOPED_TRACE(built.path.filename().string());
        const auto chart = chart::readChartFile(built.path);
        ASSERT_TRUE(chart.ok()) << chart.error().message;
        double first = 1e9;
        for (const auto& object : chart->objects) {
            first = std::min(first, object.seconds);
        }
        std::size_t sounding = 0;
        std::set<int> borrowedBars;
        for (const auto& object : chart->objects) {
            const std::string& name = chart->keysoundNames[object.code];
            const double at = object.seconds - first;  // the song's seconds: both tracks start at 0
            const bool lane = object.kind != chart::ObjectKind::Background;
            sounding += object.kind != chart::ObjectKind::LongNoteEnd ? 1 : 0;
            if (lane && name.find("A72") != 0) {
                EXPECT_TRUE(at >= 4.0 - 1e-6 && at < 12.0) << name << " at " << at;
                borrowedBars.insert(static_cast<int>(std::floor(at / 2.0 + 1e-6)));
            }
        }
        EXPECT_EQ(sounding, 16u + 64u + 1u) << "every note of the song once";
        EXPECT_EQ(borrowedBars, (std::set<int>{2, 3, 4, 5})) << "track 2 struck in every bar of the rest";
    }
}

TEST_F(FollowedParts, TheManifestSaysWhichChartsFollowedTheMusic)
{
    using Setting = std::pair<std::string, std::string>;
    struct Case {
        const char* name;
        void (*change)(workflow::BuildRequest&);
        // Per chart's "part" setting ("" for none): its "follow" and "followed" settings.
        std::map<std::string, std::pair<std::string, std::string>> expected;
    };
    const Case cases[] = {
        {"track 1 alone: its rest is charted from track 2",
         [](workflow::BuildRequest&) {},
         {{"", {"on", "2:2 4.0-12.0"}}}},
        // Together the named tracks never rest, yet track 1's own set follows track 2 through
        // track 1's rest; track 2 plays throughout and its set borrows nothing.
        {"a set per part of tracks 1 and 2, double play asked",
         [](workflow::BuildRequest& r) {
             r.conversion.moreParts = {{2, 0}};
             r.charts.setPerPart = true;
             r.charts.play = chartset::Play::Double;
         },
         {{"1", {"on", "2 4.0-12.0"}}, {"2", {"off", "(none)"}}}},
        {"a set per part, --follow off",
         [](workflow::BuildRequest& r) {
             r.conversion.moreParts = {{2, 0}};
             r.charts.setPerPart = true;
             r.charts.follow = false;
         },
         {{"1", {"off", "(none)"}}, {"2", {"off", "(none)"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir / "out");
        auto request = m_request;
        c.change(request);
        workflow::BuildServices services;
        services.renderers = fakeRenderers();
        NullProgress quiet;
        const auto outcome = workflow::runBuild(request, quiet, services);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        const auto manifest = workflow::readBuildManifest(m_dir / "out");
        ASSERT_FALSE(manifest.builds.empty());
        std::set<std::string> seen;
        for (const auto& record : manifest.builds) {
            SCOPED_TRACE(record.chart);
            const auto setting = [&](const std::string& name) {
                const auto found = std::find_if(record.settings.begin(), record.settings.end(),
                                                [&](const Setting& s) { return s.first == name; });
                return found != record.settings.end() ? found->second : std::string("(none)");
            };
            const std::string part = setting("part") == "(none)" ? "" : setting("part");
            seen.insert(part);
            ASSERT_TRUE(c.expected.contains(part)) << part;
            EXPECT_EQ(setting("follow"), c.expected.at(part).first);
            EXPECT_EQ(setting("followed"), c.expected.at(part).second);
        }
        EXPECT_EQ(seen.size(), c.expected.size());
    }
}

}  // namespace
}  // namespace zentrowe::testing
