#include "core/workflow/build_findings.h"

#include "core/workflow/build.h"
#include "core/workflow/lead_in.h"

namespace zentrowe::workflow {

namespace {

Finding finding(FindingCode code, FindingFigures figures = {})
{
    return Finding{code, severityOf(code), std::move(figures)};
}

void addRecovery(std::vector<Finding>& out, const BuildOutcome& outcome)
{
    if (outcome.recovery == base::Recovery::Completed) {
        out.push_back(finding(FindingCode::CommitCompleted));
    } else if (outcome.recovery == base::Recovery::Undone) {
        out.push_back(finding(FindingCode::CommitUndone));
    } else if (outcome.setAside) {
        out.push_back(finding(FindingCode::StagingSetAside, *outcome.setAside));
    }
}

FindingCode skipCode(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NoCodesForSlices:
        return FindingCode::BgmInOneFile;
    case SkipReason::NoCodeForBgm:
        return FindingCode::NoCodeForBgm;
    case SkipReason::NoOtherNotes:
        return FindingCode::NoOtherNotes;
    }
    return FindingCode::NoOtherNotes;
}

void addSounds(std::vector<Finding>& out, const BuildOutcome& outcome)
{
    for (const auto reason : outcome.skipped) {
        out.push_back(finding(skipCode(reason), BgmSkip{outcome.base62, outcome.bgmSlicesWanted}));
    }
    for (const auto& missing : outcome.missingInstruments) {
        out.push_back(finding(FindingCode::InstrumentMissing, missing));
    }
    for (const auto& file : outcome.longSoundFiles) {
        out.push_back(finding(FindingCode::SoundOver60s, file));
    }
    for (const auto& silent : outcome.silentKeysounds) {
        out.push_back(finding(FindingCode::KeysoundSilent, silent));
    }
    if (outcome.keptSounds.trouble) {
        out.push_back(finding(FindingCode::KeptSoundsTrouble, *outcome.keptSounds.trouble));
    }
    if (outcome.mergedKeysounds > 0) {
        out.push_back(finding(FindingCode::CodesMerged, CodesMerging{outcome.mergedKeysounds, outcome.mergedWith}));
    }
}

}  // namespace

FindingSeverity severityOf(FindingCode code)
{
    switch (code) {
    case FindingCode::EarlierFileRemoved:
    case FindingCode::UnlistedFileReplaced:
        return FindingSeverity::Notice;
    default:
        return FindingSeverity::Warning;
    }
}

std::vector<Finding> collectBuildFindings(const BuildOutcome& outcome, std::uint32_t quantizeGrid)
{
    std::vector<Finding> out;
    addRecovery(out, outcome);
    addSounds(out, outcome);
    // A rounding margin: a lead-in of exactly the least is enough.
    if (!outcome.charts.empty() && outcome.firstSoundSeconds < kLeastLeadInSeconds - 1e-9) {
        out.push_back(finding(FindingCode::ShortLeadIn, outcome.firstSoundSeconds));
    }
    if (outcome.singlePlay) {
        out.push_back(finding(FindingCode::SinglePlayMade, *outcome.singlePlay));
    }
    if (outcome.conversion.allNotesOnDrumChannel) {
        out.push_back(finding(FindingCode::AllNotesOnDrumChannel));
    }
    for (const auto& removed : outcome.removedFiles) {
        out.push_back(finding(FindingCode::EarlierFileRemoved, removed));
    }
    for (const auto& replaced : outcome.replacedFiles) {
        out.push_back(finding(FindingCode::UnlistedFileReplaced, replaced));
    }
    if (!outcome.charts.empty() && outcome.charts.front().report.grid.performance) {
        out.push_back(finding(FindingCode::PlayedIn, PlayedInGrid{outcome.charts.front().report.grid, quantizeGrid}));
    }
    return out;
}

}  // namespace zentrowe::workflow
