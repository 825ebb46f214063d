#include "cli/build_findings_text.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "cli/output.h"
#include "core/base/file_error.h"

namespace zentrowe::cli {

namespace {

using workflow::Finding;
using workflow::FindingCode;

std::string instrumentText(const audio::Instrument& instrument)
{
    if (instrument.drums) {
        return "drum kit " + std::to_string(instrument.program);
    }
    return "bank " + std::to_string(instrument.bank) + " program " + std::to_string(instrument.program);
}

std::string fixed(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string bgmSkipSentence(const Finding& finding)
{
    const bool base62 = finding.as<workflow::BgmSkip>().base62;
    switch (finding.code) {
    case FindingCode::BgmInOneFile:
        return "the BGM is one file: its " + std::to_string(finding.as<workflow::BgmSkip>().slicesWanted) +
               " slices need codes past " + (base62 ? "zz" : "ZZ") +
               "; they would fit as a bmson chart (--chart-format bmson)" +
               (base62 ? "" : ", with base-62 codes (--codes 62)") +
               " or with fewer keysounds (--velocity-step, --length-step)";
    case FindingCode::NoCodeForBgm:
        return base62 ? "no BGM: the keysounds use every code up to zz"
                      : "no BGM: the keysounds use every code up to ZZ";
    default:
        return "no BGM: the other tracks have no notes";
    }
}

std::string missingInstrumentSentence(const workflow::MissingInstrument& missing, const FindingContext& context)
{
    const std::string who = missing.inBgm ? "the BGM's notes" : "keysounds";
    return context.soundFont + " has no " + instrumentText(missing.instrument) + ": " +
           (missing.playedBy ? who + " play " + instrumentText(*missing.playedBy) + " instead"
                             : who + " using it are silent");
}

std::string codesMergedSentence(const workflow::CodesMerging& merging)
{
    std::string steps;
    if (merging.steps.velocityStep > 1) {
        steps = "velocities within " + std::to_string(merging.steps.velocityStep);
    }
    if (merging.steps.lengthStep > 0) {
        steps += (steps.empty() ? "" : ", ") + std::string("lengths within ") +
                 std::to_string(merging.steps.lengthStep) + "/192 measure";
    }
    return "the song's sounds need more codes than ZZ: " + std::to_string(merging.keysounds) +
           " keysounds were merged into ones a listener cannot tell apart (" + steps + "; --velocity-step " +
           std::to_string(std::max(merging.steps.velocityStep, 1)) + " --length-step " +
           std::to_string(merging.steps.lengthStep) +
           "); --codes 62 keeps them apart in base 62, which several players read without case";
}

// Why a staging folder left in the output folder was set aside rather than obeyed.
const char* setAsideReason(base::JournalFault fault)
{
    switch (fault) {
    case base::JournalFault::NotRegularFile:
        return "is not a regular file (a link, FIFO or device)";
    case base::JournalFault::TooLarge:
        return "is larger than any journal a build writes";
    case base::JournalFault::Unreadable:
        return "cannot be read";
    case base::JournalFault::Damaged:
        return "is not a whole journal";
    case base::JournalFault::NameOutside:
        return "names a path that is not a plain file name of the folder";
    case base::JournalFault::OddReplacedFolder:
        return "is not a folder of regular files (a link, or it holds a link, FIFO or device)";
    }
    return "is not what a build leaves";
}

std::string recoverySentence(const Finding& finding, const FindingContext& context)
{
    if (finding.code == FindingCode::CommitCompleted) {
        return "the last build into " + displayPath(context.folder) +
               " was stopped while moving its files in, after its chart was in place: its move was finished";
    }
    if (finding.code == FindingCode::CommitUndone) {
        return "the last build into " + displayPath(context.folder) +
               " was stopped while moving its files in: the files it had replaced were put back";
    }
    const auto& setAside = finding.as<base::SetAsideStaging>();
    return displayPath(setAside.found) + ", left in the folder by an earlier build or with the folder, " +
           setAsideReason(setAside.fault) + ": it was not obeyed and nothing of the folder was touched; " +
           "the staging folder is kept as " + displayPath(setAside.movedTo);
}

// What moving the notes to a grid did or would do: the advice that ends the played-in warning.
std::string quantizeAdvice(const workflow::PlayedInGrid& played)
{
    if (played.quantizeGrid > 0) {
        return "; its notes were moved to the nearest of " + std::to_string(played.quantizeGrid) +
               " lines a measure (--quantize)";
    }
    if (const auto grids = chartset::advisedQuantizeGrids(played.fit); !grids.empty()) {
        std::string advice = "; --quantize";
        for (std::size_t k = 0; k < grids.size(); ++k) {
            advice += (k == 0 ? " " : k + 1 == grids.size() ? " or " : ", ") + std::to_string(grids[k]);
        }
        return advice + " moves them to the nearest line of that grid";
    }
    const double leastShift = *std::min_element(played.fit.meanShiftSeconds.begin(), played.fit.meanShiftSeconds.end());
    return "; moving them to a grid (--quantize) would put them " + fixed(1000 * leastShift, 0) +
           " ms out of time on average, so they stay as played";
}

// A track played in rather than written to the beat: its notes fall off every grid, and its
// charts read badly unless they are moved to one.
// A cache the build could not use: it built without (or past) it.
std::string keptSoundsSentence(const CacheTrouble& trouble)
{
    if (trouble.writeError) {
        return "the kept sounds in " + displayPath(trouble.folder) + " cannot be written (" +
               trouble.writeError->message() + "): the sounds not kept there were made anew; --no-cache builds without";
    }
    return std::to_string(trouble.damagedEntries) + " kept sounds in " + displayPath(trouble.folder) +
           " were damaged and were made anew";
}

std::string playedInSentence(const workflow::PlayedInGrid& played)
{
    const auto& off = played.fit.offShare;
    return "the track was played in, not written to the beat: " + fixed(100 * off[0], 0) +
           " % of its notes are off the 16ths, " + fixed(100 * off[1], 0) + " % off the 16th triplets and " +
           fixed(100 * off[2], 0) + " % off the 32nds" + quantizeAdvice(played);
}

// Items in order, an item said more than once given once with its count: "a; b (3 times)".
std::string joinCounted(const std::vector<std::string>& items, const char* separator)
{
    std::vector<std::pair<std::string, int>> counted;
    for (const auto& item : items) {
        const auto same = std::find_if(counted.begin(), counted.end(), [&](const auto& c) { return c.first == item; });
        if (same == counted.end()) {
            counted.emplace_back(item, 1);
        } else {
            ++same->second;
        }
    }
    std::string joined;
    for (const auto& [item, times] : counted) {
        joined += (joined.empty() ? "" : separator) + item;
        if (times > 1) {
            joined += " (" + std::to_string(times) + " times)";
        }
    }
    return joined;
}

// "1 note", "3 notes".
std::string notesText(std::int64_t count)
{
    return std::to_string(count) + (count == 1 ? " note" : " notes");
}

// One warning for them all: a drum kit without the track's sounds can leave hundreds out.
std::string silentSentence(std::span<const Finding> findings, const FindingContext& context)
{
    std::int64_t notes = 0;
    std::vector<std::string> items;
    for (const auto& finding : findings) {
        if (finding.code == FindingCode::KeysoundSilent) {
            const auto& silent = finding.as<workflow::SilentKeysound>();
            notes += silent.noteCount;
            items.push_back("note " + std::to_string(silent.note) + " of " + instrumentText(silent.instrument) + ", " +
                            notesText(silent.noteCount) + " (" + workflow::silenceCauseText(silent.cause) + ")");
        }
    }
    const bool one = notes == 1;
    return notesText(notes) + " sound" + (one ? "s" : "") + " nothing with " + context.soundFont +
           (one ? " and is left out of every chart, its keysound unwritten: "
                : " and are left out of every chart, their keysounds unwritten: ") +
           joinCounted(items, "; ");
}

// The files over 60 s share the rule and the way around it: said once after every file.
std::string longFilesSentence(std::span<const Finding> findings)
{
    std::vector<std::string> files;
    for (const auto& finding : findings) {
        if (finding.code == FindingCode::SoundOver60s) {
            const auto& file = finding.as<workflow::LongSoundFile>();
            files.push_back(displayPath(file.path) + " lasts " + fixed(file.seconds, 1) + " s");
        }
    }
    return joinCounted(files, ", ") +
           ": events accept no sound file of 60 s or more; --bgm slices keeps every BGM file under 45 s";
}

// Why --play double made single-play charts, and how to get double play.
std::string singlePlaySentence(workflow::SinglePlayReason reason)
{
    switch (reason) {
    case workflow::SinglePlayReason::OnePart:
        return "single-play charts made: --play double puts the song's other parts on the second side, and "
               "the chosen tracks are all the song plays";
    case workflow::SinglePlayReason::BgmNotKeysounds:
        return "single-play charts made: --play double takes the second side's notes from the other tracks' "
               "keysounds, which needs --bgm keysounds";
    case workflow::SinglePlayReason::Percussion:
        return "single-play charts made: --play double does not take --mode percussion";
    case workflow::SinglePlayReason::SeedLanes:
        return "single-play charts made: --play double needs the playable lanes, not --lanes seed";
    case workflow::SinglePlayReason::PartSets:
        return "single-play charts made: with --charts parts each part takes the lanes of its own set, so "
               "--play double has no second side to give them";
    }
    return "single-play charts made";
}

}  // namespace

std::string findingSentence(const Finding& finding, const FindingContext& context)
{
    switch (finding.code) {
    case FindingCode::CommitCompleted:
    case FindingCode::CommitUndone:
    case FindingCode::StagingSetAside:
        return recoverySentence(finding, context);
    case FindingCode::BgmInOneFile:
    case FindingCode::NoCodeForBgm:
    case FindingCode::NoOtherNotes:
        return bgmSkipSentence(finding);
    case FindingCode::InstrumentMissing:
        return missingInstrumentSentence(finding.as<workflow::MissingInstrument>(), context);
    case FindingCode::SoundOver60s:
        return longFilesSentence(std::span(&finding, 1));
    case FindingCode::KeysoundSilent:
        return silentSentence(std::span(&finding, 1), context);
    case FindingCode::CodesMerged:
        return codesMergedSentence(finding.as<workflow::CodesMerging>());
    case FindingCode::ShortLeadIn:
        return "the charts first sound at " + fixed(finding.as<double>(), 3) +
               " s, before the 1.5 s a player needs to get ready: at the song's first tempo the 999 measures "
               "a BMS chart numbers leave no longer lead-in; a bmson chart (--chart-format bmson) has one";
    case FindingCode::AllNotesOnDrumChannel:
        return "every note of this track is on channel 10 (drums): --mode percussion makes drum keysounds";
    case FindingCode::EarlierFileRemoved:
        return "removed " + displayPath(finding.as<std::filesystem::path>()) +
               " (the earlier build's, no longer named)";
    case FindingCode::UnlistedFileReplaced:
        return "replaced " + displayPath(finding.as<std::filesystem::path>()) + " (no build had made it; --replace)";
    case FindingCode::PlayedIn:
        return playedInSentence(finding.as<workflow::PlayedInGrid>());
    case FindingCode::SinglePlayMade:
        return singlePlaySentence(finding.as<workflow::SinglePlayReason>());
    case FindingCode::KeptSoundsTrouble:
        return keptSoundsSentence(finding.as<CacheTrouble>());
    }
    return "the build noted something this version cannot word";
}

void reportFindings(std::span<const Finding> findings, const FindingContext& context,
                    const std::function<bool(const Finding&)>& which)
{
    std::vector<Finding> taken;
    std::copy_if(findings.begin(), findings.end(), std::back_inserter(taken), which);
    bool silentSaid = false;
    bool longSaid = false;
    for (const auto& finding : taken) {
        std::string sentence;
        if (finding.code == FindingCode::KeysoundSilent) {
            sentence = silentSaid ? std::string() : silentSentence(taken, context);
            silentSaid = true;
        } else if (finding.code == FindingCode::SoundOver60s) {
            sentence = longSaid ? std::string() : longFilesSentence(taken);
            longSaid = true;
        } else {
            sentence = findingSentence(finding, context);
        }
        if (sentence.empty()) {
            continue;
        }
        if (finding.severity == workflow::FindingSeverity::Warning) {
            reportWarning(sentence);
        } else {
            std::fprintf(stderr, "%s\n", sentence.c_str());
        }
    }
}

}  // namespace zentrowe::cli
