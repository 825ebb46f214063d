#include "core/workflow/build_plan.h"

#include <algorithm>
#include <optional>

#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/utf8_path.h"
#include "core/chart/code_numbering.h"
#include "core/convert/keysound_name.h"
#include "core/workflow/keysound_jobs.h"
#include "core/workflow/lead_in.h"
#include "core/workflow/preview.h"

namespace zentrowe::workflow {

namespace {

std::string hoursAndMinutes(std::int64_t frames)
{
    const std::int64_t minutes = frames / audio::kSampleRate / 60;
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

// The BGM's refusal when it would last past the longest rendering, naming the first track but
// the chosen one whose sequence lasts past it.
std::optional<Error> bgmTooLong(const PreparedSong& prepared, const BuildRequest& request,
                                std::span<const audio::TimedEvent> bgmEvents)
{
    constexpr std::int64_t kLatestStart = audio::kLongestRenderFrames - kBgmTailFrames;
    if (bgmEvents.empty() || bgmEvents.back().frame <= kLatestStart) {
        return std::nullopt;
    }
    int latestTrack = 0;
    for (std::size_t index = 0; index < prepared.trackEndTicks.size(); ++index) {
        const std::int64_t endTick = prepared.trackEndTicks[index];
        const int track = static_cast<int>(index) + 1;
        if (track != request.conversion.trackNumber && endTick >= 0 &&
            prepared.timeline.frame(endTick, audio::kSampleRate) > kLatestStart) {
            latestTrack = track;
            break;
        }
    }
    const std::string length = hoursAndMinutes(bgmEvents.back().frame);
    return Error{ErrorCode::TooLong, "track " + std::to_string(latestTrack) + " plays until " + length +
                                         ": one BGM file would be longer than an hour, the longest rendering; "
                                         "build it in slices (--bgm slices) or without the BGM (--bgm none); "
                                         "nothing was written"}
        .about("bgm")
        .withValue(length)
        .withNumber(latestTrack);
}

// "out/a.wav", "out/a.wav and out/b.wav", "out/a.wav, out/b.wav and 3 more".
std::string listed(const std::vector<std::filesystem::path>& paths)
{
    constexpr std::size_t kNamed = 2;
    std::string text = displayPath(paths.front());
    for (std::size_t k = 1; k < std::min(paths.size(), kNamed); ++k) {
        text += (k + 1 == paths.size() ? " and " : ", ") + displayPath(paths[k]);
    }
    if (paths.size() > kNamed) {
        text += " and " + std::to_string(paths.size() - kNamed) + " more";
    }
    return text;
}

// What the build may replace in the folder: what the manifest lists, the manifest itself, and the
// files no build made that `replacing` names. Before anything is rendered it refuses a name of
// `outputs` taken by a folder, or by a file no build made unless request.replaceUnlisted lets it
// replace the file (it is then added to `replacing`): a user's own folder or hand-made chart
// under a name the build writes is the user's, not a leftover.
Result<std::set<std::string>> replaceableNames(const std::vector<std::string>& outputs, const BuildManifest& manifest,
                                               const BuildRequest& request, const FileSystem& fileSystem,
                                               std::vector<std::filesystem::path>& replacing)
{
    const auto& folder = request.conversion.outputFolder;
    std::vector<std::filesystem::path> folders;
    std::vector<std::filesystem::path> files;
    std::set<std::string> replaceable{kBuildManifestFileName};
    for (const auto& record : manifest.builds) {
        replaceable.insert(record.chart);
        replaceable.insert(record.files.begin(), record.files.end());
    }
    for (const auto& name : outputs) {
        const auto kind = fileSystem.status(folder / utf8Path(name)).kind;
        if (kind == FileKind::Folder) {
            folders.push_back(folder / utf8Path(name));
        } else if (kind == FileKind::File && replaceable.count(name) == 0) {
            files.push_back(folder / utf8Path(name));
        }
    }
    if (!folders.empty()) {
        const bool one = folders.size() == 1;
        return Error{ErrorCode::WouldReplaceChart,
                     listed(folders) + (one ? " is a folder" : " are folders") +
                         " where the build would write a file of that name, and a build never replaces a folder: "
                         "move or rename " +
                         (one ? "it" : "them") + "; nothing was written"}
            .inFile(displayPath(folders.front()))
            .about("folder")
            .withNumber(static_cast<std::int64_t>(folders.size()));
    }
    if (!files.empty() && !request.replaceUnlisted) {
        const bool one = files.size() == 1;
        return Error{ErrorCode::WouldReplaceChart, listed(files) + (one ? " was" : " were") + " not made by a build (" +
                                                       kBuildManifestFileName + " does not list " +
                                                       (one ? "it" : "them") + ") and building would replace " +
                                                       (one ? "it" : "them") + "; nothing was written"}
            .inFile(displayPath(files.front()))
            .about("file")
            .withNumber(static_cast<std::int64_t>(files.size()));
    }
    for (const auto& file : files) {
        replaceable.insert(file.filename().string());
    }
    replacing = std::move(files);
    return replaceable;
}

// The other tracks' events and the BGM files request.bgm asks for of them, or why there are none.
Status planBgmFiles(BuildPlan& plan, const BuildRequest& request, const PreparedSong& prepared,
                    const ConversionOutcome& conversion, const std::string& extension)
{
    if (request.bgm == BgmMode::None) {
        return {};
    }
    const auto& song = request.conversion.song;
    plan.bgmEvents = prepared.otherParts;
    const bool hasNotes = std::any_of(plan.bgmEvents.begin(), plan.bgmEvents.end(), [](const audio::TimedEvent& event) {
        return (event.status & 0xF0) == 0x90 && event.data2 != 0;
    });
    if (!hasNotes) {
        if (request.charts.chosenParts == 0 && request.charts.tuneParts == 0) {  // else the charts hold them
            plan.skipped.push_back(SkipReason::NoOtherNotes);
        }
        return {};
    }
    if (request.bgm == BgmMode::Keysounds) {
        return {};  // the notes are keysounds of their own: planBackgroundKeysounds
    }
    if (request.bgm == BgmMode::One) {
        if (auto tooLong = bgmTooLong(prepared, request, plan.bgmEvents)) {
            return *tooLong;
        }
    }
    auto bgm = planBgm(request.bgm, {plan.bgmEvents.begin(), plan.bgmEvents.end()}, song, conversion.keysounds,
                       request.conversion.settings.bmson, extension);
    if (bgm.skipped) {
        plan.skipped.push_back(*bgm.skipped);
    }
    plan.bgmSlicesWanted = bgm.slicesWanted;
    plan.bgmFiles = std::move(bgm.files);
    for (const auto& bgmFile : plan.bgmFiles) {
        audio::RenderJob job;
        job.target = plan.stage / bgmFile.name;
        job.name = plan.bgmFiles.size() == 1 ? "the BGM" : "BGM slice " + bgmFile.name;
        job.sequence = true;
        job.events = bgmFile.events;
        job.tailFrames = kBgmTailFrames;
        plan.jobs.push_back(std::move(job));
        if (bgmFile.name.rfind("bgm-", 0) == 0) {
            plan.sliceTargets.insert(plan.stage / bgmFile.name);
        }
    }
    return {};
}

// A coarser merging of every keysound (the lanes' and, with `background`, the other tracks') that
// gives each a code, the mildest of kReliefSteps that does; none if none does.
std::optional<CodeRelief> codeRelief(const BuildRequest& request, const PreparedSong& prepared,
                                     const convert::KeysoundTable& lanes, const CodeDemand& demand, bool background)
{
    const auto& settings = request.conversion.settings;
    const auto& song = request.conversion.song;
    for (const auto& [velocityStep, lengthStep] : kReliefSteps) {
        const convert::KeysoundMerge merge{
            std::max(velocityStep, settings.merge.velocityStep),
            settings.merge.lengthStep == 0 && lengthStep == 0 ? 0 : std::max(lengthStep, settings.merge.lengthStep)};
        if (merge.velocityStep == settings.merge.velocityStep && merge.lengthStep == settings.merge.lengthStep) {
            continue;
        }
        std::size_t count = keysoundsMergedAgain(lanes, merge, song.ticksPerMeasure);
        if (background) {
            auto coarser = settings;
            coarser.merge = merge;
            count += backgroundKeysounds(prepared, song, coarser).table.size();
        }
        if (!codesExhausted({count, 0, demand.startValue, demand.base62, false}, std::nullopt)) {
            return CodeRelief{merge.velocityStep, merge.lengthStep, count};
        }
    }
    return std::nullopt;
}

// The other tracks' notes as keysounds (with BgmMode::Keysounds), under the codes after the
// lanes' keysounds: their render jobs and file names. Refuses, before anything is rendered,
// keysounds past the last code and a background note past measure 999 of a BMS chart.
Status planBackgroundKeysounds(BuildPlan& plan, const BuildRequest& request, const PreparedSong& prepared,
                               const convert::KeysoundTable& lanes, BackgroundKeysounds background,
                               KeysoundRendering rendering)
{
    const bool bmson = request.conversion.settings.bmson;
    const std::int32_t ticksPerMeasure = request.conversion.song.ticksPerMeasure;
    // A code per file: keysounds whose lengths round to one file name share it.
    const CodeDemand demand{plan.keysoundJobs.size(), background.table.size(), lanes.startValue(), lanes.base62(),
                            bmson};
    if (codesExhausted(demand, std::nullopt)) {
        return *codesExhausted(demand, codeRelief(request, prepared, lanes, demand, !background.table.empty()));
    }
    if (!bmson && !background.notes.empty() && background.notes.back().tick / ticksPerMeasure > kLastBmsMeasure) {
        const std::int64_t measure = background.notes.back().tick / ticksPerMeasure;
        return Error{ErrorCode::MeasureOutOfRange,
                     "a note of the other tracks falls in measure " + std::to_string(measure) +
                         ", but a BMS chart holds measures 000 to 999 only; a bmson chart (--chart-format bmson) "
                         "or BGM slices (--bgm slices) hold it"}
            .withNumber(measure);
    }
    rendering.keysoundName += kBackgroundStemMark;
    plan.backgroundJobs = keysoundJobs(background.table, background.sounds, rendering);
    for (std::size_t k = 0; k < background.table.size(); ++k) {
        plan.backgroundFileNames.push_back(
            background.stem(request.conversion.settings.keysoundName, k, ticksPerMeasure) + rendering.extension);
    }
    plan.backgroundFirstCode = bmson ? static_cast<chart::ChartCode>(lanes.size() + 1)
                                     : static_cast<chart::ChartCode>(lanes.codeValue(lanes.size()));
    for (const auto& job : plan.backgroundJobs) {
        plan.keysoundNames.push_back(job.name);
        plan.jobs.push_back(job);
    }
    plan.background = std::move(background);
    return {};
}

// The jobs of the files some chart of the set places: a note of no length that the song doubles
// with a longer one at its tick is placed once, as the longer, and its own file would sound nowhere.
std::vector<audio::RenderJob> placedKeysoundJobs(std::vector<audio::RenderJob> jobs,
                                                 std::span<const chartset::SetChart> charts)
{
    std::set<std::string> placed;
    for (const auto& made : charts) {
        placed.merge(chart::placedFileNames(made.chart));
    }
    std::erase_if(jobs, [&](const audio::RenderJob& job) { return placed.count(job.name) == 0; });
    return jobs;
}

// Each file is written under a temporary name first, which must fit the file system's limit too:
// the channel states of the track lengthen the keysound names past what the keysound name's own
// limit allows for.
Status checkKeysoundFileNames(const BuildPlan& plan, const BuildRequest& request)
{
    constexpr std::size_t kLongestKeysoundFile = convert::kLongestFileName - kTemporaryNameExtraBytes;
    std::size_t longest = 0;
    for (const auto& name : plan.keysoundNames) {
        longest = std::max(longest, name.size());
    }
    if (longest <= kLongestKeysoundFile) {
        return {};
    }
    const std::size_t over = longest - kLongestKeysoundFile;
    const std::size_t nameBytes = request.conversion.settings.keysoundName.size();
    return Error{ErrorCode::InvalidSetting,
                 "with this track's channel states the keysound files would be named up to " + std::to_string(longest) +
                     " bytes, and a build's file names allow " + std::to_string(kLongestKeysoundFile) +
                     " (255 less its temporary name's " + std::to_string(kTemporaryNameExtraBytes) +
                     "): shorten the keysound name to " + std::to_string(nameBytes > over ? nameBytes - over : 0) +
                     " bytes"}
        .about("keysoundFileNameLength")
        .withNumber(static_cast<std::int64_t>(nameBytes > over ? nameBytes - over : 0));
}

// Every name the build writes into the folder.
std::vector<std::string> outputNames(const BuildPlan& plan)
{
    std::vector<std::string> outputs = plan.keysoundNames;
    for (const auto& bgmFile : plan.bgmFiles) {
        outputs.push_back(bgmFile.name);
    }
    outputs.insert(outputs.end(), {kKeysoundMidiFileName, kPreviewFileName, kBuildManifestFileName});
    for (const auto& made : plan.charts) {
        outputs.push_back(made.fileName);
    }
    return outputs;
}

}  // namespace

const BuildRecord* otherSongsRecord(const BuildManifest& manifest, const BuildRequest& request,
                                    std::string_view songHash)
{
    const std::string songName = request.conversion.sourceMidiPath.filename().string();
    for (const auto& record : manifest.builds) {
        if (!isSameSong(record, songName, songHash, request.conversion.trackNumber)) {
            return &record;
        }
    }
    return nullptr;
}

Error anotherSongsFolder(const BuildRecord& other, const BuildRequest& request)
{
    const auto& folder = request.conversion.outputFolder;
    const std::string songName = request.conversion.sourceMidiPath.filename().string();
    const std::string madeFrom = "track " + std::to_string(other.track) + " of " + other.song;
    return Error{ErrorCode::WouldReplaceChart, displayPath(folder / utf8Path(other.chart)) + " was built from " +
                                                   madeFrom + ", and a folder holds one song: building track " +
                                                   std::to_string(request.conversion.trackNumber) + " of " + songName +
                                                   " into it would replace that song's files; nothing was written"}
        .inFile(displayPath(folder / utf8Path(other.chart)))
        .withValue(madeFrom)
        .withNumber(other.track);
}

Result<BuildPlan> planBuild(const BuildRequest& request, const PreparedSong& prepared,
                            const ConversionOutcome& conversion, const keysound::KeysoundStates& states,
                            BackgroundKeysounds background, const BuildManifest& manifest,
                            const std::filesystem::path& stage, const FileSystem& fileSystem)
{
    const auto& song = request.conversion.song;
    const auto& settings = request.conversion.settings;
    const auto extension = std::string(audio::soundFileExtension(request.format));
    BuildPlan plan;
    plan.stage = stage;
    plan.chartName = convertedChartFileName(request.conversion);
    if (auto bgm = planBgmFiles(plan, request, prepared, conversion, extension); !bgm) {
        return bgm.error();
    }
    std::uint32_t keysoundTempo = conversion.keysoundSong.tempoMicros;
    if (keysoundTempo == 0) {
        keysoundTempo = song::kDefaultTempoMicros;
    }
    const KeysoundRendering rendering{
        stage, settings.keysoundName, extension, song.ticksPerQuarter, song.ticksPerMeasure, keysoundTempo};
    // Made before rendering so that their names are checked with the others, and only the
    // keysounds they place are rendered.
    plan.charts = chartset::makePartSets(conversion.chart, conversion.keysounds, song, plan.chartName, request.charts,
                                         settings.percussion);
    plan.keysoundJobs = placedKeysoundJobs(keysoundJobs(conversion.keysounds, states, rendering), plan.charts);
    for (const auto& job : plan.keysoundJobs) {
        plan.keysoundNames.push_back(job.name);
        plan.jobs.push_back(job);
    }
    if (auto placed =
            planBackgroundKeysounds(plan, request, prepared, conversion.keysounds, std::move(background), rendering);
        !placed) {
        return placed.error();
    }
    if (auto names = checkKeysoundFileNames(plan, request); !names) {
        return names.error();
    }
    auto replaceable = replaceableNames(outputNames(plan), manifest, request, fileSystem, plan.replacing);
    if (!replaceable) {
        return replaceable.error();
    }
    plan.replaceable = std::move(replaceable).value();
    return plan;
}

}  // namespace zentrowe::workflow
