#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/build_findings_text.h"
#include "cli/choice_option.h"
#include "cli/commands.h"
#include "cli/conversion_options.h"
#include "cli/loaded_track.h"
#include "cli/output.h"
#include "cli/signal_stop.h"
#include "core/base/file_error.h"
#include "core/base/number_text.h"
#include "core/base/utf8_path.h"
#include "core/song/chart_file_name.h"
#include "core/song/event_listing.h"
#include "core/song/song_summary.h"
#include "core/workflow/build.h"
#include "core/workflow/session_state.h"

namespace zentrowe::cli {

namespace {

// Where --no-cache's kept renders are, as userCacheFolder() places them on this system.
#if defined(_WIN32)
constexpr const char* kKeptRendersFolder = "%LOCALAPPDATA%\\zentrowe";
#else
constexpr const char* kKeptRendersFolder = "$XDG_CACHE_HOME/zentrowe, else ~/.cache/zentrowe";
#endif

// What --loudness accepts, in LUFS: quieter is inaudible beside other songs, louder cannot be
// reached without the true peak passing -1 dBTP on any real music.
constexpr double kLowestLoudness = -70;
constexpr double kHighestLoudness = -5;

// "loudness -14.0 LUFS, peak -2.3 dBTP": what the build brought the autoplay to.
std::string loudnessLine(const audio::LoudnessGain& gain)
{
    if (gain.bound == audio::LoudnessBound::Silent) {
        return "loudness: the autoplay is silent, no gain applied";
    }
    char line[96];
    std::snprintf(line, sizeof line, "loudness %.1f LUFS, peak %.1f dBTP", gain.after.integratedLufs,
                  gain.after.truePeakDbtp);
    return line;
}

// Above this many keysound files the listing gives their count instead of one line each.
constexpr std::size_t kListedFiles = 20;

// What a build's findings are worded with.
FindingContext findingContext(const workflow::BuildRequest& request)
{
    return FindingContext{displayPath(request.soundFont), request.conversion.outputFolder};
}

bool isRecovery(const workflow::Finding& finding)
{
    return finding.code == workflow::FindingCode::CommitCompleted ||
           finding.code == workflow::FindingCode::CommitUndone ||
           finding.code == workflow::FindingCode::StagingSetAside;
}

// What the level counts, in notes per second: "  level 8.4/s = density 6.4 + repeats 0.8 (12 %
// within 250 ms) + chords 0.3 (20 %) + long notes 0.0 (0 %) + scratch 0.2 (6 %) + stamina 0.9
// (6.0/s busiest minute); strain per key 0.40, overall 7.2".
std::string levelTermsLine(const chartset::ChartReport& report)
{
    const auto& terms = report.terms;
    char line[320];
    std::snprintf(line, sizeof line,
                  "  level %.1f/s = density %.1f + repeats %.1f (%.0f %% within 250 ms) + chords %.1f (%.0f %%) + "
                  "long notes %.1f (%.0f %%) + scratch %.1f (%.0f %%) + stamina %.1f (%.1f/s busiest minute); strain "
                  "per key %.2f, overall %.1f\n",
                  terms.total(), terms.density, terms.repeats, 100 * report.repeatShare, terms.chords,
                  100 * report.chordShare, terms.longNotes, 100 * report.longNoteShare, terms.scratch,
                  100 * report.scratchShare, terms.stamina, report.staminaDensity, report.keyStrain,
                  report.overallStrain);
    return line;
}

// One chart of the set, as a player would judge it before playing: "song_H.bms [HYPER]: level 7,
// 812 notes, 6.4/s average, 11.5/s peak, chords up to 3, 140 in the background"; drawn on several
// parts, what each gives: "...; lane notes from track 4: 500, track 2: 220".
std::string chartLine(const workflow::BuiltChart& chart, const std::vector<song::TrackPart>& parts)
{
    const auto& report = chart.report;
    char figures[160];
    std::snprintf(figures, sizeof figures, ": level %d, %lld notes, %.1f/s average, %.1f/s peak, chords up to %d, ",
                  report.level, static_cast<long long>(report.notes), report.averageDensity, report.peakDensity,
                  report.largestChord);
    std::string byPart;
    for (std::size_t k = 0; parts.size() > 1 && k < parts.size(); ++k) {
        const std::int64_t notes = k < report.notesByPart.size() ? report.notesByPart[k] : 0;
        byPart += (k == 0 ? "; lane notes from " : ", ") + song::partName(parts[k]) + ": " + std::to_string(notes);
    }
    return chart.path.filename().string() + " " + std::string(chartset::difficultySubtitle(report.difficulty)) +
           figures + std::to_string(report.backgroundNotes) + " in the background" + byPart + "\n" +
           levelTermsLine(report);
}

// With a set per part: the parts merged into another's set and those left out, as warnings; the
// parts added beside the one named, on stdout.
std::string partSetsLine(const workflow::PartSetFindings& found)
{
    for (const auto& alike : found.alike) {
        reportWarning(song::partsName(alike) + " play the same notes: one set of charts was made for them, " +
                      "named after " + song::partName(alike.front()));
    }
    for (const auto& part : found.silent) {
        reportWarning(song::partName(part) + " plays no notes: no charts were made for it");
    }
    if (found.added.empty()) {
        return {};
    }
    return "a set of charts for each part with at least " + std::to_string(workflow::kLeastPartSetNotes) +
           " notes besides the one named: " + song::partsName(found.added) + "\n";
}

// Where the lanes follow the music: "the lanes follow the music where the chosen tracks rest:
// track 3 from 24.0 s to 38.5 s, track 5 channel 10 from 80.0 s to 96.0 s" (the song's seconds).
std::string followedLine(const workflow::BuildOutcome& outcome, const workflow::BuildRequest& request)
{
    if (workflow::followSetAside(request)) {
        return "the lanes keep to the chosen tracks: following the music needs the other tracks as keysounds "
               "(--bgm keysounds), the playable lanes and a mode other than percussion\n";
    }
    std::string line;
    for (const auto& stretch : outcome.followed) {
        line += (line.empty() ? "the lanes follow the music where the chosen tracks rest: " : ", ") +
                song::partName(stretch.part) + " from " + fixedText(stretch.startSeconds, 1) + " s to " +
                fixedText(stretch.endSeconds, 1) + " s";
    }
    return line.empty() ? line : line + "\n";
}

// "62 keysounds; 140 more play the song's other 1,200 notes from the background\n24 sound files, 1.3 MB\n".
std::string keysoundLine(const workflow::BuildOutcome& outcome)
{
    std::string line = std::to_string(outcome.conversion.keysounds.size()) + " keysounds";
    const std::size_t laneSilent = outcome.silentKeysounds.size() - outcome.silentBackgroundKeysounds;
    if (laneSilent > 0) {
        line += ", " + std::to_string(laneSilent) + " of them silent and not written";
    }
    if (outcome.backgroundKeysoundFiles > 0) {
        line += "; " + std::to_string(outcome.backgroundKeysoundFiles) + " more play the song's other " +
                std::to_string(outcome.backgroundNotes) + " notes from the background";
    }
    char size[64];
    std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(outcome.soundFileBytes) / 1e6);
    const std::size_t files = outcome.keysoundFiles.size() + outcome.bgmFiles.size();
    return line + "\n" + std::to_string(files) + " sound files, " + size + "\n";
}

constexpr std::array kFormats = {Choice<audio::SoundFormat>{"ogg", audio::SoundFormat::OggVorbis},
                                 Choice<audio::SoundFormat>{"wav", audio::SoundFormat::Wave}};
constexpr std::array kBgmModes = {Choice<workflow::BgmMode>{"keysounds", workflow::BgmMode::Keysounds},
                                  Choice<workflow::BgmMode>{"slices", workflow::BgmMode::Slices},
                                  Choice<workflow::BgmMode>{"one", workflow::BgmMode::One},
                                  Choice<workflow::BgmMode>{"none", workflow::BgmMode::None}};
constexpr std::array kLaneRules = {Choice<chartset::LaneRule>{"playable", chartset::LaneRule::Playable},
                                   Choice<chartset::LaneRule>{"seed", chartset::LaneRule::Seed}};
constexpr std::array kPlays = {Choice<chartset::Play>{"single", chartset::Play::Single},
                               Choice<chartset::Play>{"double", chartset::Play::Double}};
constexpr std::array kOnOff = {Choice<bool>{"on", true}, Choice<bool>{"off", false}};
constexpr std::array kChartSets = {Choice<bool>{"one", false}, Choice<bool>{"parts", true}};
constexpr std::array kChartTexts = {Choice<workflow::ChartText>{"sjis", workflow::ChartText::ShiftJis},
                                    Choice<workflow::ChartText>{"utf-8", workflow::ChartText::Utf8}};

// What build takes beyond the conversion's options: most of it parsed straight into the request,
// the rest (what needs the song, or more than one option) completed by buildRequest.
struct BuildOptions : ConversionOptions {
    workflow::BuildRequest request;
    std::string difficulties;
    std::string quantize;
    bool noBgm = false;
    bool verify = false;
    bool noCache = false;
};

// Not CLI::Range: "nan" compares false both ways and would pass it.
CLI::Validator qualityCheck()
{
    return CLI::Validator(
        [](std::string& text) {
            const auto value = parseDecimal(text);
            return value && *value >= 0 && *value <= 1 ? std::string()
                                                       : "--quality " + text + " is not a number from 0 to 1";
        },
        "0 to 1");
}

CLI::Validator loudnessCheck()
{
    return CLI::Validator(
        [](std::string& text) {
            const auto value = parseDecimal(text);
            return text == "off" || (value && *value >= kLowestLoudness && *value <= kHighestLoudness)
                       ? std::string()
                       : "--loudness " + text + " is neither a loudness in LUFS from -70 to -5 nor off";
        },
        "LUFS or off");
}

// A finite number of seconds, 0 to a day. Not CLI's own range check, which lets "nan" through
// (no comparison holds for it) to fail deep inside the build once everything is rendered.
CLI::Validator secondsOfADay()
{
    return CLI::Validator(
        [](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            return end != text.c_str() && *end == '\0' && value >= 0 && value <= 86400
                       ? std::string()
                       : text + " is not a number of seconds from 0 to 86400";
        },
        "0 to 86400");
}

// What build refuses in --long-min where the conversion's own rule would let it through: a time
// with its unit that is not above 0 ("0s" is too short, not "not a whole number"), and a length
// without unit (1/192 of a measure) that is not whole, which the conversion would round.
std::optional<std::string> longMinRefusal(const std::string& text)
{
    double value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc{}) {
        return std::nullopt;  // the conversion's rule words it
    }
    std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    unit.remove_prefix(std::min(unit.find_first_not_of(' '), unit.size()));
    const std::string quoted = "--long-min \"" + text + "\": ";
    if (unit == "s" || unit == "ms" || unit == "beat" || unit == "beats") {
        if (value > 0) {
            return std::nullopt;
        }
        return quoted + "too short: a time must be above 0 (a long note lasts at least 0.2 s whatever is asked)";
    }
    if (unit.empty() && !(value == std::trunc(value))) {
        return quoted + "must be a whole number of 1/192 measures, never rounded; a time takes its unit: 0.3s, "
                        "300ms, 1.5beat";
    }
    return std::nullopt;
}

// What goes to the lanes: their rule, the scratch, following the music, one side or both.
void addLaneOptions(CLI::App& sub, workflow::BuildRequest& request)
{
    addChoiceOption(sub, "--lanes", request.charts.lanes, kLaneRules,
                    "playable (pitch order, chords spread, no fast jacks) or seed (convert's lanes)");
    addChoiceOption(sub, "--scratch", request.charts.scratch, kOnOff,
                    "accents (a downbeat, a phrase's first note, a strum's first stroke) on the scratch from hyper "
                    "up (on, the default), or off: nothing on the scratch");
    addChoiceOption(sub, "--follow", request.charts.follow, kOnOff,
                    "where the chosen tracks rest for over 2 measures (or 4 s), the lanes take the part that carries "
                    "the music (a melody, else the bass, else drum accents) (on, the default, with --bgm keysounds), "
                    "or off: only the chosen tracks");
    addChoiceOption(sub, "--play", request.charts.play, kPlays,
                    "single: 7 keys and scratch (the default), or double: 14 keys, the chosen tracks on the first "
                    "side, the song's other parts on the second (#PLAYER 3, charts NAME_N_DP; needs --bgm keysounds)");
    addChoiceOption(sub, "--charts", request.charts.setPerPart, kChartSets,
                    "one set of charts (one, the default), or parts: a set for each part --track names (with one "
                    "named, also for every other part with enough notes), all sharing the sound files");
}

// Every option of build, in the order help lists them.
void addBuildOptions(CLI::App& sub, BuildOptions& options)
{
    auto& request = options.request;
    addConversionOptions(sub, options);
    sub.add_option_function<std::string>(
           "--soundfont", [&request](const std::string& text) { request.soundFont = utf8Path(text); },
           "General MIDI soundfont to render with")
        ->type_name("SF2");
    addChoiceOption(sub, "--format", request.format, kFormats, "ogg or wav");
    sub.add_option("--quality", request.quality, "OGG Vorbis quality, 0 to 1")->check(qualityCheck())->type_name("Q");
    addChoiceOption(sub, "--bgm", request.bgm, kBgmModes,
                    "the other tracks as keysounds, one a note at its tick (the default), as slices of whole "
                    "measures (bgm-001.ogg...), as one bgm.ogg, or none");
    sub.add_flag("--no-bgm", options.noBgm, "the same as --bgm none");
    sub.add_option_function<std::string>(
           "--loudness",
           [&request](const std::string& text) {
               request.loudness = text == "off" ? std::nullopt : parseDecimal(text);
           },
           "loudness of the whole autoplay in LUFS, true peak at most -1 dBTP (default -14), or off")
        ->check(loudnessCheck())
        ->type_name("LUFS|off");
    addLaneOptions(sub, request);
    sub.add_option("--difficulties", options.difficulties,
                   "charts to write, from beginner,normal,hyper,another,insane (default: normal,hyper,another, "
                   "and insane when another leaves notes out)")
        ->type_name("LIST");
    sub.add_option("--title", request.title, "#TITLE of the charts (default: the song's own name)")->type_name("TEXT");
    sub.add_option_function<std::string>(
           "--artist", [&request](const std::string& artist) { request.artist = artist; },
           "#ARTIST of the charts (default: the author the song's texts name, else its copyright holder)")
        ->type_name("TEXT");
    sub.add_option("--genre", request.charts.genre, "#GENRE of the charts (default: MIDI)")->type_name("TEXT");
    addChoiceOption(sub, "--text", request.text, kChartTexts,
                    "BMS header texts in Shift_JIS, a character without a form there in its Japanese kanji form "
                    "(the default), or utf-8: as given, in UTF-8 where Shift_JIS cannot hold them");
    sub.add_option_function<double>(
           "--preview-from", [&request](double seconds) { request.previewFrom = seconds; },
           "seconds into the song preview.ogg starts (default: where the song is fullest)")
        ->check(secondsOfADay())
        ->type_name("SECONDS");
    sub.add_option("--quantize", options.quantize,
                   "move the track's notes and their keysounds to the nearest line of 16, 24 or 32 a measure "
                   "(16ths, 16th triplets, 32nds), for a track played in rather than written to the beat")
        ->check(CLI::IsMember({"16", "24", "32"}).description(""))
        ->type_name("16|24|32");
    sub.add_flag("--verify", options.verify, "check that the folder sounds like the track; exit 1 if not");
    sub.add_option("--jobs", request.threads, "rendering threads (default: one per core, at most 8)")
        ->check(CLI::Range(1u, audio::kMostRenderThreads));
    sub.add_flag("--no-cache", options.noCache,
                 std::string("render and encode every sound again instead of taking those kept by earlier builds (") +
                     kKeptRendersFolder + ")");
    sub.add_flag(
        "--replace", request.replace,
        "replace the other song (or track) the output folder holds, removing its files, or files no build made");
}

// The request the options make for the track loaded: the conversion as convert makes it, and
// what the parser could not fill alone.
workflow::BuildRequest buildRequest(const BuildOptions& options, LoadedTrack loaded,
                                    convert::ConversionSettings settings,
                                    std::vector<chartset::Difficulty> difficulties,
                                    std::optional<chartset::LongNoteLength> longNoteLength)
{
    workflow::SongState state;
    state.outputFolder = utf8Path(options.out);
    workflow::openSong(state, utf8Path(options.file), std::move(loaded.song));
    auto request = options.request;
    request.conversion = workflow::conversionRequest(state, loaded.parts, std::move(settings));
    if (options.noBgm) {
        request.bgm = workflow::BgmMode::None;  // whichever of --bgm and --no-bgm came first
    }
    request.charts.difficulties = std::move(difficulties);
    request.charts.quantizeGrid = chartset::parseQuantizeGrid(options.quantize).value_or(0);
    request.charts.longNoteMinimum = longNoteLength.value_or(chartset::LongNoteLength{});
    request.replaceUnlisted = request.replace;
    if (!options.noCache) {
        request.cacheFolder = userCacheFolder();
    }
    return request;
}

// A build a signal stopped: what state it left the folder in, and the signal's exit code.
int reportStoppedBuild(const Result<workflow::BuildOutcome>& outcome, const workflow::BuildRequest& request)
{
    // Once the commit has begun the build finishes it (or undoes it): say which.
    std::string state = "the folder's earlier files are untouched";
    if (outcome) {
        // How the track keeps to the beat matters no more once the build is stopped.
        reportFindings(outcome->findings, findingContext(request), [](const workflow::Finding& finding) {
            return finding.code != workflow::FindingCode::PlayedIn;
        });
        state = "the signal came after the new build was in place in " + displayPath(request.conversion.outputFolder) +
                ", and the build is complete";
    } else if (outcome.error().code != ErrorCode::Cancelled) {
        state = outcome.error().message;
    }
    return *SignalStop::exitCodeIfStopped(state.c_str());
}

// Every file written and every chart's figures on stdout, then the audit's findings; the exit code.
int printBuild(const workflow::BuildOutcome& outcome, const workflow::BuildRequest& request)
{
    const auto& folder = request.conversion.outputFolder;
    Output out;
    for (const auto& chart : outcome.charts) {
        out.write("wrote " + displayPath(chart.path) + "\n");
    }
    out.write("wrote " + displayPath(outcome.conversion.keysoundMidiPath) + "\n");
    if (outcome.keysoundFiles.size() <= kListedFiles) {
        for (const auto& file : outcome.keysoundFiles) {
            out.write("wrote " + displayPath(file) + "\n");
        }
    } else {
        out.write("wrote " + std::to_string(outcome.keysoundFiles.size()) + " keysound files in " +
                  displayPath(folder) + "\n");
    }
    if (outcome.bgmFiles.size() == 1) {
        out.write("wrote " + displayPath(outcome.bgmFiles.front()) + "\n");
    } else if (!outcome.bgmFiles.empty()) {
        out.write("wrote " + std::to_string(outcome.bgmFiles.size()) + " BGM slices, " +
                  outcome.bgmFiles.front().filename().string() + " to " + outcome.bgmFiles.back().filename().string() +
                  "\n");
    }
    if (outcome.previewFile) {
        out.write("wrote " + displayPath(*outcome.previewFile) + "\n");
    }
    out.write(keysoundLine(outcome));
    for (const auto& chart : outcome.charts) {
        out.write(chartLine(chart, workflow::chartedParts(request.conversion)));
    }
    out.write(followedLine(outcome, request));
    out.write(partSetsLine(outcome.partSets));
    // The release checklist on what was written; its findings inform, the build stands.
    if (auto audit = runAudit(folder, request.cacheFolder, request.cacheBytes)) {
        // This build's staging folder went with its commit; one there now is another build's,
        // started on the folder since, and not this build's to report.
        std::erase_if(audit->findings, [](const workflow::AuditFinding& finding) {
            return finding.check == workflow::AuditCheck::BookkeepingFile && finding.file == base::StagingFolder::kName;
        });
        writeFindingsOnce(out, *audit);
    } else {
        reportWarning(audit.error().message);
    }
    return out.finishWithExitCode();
}

// --verify: the first chart is rendered and compared; every other one must play the same objects
// from the same files, which mix to the same sound. The exit code.
int verifyBuild(const workflow::BuildOutcome& outcome, const workflow::BuildRequest& request)
{
    const auto& first = outcome.charts.front().path;
    std::fputs(("checking " + displayPath(first) + "\n").c_str(), stdout);
    const int verified =
        runAndReportCheck(first, request.conversion.sourceMidiPath, workflow::chartedParts(request.conversion),
                          request.soundFont, request.threads);
    // The build itself is whole and committed: a failed check says so, not just that it failed.
    const auto inPlace = [&](const std::string& why) {
        reportError("the build is written and stays in " + displayPath(request.conversion.outputFolder) + ", but " +
                    why);
    };
    if (verified != kExitDone) {
        inPlace(displayPath(first) + " fails the check above");
        return verified;
    }
    for (std::size_t k = 1; k < outcome.charts.size(); ++k) {
        const auto& path = outcome.charts[k].path;
        const auto same = chartset::chartsPlayTheSame(first, path);
        if (!same) {
            reportError(same.error().message);
            return kExitBadInput;
        }
        const std::string line = "checking " + displayPath(path) + "\n" +
                                 (*same ? "passes: it plays what " : "FAILS: it does not play what ") +
                                 displayPath(first) + " plays\n";
        std::fputs(line.c_str(), stdout);
        if (!*same) {
            inPlace(displayPath(path) + " does not play what " + displayPath(first) + " plays");
            return kExitBadInput;
        }
    }
    return std::fflush(stdout) == 0 ? kExitDone : kExitBadInput;
}

// A finished build: its findings (a recovered commit first), the files written and, with
// `verify`, the check of its charts. The exit code.
int reportBuild(const workflow::BuildOutcome& outcome, const workflow::BuildRequest& request, bool verify)
{
    reportFindings(outcome.findings, findingContext(request), isRecovery);
    reportMerging(request.conversion.settings, outcome.conversion.keysounds);
    reportFindings(outcome.findings, findingContext(request),
                   [](const workflow::Finding& finding) { return !isRecovery(finding); });
    if (outcome.loudness) {
        std::fprintf(stderr, "%s\n", loudnessLine(*outcome.loudness).c_str());
    }
    const int written = printBuild(outcome, request);
    if (written != kExitDone || !verify) {
        return written;
    }
    return verifyBuild(outcome, request);
}

int runBuildCommand(const BuildOptions& options, const CLI::App& command)
{
    if (refuseEmpty(options.out, "--out")) {
        return kExitUsage;
    }
    std::vector<chartset::Difficulty> difficulties;
    if (command.count("--difficulties") > 0) {
        auto parsed = chartset::parseDifficulties(options.difficulties);
        if (!parsed) {
            reportError("--difficulties: " + parsed.error().message);
            return kExitUsage;
        }
        difficulties = std::move(parsed).value();
    }
    // A long-note length with its unit is the set's to apply, by time: the conversion then hands
    // over every held note.
    if (const auto refusal = longMinRefusal(options.texts.longNoteMinimum)) {
        reportError(*refusal);
        return kExitBadInput;
    }
    const auto longNoteLength = chartset::parseLongNoteLength(options.texts.longNoteMinimum);
    ConversionOptions conversion = options;
    if (longNoteLength) {
        conversion.texts.longNoteMinimum = "1";
    }
    auto settings = conversionSettings(command, conversion);
    if (!settings) {
        return kExitBadInput;
    }
    NullProgress quiet;
    auto loaded = loadTrack(options.file, options.track, quiet);
    if (!loaded) {
        return loaded.exitCode;
    }
    if (loaded.song.warning) {
        reportWarning(*loaded.song.warning);
    }
    const auto request =
        buildRequest(options, std::move(loaded), std::move(settings).value(), std::move(difficulties), longNoteLength);
    // The output folder is made for command-line users (and removed again if the build is
    // refused before writing anything).
    const auto outcome = runStoppable("converting", "note starts and ends",
                                      [&](ProgressSink& stop) { return workflow::runBuild(request, stop); });
    if (SignalStop::received()) {
        return reportStoppedBuild(outcome, request);
    }
    if (!outcome) {
        const bool replaceable =
            outcome.error().code == ErrorCode::WouldReplaceChart && outcome.error().subject != "folder";
        reportError(outcome.error().message + (replaceable ? " (--replace builds it anyway)" : ""));
        return kExitBadInput;
    }
    return reportBuild(*outcome, request, options.verify);
}

}  // namespace

Command addBuildCommand(CLI::App& app)
{
    auto options = std::make_shared<BuildOptions>();
    Command command;
    command.app = app.add_subcommand(
        "build", "Convert one track, render its keysounds and the rest of the song: a folder that plays");
    addBuildOptions(*command.app, *options);
    command.run = [options, sub = command.app] { return runBuildCommand(*options, *sub); };
    return command;
}

}  // namespace zentrowe::cli
