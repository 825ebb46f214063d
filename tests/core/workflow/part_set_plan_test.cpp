#include "core/workflow/part_set_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "core/chart/chart_file.h"
#include "core/workflow/build.h"
#include "support/build_request.h"
#include "support/fake_renderer.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

// A track chunk's body named `name` (a Sequence/Track Name meta event first).
Bytes namedTrack(const std::string& name, const std::vector<TimedEvent>& events, std::uint32_t tempoMicros = 0)
{
    Bytes out = {0x00, 0xFF, 0x03, static_cast<std::uint8_t>(name.size())};
    out.insert(out.end(), name.begin(), name.end());
    append(out, eventTrack(events, tempoMicros));
    return out;
}

std::vector<TimedEvent> notes(int count, std::int64_t stepTicks, int firstNote, int spread, int channel)
{
    std::vector<TimedEvent> events;
    for (int k = 0; k < count; ++k) {
        const std::int64_t at = k * stepTicks;
        events.push_back(on(at, firstNote + k % spread, 100, channel));
        events.push_back(off(at + stepTicks / 2, firstNote + k % spread, channel));
    }
    return events;
}

// At 480 ticks a quarter and 120 BPM: "Lead" plays 64 eighths (0-16 s) and rests, "Bass" 64
// quarters (0-32 s), "Double" the lead's notes again on another channel, "Bell" 10 quarters,
// "Quiet" nothing.
Bytes fivePartSong()
{
    return midiFile(1, 480,
                    {namedTrack("Lead", notes(64, 240, 72, 5, 0), 500000), namedTrack("Bass", notes(64, 480, 40, 4, 1)),
                     namedTrack("Double", notes(64, 240, 72, 5, 2)), namedTrack("Bell", notes(10, 480, 84, 3, 3)),
                     namedTrack("Quiet", {})});
}

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of a header line ("#TITLE x" gives "x"), or "(none)".
std::string headerValue(const std::string& chart, const std::string& command)
{
    const auto at = chart.find("\n" + command + " ");
    if (at == std::string::npos) {
        return "(none)";
    }
    const auto from = at + command.size() + 2;
    return chart.substr(from, chart.find_first_of("\r\n", from) - from);
}

// The #WAV definitions, in file order.
std::string wavTable(const std::string& chart)
{
    std::string table;
    std::istringstream lines(chart);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("#WAV", 0) == 0) {
            table += line + "\n";
        }
    }
    return table;
}

class PartSets : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::path(::testing::TempDir()) /
                (std::string("part_sets_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_request = wavBuildRequest(fivePartSong(), m_dir / "song.mid", m_dir / "out");
        m_request.bgm = workflow::BgmMode::Keysounds;
        m_request.loudness = std::nullopt;
        m_request.charts.setPerPart = true;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir;
    workflow::BuildRequest m_request;
};

TEST_F(PartSets, EachNamedPartWithNotesGetsOneSetAndTheRestIsSaid)
{
    using Parts = std::vector<song::TrackPart>;
    struct Case {
        const char* name;
        Parts moreParts;  // after track 1
        bool perPart;
        std::vector<std::string> tags;  // of the sets, in order
        std::vector<Parts> alike;
        Parts silent;
        Parts added;
        // Parts whose notes are read, each once though both the sets and the lanes' following
        // weigh the named ones: those named and the song's other channels with notes.
        std::size_t notesRead;
    };
    const std::vector<Case> cases = {
        {"two parts", {{2, 0}}, true, {"1", "2"}, {}, {}, {}, 4},
        {"a part that doubles the first: one set", {{3, 0}, {2, 0}}, true, {"1", "2"}, {{{1, 0}, {3, 0}}}, {}, {}, 4},
        {"a part with no notes: none", {{5, 0}, {2, 0}}, true, {"1", "2"}, {}, {{5, 0}}, {}, 5},
        {"one named: the song's parts with enough notes join",
         {},
         true,
         {"1", "2"},
         {{{1, 0}, {3, 0}}},
         {},
         {{2, 0}, {3, 0}},
         4},
        {"one set asked for", {{2, 0}}, false, {}, {}, {}, {}, 4},
    };
    const Bytes song = fivePartSong();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = m_request;
        request.conversion.moreParts = c.moreParts;
        request.charts.setPerPart = c.perPart;
        workflow::PartSetFindings found;
        workflow::SongParts parts(song, request.conversion.song);
        const auto planned = workflow::withPartSets(request, parts, found);
        std::vector<std::string> tags;
        for (const auto& set : planned.charts.partSets) {
            tags.push_back(set.tag);
        }
        EXPECT_EQ(tags, c.tags);
        EXPECT_EQ(found.alike, c.alike);
        EXPECT_EQ(found.silent, c.silent);
        EXPECT_EQ(found.added, c.added);
        EXPECT_EQ(parts.noteReads(), c.notesRead);
    }
}

TEST_F(PartSets, EveryChartOfEverySetPlaysTheSongOnceFromOneKeysoundTable)
{
    struct Case {
        const char* name;
        bool follow;
        std::int64_t leadSetsBassNotes;  // lane notes the lead's charts take from the bass: some, or none
    };
    const Case cases[] = {{"following the music", true, 1}, {"--follow off", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = m_request;
        request.conversion.moreParts = {{2, 0}};
        request.charts.follow = c.follow;
        request.replace = true;
        workflow::BuildServices services;
        services.renderers = fakeRenderers();
        NullProgress quiet;
        const auto outcome = workflow::runBuild(request, quiet, services);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        ASSERT_GE(outcome->charts.size(), 4u);
        std::set<std::string> names;
        std::map<std::string, int> setsCharts;
        const auto firstText = fileText(outcome->charts.front().path);
        const auto firstObjects = chart::readChartFile(outcome->charts.front().path);
        ASSERT_TRUE(firstObjects.ok());
        for (const auto& built : outcome->charts) {
            const std::string name = built.path.filename().string();
            SCOPED_TRACE(name);
            names.insert(name);
            const auto text = fileText(built.path);
            const bool lead = name.rfind("song_1_", 0) == 0;
            ASSERT_TRUE(lead || name.rfind("song_2_", 0) == 0);
            ++setsCharts[lead ? "1" : "2"];
            EXPECT_EQ(headerValue(text, "#TITLE"), headerValue(firstText, "#TITLE"));
            EXPECT_EQ(headerValue(text, "#SUBTITLE").rfind(lead ? "Lead [" : "Bass [", 0), 0u);
            EXPECT_NE(headerValue(text, "#DIFFICULTY"), "(none)");
            EXPECT_EQ(wavTable(text), wavTable(firstText)) << "one keysound table for every set";
            const auto chart = chart::readChartFile(built.path);
            ASSERT_TRUE(chart.ok()) << chart.error().message;
            std::vector<std::pair<double, std::string>> heard;
            for (const auto& object : chart->objects) {
                if (object.kind != chart::ObjectKind::LongNoteEnd) {
                    heard.emplace_back(object.seconds, chart->keysoundNames[object.code]);
                }
            }
            // Lead, bass, the lead's double and the bell: every note of the song once.
            EXPECT_EQ(heard.size(), 64u + 64u + 64u + 10u);
            const auto& byPart = built.report.notesByPart;
            ASSERT_EQ(byPart.size(), 2u);
            EXPECT_GT(byPart[lead ? 0 : 1], 0);
            EXPECT_EQ(byPart[lead ? 1 : 0] > 0, lead && c.leadSetsBassNotes > 0) << "the other part's lane notes";
        }
        EXPECT_EQ(names.size(), outcome->charts.size()) << "distinct file names";
        EXPECT_EQ(setsCharts.size(), 2u);
        EXPECT_TRUE(chartset::chartsPlayTheSame(outcome->charts.front().path, outcome->charts.back().path).value())
            << "the lead's easiest chart and the bass's hardest sound the same";
    }
}

}  // namespace
}  // namespace zentrowe::testing
