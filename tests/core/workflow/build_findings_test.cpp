#include "core/workflow/build_findings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/workflow/build.h"

namespace zentrowe::workflow {
namespace {

using Code = FindingCode;

std::vector<Code> codesOf(const std::vector<Finding>& findings)
{
    std::vector<Code> codes;
    for (const auto& finding : findings) {
        codes.push_back(finding.code);
    }
    return codes;
}

BuildOutcome withOneChart()
{
    BuildOutcome outcome;
    outcome.charts.push_back(BuiltChart{"song_N.bms", {}});
    outcome.firstSoundSeconds = 2.0;
    return outcome;
}

// Each field a face used to read on its own comes back as findings of its code, one per item,
// with the figures a face words.
TEST(BuildFindings, EachReportFieldBecomesFindingsOfItsCode)
{
    struct Case {
        const char* what;
        std::function<void(BuildOutcome&)> fill;
        std::vector<Code> codes;
        FindingSeverity severity;
    };
    const std::vector<Case> cases = {
        {"nothing to tell", [](BuildOutcome&) {}, {}, FindingSeverity::Warning},
        {"commit finished",
         [](BuildOutcome& o) { o.recovery = base::Recovery::Completed; },
         {Code::CommitCompleted},
         FindingSeverity::Warning},
        {"commit undone",
         [](BuildOutcome& o) { o.recovery = base::Recovery::Undone; },
         {Code::CommitUndone},
         FindingSeverity::Warning},
        {"staging set aside",
         [](BuildOutcome& o) {
             o.recovery = base::Recovery::SetAside;
             o.setAside = base::SetAsideStaging{base::JournalFault::Damaged, "journal", "kept"};
         },
         {Code::StagingSetAside},
         FindingSeverity::Warning},
        {"slices without codes",
         [](BuildOutcome& o) {
             o.skipped = {SkipReason::NoCodesForSlices};
             o.bgmSlicesWanted = 7;
         },
         {Code::BgmInOneFile},
         FindingSeverity::Warning},
        {"no BGM twice",
         [](BuildOutcome& o) {
             o.skipped = {SkipReason::NoCodeForBgm, SkipReason::NoOtherNotes};
         },
         {Code::NoCodeForBgm, Code::NoOtherNotes},
         FindingSeverity::Warning},
        {"two missing presets",
         [](BuildOutcome& o) {
             o.missingInstruments = {MissingInstrument{{5, 1, false}, std::nullopt, false},
                                     MissingInstrument{{5, 2, false}, std::nullopt, true}};
         },
         {Code::InstrumentMissing, Code::InstrumentMissing},
         FindingSeverity::Warning},
        {"a long file",
         [](BuildOutcome& o) {
             o.longSoundFiles = {LongSoundFile{"bgm.ogg", 61.5}};
         },
         {Code::SoundOver60s},
         FindingSeverity::Warning},
        {"three silent keysounds",
         [](BuildOutcome& o) {
             o.silentKeysounds = {SilentKeysound{}, SilentKeysound{}, SilentKeysound{}};
         },
         {Code::KeysoundSilent, Code::KeysoundSilent, Code::KeysoundSilent},
         FindingSeverity::Warning},
        {"codes merged",
         [](BuildOutcome& o) { o.mergedKeysounds = 12; },
         {Code::CodesMerged},
         FindingSeverity::Warning},
        {"lead-in short of 1.5 s",
         [](BuildOutcome& o) { o.firstSoundSeconds = 1.2; },
         {Code::ShortLeadIn},
         FindingSeverity::Warning},
        {"lead-in of exactly 1.5 s", [](BuildOutcome& o) { o.firstSoundSeconds = 1.5; }, {}, FindingSeverity::Warning},
        {"drum channel",
         [](BuildOutcome& o) { o.conversion.allNotesOnDrumChannel = true; },
         {Code::AllNotesOnDrumChannel},
         FindingSeverity::Warning},
        {"files removed",
         [](BuildOutcome& o) {
             o.removedFiles = {"a.wav", "b.wav"};
         },
         {Code::EarlierFileRemoved, Code::EarlierFileRemoved},
         FindingSeverity::Notice},
        {"file replaced",
         [](BuildOutcome& o) { o.replacedFiles = {"c.wav"}; },
         {Code::UnlistedFileReplaced},
         FindingSeverity::Notice},
        {"played in",
         [](BuildOutcome& o) { o.charts.front().report.grid.performance = true; },
         {Code::PlayedIn},
         FindingSeverity::Warning},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto outcome = withOneChart();
        c.fill(outcome);
        const auto findings = collectBuildFindings(outcome, 24);
        EXPECT_EQ(codesOf(findings), c.codes);
        for (const auto& finding : findings) {
            EXPECT_EQ(finding.severity, c.severity);
        }
    }
}

TEST(BuildFindings, FiguresTravelWithTheirFindingInTheOutcomesOrder)
{
    auto outcome = withOneChart();
    outcome.recovery = base::Recovery::Undone;
    outcome.removedFiles = {"old.wav"};
    outcome.silentKeysounds = {SilentKeysound{"a.wav", {0, 0, true}, 36, 5, SilenceCause::NoSound},
                               SilentKeysound{"b.wav", {0, 0, false}, 60, 2, SilenceCause::VolumeZero}};
    outcome.longSoundFiles = {LongSoundFile{"bgm.ogg", 75.25}};
    outcome.skipped = {SkipReason::NoCodesForSlices};
    outcome.base62 = true;
    outcome.bgmSlicesWanted = 9;
    outcome.charts.front().report.grid.performance = true;
    outcome.charts.front().report.grid.offShare = {0.9, 0.8, 0.7};

    const auto findings = collectBuildFindings(outcome, 16);

    EXPECT_EQ(codesOf(findings),
              (std::vector<Code>{Code::CommitUndone, Code::BgmInOneFile, Code::SoundOver60s, Code::KeysoundSilent,
                                 Code::KeysoundSilent, Code::EarlierFileRemoved, Code::PlayedIn}));
    EXPECT_TRUE(findings[1].as<BgmSkip>().base62);
    EXPECT_EQ(findings[1].as<BgmSkip>().slicesWanted, 9u);
    EXPECT_EQ(findings[2].as<LongSoundFile>().seconds, 75.25);
    EXPECT_EQ(findings[3].as<SilentKeysound>().fileName, "a.wav");
    EXPECT_EQ(findings[4].as<SilentKeysound>().cause, SilenceCause::VolumeZero);
    EXPECT_EQ(findings[5].as<std::filesystem::path>(), "old.wav");
    EXPECT_EQ(findings[6].as<PlayedInGrid>().quantizeGrid, 16u);
    EXPECT_EQ(findings[6].as<PlayedInGrid>().fit.offShare[2], 0.7);
}

}  // namespace
}  // namespace zentrowe::workflow
