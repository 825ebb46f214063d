#include "core/workflow/build_plan.h"

#include <gtest/gtest.h>

#include "core/base/file_system.h"
#include "core/workflow/build_conversion.h"
#include "support/build_request.h"

namespace zentrowe::testing {
namespace {

// A plan is made from a converted track and the folder's names alone: no renderer, no file written.
class BuildPlanTest : public ::testing::Test {
protected:
    // Two notes on track 1, a chord of two other notes on track 2.
    Bytes song() const
    {
        return midiFile(1, 480,
                        {eventTrack({on(0, 60), off(480, 60), on(480, 64), off(960, 64)}),
                         eventTrack({on(0, 48), on(0, 52), off(1920, 48), off(1920, 52)})});
    }

    // The plan of `request`; its BGM events are those of m_prepared, kept beside it.
    Result<workflow::BuildPlan> plan(workflow::BuildRequest request, const workflow::BuildManifest& manifest = {})
    {
        const Bytes& file = m_file;
        const auto states = keysound::readKeysoundStates(file, request.conversion.song, 1, request.conversion.settings);
        workflow::BuildConversionRequest conversionRequest{request.conversion, "", std::nullopt, ".wav", &states};
        conversionRequest.conversion.outputFolder = m_stage;
        const workflow::PreparedSong& prepared = m_prepared.emplace(workflow::prepareSong(request, file));
        auto conversion = workflow::convertTrackForBuild(conversionRequest, prepared, m_quiet);
        EXPECT_TRUE(conversion.ok()) << conversion.error().message;
        workflow::BackgroundKeysounds background;
        if (request.bgm == workflow::BgmMode::Keysounds) {
            background = workflow::backgroundKeysounds(prepared, request.conversion.song, request.conversion.settings);
        }
        return workflow::planBuild(request, prepared, *conversion, states, std::move(background), manifest, m_stage,
                                   realFileSystem());
    }

    workflow::BuildRequest request(workflow::BgmMode bgm)
    {
        auto made = wavBuildRequest(song(), m_dir / "song.mid", m_out);
        made.bgm = bgm;
        return made;
    }

    void SetUp() override { std::filesystem::create_directories(m_stage); }

    TempDir m_temp;
    std::filesystem::path m_dir = m_temp.path();
    std::filesystem::path m_out = m_dir / "out";
    std::filesystem::path m_stage = m_dir / "stage";
    NullProgress m_quiet;
    Bytes m_file = song();
    std::optional<workflow::PreparedSong> m_prepared;
};

TEST_F(BuildPlanTest, ListsEveryJobAndNameBeforeRendering)
{
    const auto made = plan(request(workflow::BgmMode::One));
    ASSERT_TRUE(made.ok()) << made.error().message;
    // The other track as the song prepared it, not a copy of its events.
    EXPECT_EQ(made->bgmEvents.data(), m_prepared->otherParts.data());
    EXPECT_EQ(made->bgmEvents.size(), 4u);
    ASSERT_EQ(made->bgmFiles.size(), 1u);
    ASSERT_EQ(made->keysoundNames.size(), 2u);
    // The BGM first (the longest job), then one job per keysound, all into the staging folder.
    ASSERT_EQ(made->jobs.size(), 3u);
    EXPECT_TRUE(made->jobs.front().sequence);
    for (std::size_t k = 0; k < made->jobs.size(); ++k) {
        EXPECT_EQ(made->jobs[k].target.parent_path(), m_stage);
    }
    EXPECT_EQ(made->jobs[1].target.filename().string(), made->keysoundNames[0]);
    EXPECT_FALSE(made->charts.empty());
    EXPECT_TRUE(made->replacing.empty());
    // Nothing of the build's own reached the output folder.
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}

TEST_F(BuildPlanTest, EveryOtherNoteIsAKeysoundUnderTheCodesAfterTheLanes)
{
    struct Case {
        const char* what;
        int startValue;
        bool base62;
        std::optional<ErrorCode> refusal;  // before anything is rendered
    };
    const Case cases[] = {
        {"codes from 01", 0, false, std::nullopt},
        {"four keysounds from ZW: ZX to ZZ are three", 36 * 36 - 4, false, ErrorCode::CodesExhausted},
        {"base 62 has room after ZW", 36 * 36 - 4, true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto req = request(workflow::BgmMode::Keysounds);
        req.conversion.settings.startValue = c.startValue;
        req.conversion.settings.base62 = c.base62;
        const auto made = plan(req);
        if (c.refusal) {
            ASSERT_FALSE(made.ok());
            EXPECT_EQ(made.error().code, *c.refusal);
            EXPECT_NE(made.error().message.find("(2 of the lanes' track, 2 of the other tracks)"), std::string::npos)
                << made.error().message;
            continue;
        }
        ASSERT_TRUE(made.ok()) << made.error().message;
        EXPECT_TRUE(made->bgmFiles.empty());
        // The chord of track 2, a whole measure long, after the lanes' two keysounds.
        const std::vector<std::string> names = {"A60-48-100.wav", "A64-48-100.wav", "Abg48-192-100.wav",
                                                "Abg52-192-100.wav"};
        EXPECT_EQ(made->keysoundNames, names);
        EXPECT_EQ(made->jobs.size(), 4u);
        EXPECT_EQ(made->backgroundFirstCode, static_cast<chart::ChartCode>(c.startValue + 3));
        EXPECT_EQ(made->background.notes.size(), 2u);
    }
}

TEST_F(BuildPlanTest, RefusesTakenNamesWithoutRendering)
{
    const auto names = plan(request(workflow::BgmMode::None));
    ASSERT_TRUE(names.ok()) << names.error().message;
    const std::string keysound = names->keysoundNames.front();
    struct Case {
        const char* what;
        bool folder;  // a folder under the keysound's name, else a file no build made
        bool replaceUnlisted;
        const char* subject;  // of the refusal; empty: planned, the file listed as replaced
    };
    const Case cases[] = {
        {"a folder", true, false, "folder"},
        {"a folder, even with replaceUnlisted", true, true, "folder"},
        {"a hand-made file", false, false, "file"},
        {"a hand-made file the request lets it replace", false, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(m_out);
        std::filesystem::create_directories(m_out);
        if (c.folder) {
            std::filesystem::create_directories(m_out / keysound);
        } else {
            writeFile(m_out / keysound, Bytes{'x'});
        }
        auto req = request(workflow::BgmMode::None);
        req.replaceUnlisted = c.replaceUnlisted;
        const auto made = plan(req);
        if (*c.subject != '\0') {
            ASSERT_FALSE(made.ok());
            EXPECT_EQ(made.error().code, ErrorCode::WouldReplaceChart);
            EXPECT_EQ(made.error().subject, c.subject);
        } else {
            ASSERT_TRUE(made.ok()) << made.error().message;
            EXPECT_EQ(made->replacing, std::vector<std::filesystem::path>{m_out / keysound});
        }
    }
    {
        SCOPED_TRACE("a file an earlier build made is replaced without asking");
        workflow::BuildManifest manifest;
        workflow::BuildRecord record;
        record.chart = "song.bms";
        record.files = {keysound};
        manifest.builds.push_back(record);
        const auto made = plan(request(workflow::BgmMode::None), manifest);
        ASSERT_TRUE(made.ok()) << made.error().message;
        EXPECT_TRUE(made->replacing.empty());
        EXPECT_EQ(made->replaceable.count(keysound), 1u);
    }
}

}  // namespace
}  // namespace zentrowe::testing
