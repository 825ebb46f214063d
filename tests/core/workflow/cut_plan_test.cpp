#include "core/workflow/cut_plan.h"

#include <gtest/gtest.h>

#include "core/convert/convert_test_support.h"
#include "core/convert/settings.h"
#include "core/workflow/session_state.h"

namespace zentrowe::testing {
namespace {

using workflow::CutPlanRequest;
using workflow::planCut;

// C4 and E4 a quarter at velocity 100, G4 a quarter at 90, at 480 ticks a quarter.
const Bytes kSong = oneTrackSong({on(0, 60), off(480, 60), on(480, 64), off(960, 64), on(1920, 67, 90),
                                  off(2400, 67)});

class CutPlan : public ::testing::Test {
protected:
    // Opens the song, converts track 1 into out/ with keysound name `name`, as a session does.
    void convertWithName(const std::string& name)
    {
        const auto source = m_dir / "song.mid";
        writeFile(source, kSong);
        std::filesystem::create_directory(m_dir / "out");
        m_state.outputFolder = m_dir / "out";
        workflow::openSong(m_state, source, summaryOf(kSong));
        convert::ConversionSettings settings;
        settings.keysoundName = name;
        NullProgress quiet;
        auto outcome = workflow::runConversion(workflow::conversionRequest(m_state, 1, settings), quiet);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        workflow::finishConversion(m_state, std::move(outcome).value());
    }

    TempDir m_dir;
    workflow::SongState m_state;
};

TEST_F(CutPlan, ChartOnDiskAndLastConversionGiveTheSameCut)
{
    convertWithName("x-1-6");
    ASSERT_EQ(m_state.stage, workflow::SessionStage::Converted);
    for (const std::optional<std::string>& name : {std::optional<std::string>{}, std::optional<std::string>{"B"},
                                                   std::optional<std::string>{""}}) {
        SCOPED_TRACE(name.value_or("(kept)"));
        const auto fromMemory = planCut(workflow::cutPlanRequest(m_state, m_dir / "r.wav", name, keysound::LeadIn::Auto));
        const auto fromChart =
            planCut(CutPlanRequest{m_dir / "r.wav", m_dir / "out" / "song.bms", name, keysound::LeadIn::Auto, {}});
        ASSERT_TRUE(fromMemory.ok()) << fromMemory.error().message;
        ASSERT_TRUE(fromChart.ok()) << fromChart.error().message;
        // Name + note + "-" + 1/192 measures + "-" + velocity; a quarter is 48 of a 1920-tick measure.
        const std::string prefix = name.value_or("x-1-6");
        const std::vector<std::string> stems{prefix + "60-48-100", prefix + "64-48-100", prefix + "67-48-90"};
        for (const auto* cut : {&*fromMemory, &*fromChart}) {
            EXPECT_EQ(cut->keysoundStems, stems);
            EXPECT_EQ(cut->outputFolder, m_dir / "out");
            EXPECT_EQ(cut->gapTicks, 100);
            EXPECT_EQ(cut->ticksPerQuarter, 96);
            EXPECT_EQ(cut->tempoMicros, 500000u);
            EXPECT_EQ(cut->cuts, m_state.cutList);
        }
    }
    workflow::returnToSource(m_state, summaryOf(kSong));
    EXPECT_EQ(m_state.stage, workflow::SessionStage::SongOpen);
    EXPECT_EQ(m_state.currentMidiPath, m_dir / "song.mid");
    EXPECT_FALSE(m_state.lastConversion.has_value());
}

TEST_F(CutPlan, BadNameGivesTheSettingsSentenceFromEitherSource)
{
    convertWithName("A");
    for (const char* name : {"a/b", "..", "A\x7F", "\xE9\x9F\xB3"}) {
        SCOPED_TRACE(name);
        convert::SettingsTexts texts;
        texts.keysoundName = name;
        const auto settings = convert::parseSettings(texts);
        ASSERT_FALSE(settings.ok());
        const auto fromMemory = planCut(workflow::cutPlanRequest(m_state, m_dir / "r.wav", name, keysound::LeadIn::Auto));
        // Refused before the chart is read: this one does not exist.
        const auto fromChart =
            planCut(CutPlanRequest{m_dir / "r.wav", m_dir / "none.bms", name, keysound::LeadIn::Auto, {}});
        for (const auto* plan : {&fromMemory, &fromChart}) {
            ASSERT_FALSE(plan->ok());
            EXPECT_EQ(plan->error().code, ErrorCode::InvalidSetting);
            EXPECT_EQ(plan->error().message, settings.error().message);
        }
    }
}

TEST_F(CutPlan, ChartThatCannotBeCutIsRefusedNamingItsFault)
{
    convertWithName("A");
    const auto chart = m_dir / "out" / "song.bms";
    const std::string text = readText(chart);
    const struct {
        const char* what;
        std::string chartText;
        std::optional<std::string> name;
        const char* says;
    } cases[] = {
        {"#WAV line without a name", "#WAV01\r\n" + text, std::nullopt, "song.bms: line 1 is not"},
        {"renamed stem not ending in its note", std::string(text).replace(text.find("A64-48-100"), 10, "A64-48"), "B",
         "song.bms: keysound \"A64-48\" does not end in 64-<length>-<velocity>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(chart, c.chartText);
        const auto plan = planCut(CutPlanRequest{m_dir / "r.wav", chart, c.name, keysound::LeadIn::Auto, {}});
        ASSERT_FALSE(plan.ok());
        EXPECT_EQ(plan.error().code, ErrorCode::InvalidSetting);
        EXPECT_NE(plan.error().message.find(c.says), std::string::npos) << plan.error().message;
    }
}

}  // namespace
}  // namespace zentrowe::testing
