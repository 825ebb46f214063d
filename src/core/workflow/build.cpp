#include "core/workflow/build.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "core/audio/preview_writer.h"
#include "core/audio/song_sequence.h"
#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/folder_lock.h"
#include "core/base/job_runner.h"
#include "core/base/number_text.h"
#include "core/base/staging_folder.h"
#include "core/base/text_decoding.h"
#include "core/base/utf8_path.h"
#include "core/chart/bms_writer.h"
#include "core/chart/bmson_writer.h"
#include "core/convert/chart_lines.h"
#include "core/convert/keysound_name.h"
#include "core/keysound/keysound_midi_writer.h"
#include "core/keysound/keysound_states.h"
#include "core/song/channel_state.h"
#include "core/song/song_credits.h"
#include "core/song/song_events.h"
#include "core/workflow/build_charts.h"
#include "core/workflow/build_commit.h"
#include "core/workflow/build_conversion.h"
#include "core/workflow/build_manifest.h"
#include "core/workflow/build_plan.h"
#include "core/workflow/build_records.h"
#include "core/workflow/build_services.h"
#include "core/workflow/kept_mix.h"
#include "core/workflow/keysound_jobs.h"
#include "core/workflow/lead_in.h"
#include "core/workflow/loudness_pass.h"
#include "core/workflow/part_set_plan.h"
#include "core/workflow/prepared_song.h"
#include "core/workflow/preview.h"
#include "core/workflow/silent_keysounds.h"
#include "core/workflow/song_parts.h"
#include "core/workflow/sounding_chart.h"
#include "core/workflow/unchanged_files.h"

namespace zentrowe::workflow {

namespace {

// Where the preview starts in the song, in seconds: `previewFrom` seconds into it (at the latest
// the last note's start, where the mixer still finds a sound), else the song's hook (every
// track's notes).
double previewStartSeconds(const BuildRequest& request, const PreparedSong& prepared,
                           std::span<const audio::TimedEvent> bgmEvents)
{
    // The charted parts' notes as prepared, as Note Ons at their frames.
    std::vector<audio::TimedEvent> events;
    events.reserve(prepared.notes.notes.size() + bgmEvents.size());
    for (const auto& note : prepared.notes.notes) {
        events.push_back({prepared.timeline.frame(note.startTick, audio::kSampleRate),
                          static_cast<std::uint8_t>(0x90 | note.channel), note.note, note.velocity});
    }
    if (request.previewFrom) {
        std::int64_t lastStart = 0;
        for (const auto& event : events) {
            if ((event.status & 0xF0) == 0x90 && event.data2 != 0) {
                lastStart = std::max(lastStart, event.frame);
            }
        }
        const double latest = static_cast<double>(lastStart) / audio::kSampleRate;
        return std::clamp(*request.previewFrom, 0.0, latest);
    }
    events.insert(events.end(), bgmEvents.begin(), bgmEvents.end());
    return hookStartSeconds(events, kFolderPreviewSeconds);
}

// The presets the keysounds and the BGM ask for that the soundfont lacks, and what plays
// instead (as the synthesiser substitutes: the same program in bank 0, else program 0).
std::vector<MissingInstrument> missingInstruments(const audio::Renderer& renderer,
                                                  const std::vector<audio::Instrument>& keysoundInstruments,
                                                  std::span<const audio::TimedEvent> bgmEvents)
{
    std::vector<std::pair<audio::Instrument, bool>> asked;  // the instrument, whether for the BGM
    auto ask = [&](const audio::Instrument& instrument, bool bgm) {
        const bool known =
            std::any_of(asked.begin(), asked.end(), [&](const auto& a) { return a.first == instrument; });
        if (!known) {
            asked.emplace_back(instrument, bgm);
        }
    };
    for (const auto& instrument : keysoundInstruments) {
        ask(instrument, false);
    }
    song::ChannelStates channels;
    for (const auto& event : bgmEvents) {
        const song::ChannelEvent channelEvent{event.status, event.data1, event.data2};
        if (channelEvent.kind() == 0x90 && event.data2 != 0) {
            const auto instrument = channels.instrument(channelEvent.channel());
            ask(audio::Instrument{instrument.bank, instrument.program, instrument.drums}, true);
        } else {
            channels.apply(channelEvent);
        }
    }
    std::vector<MissingInstrument> missing;
    for (const auto& [instrument, bgm] : asked) {
        if (renderer.hasPreset(instrument)) {
            continue;
        }
        MissingInstrument entry{instrument, std::nullopt, bgm};
        const std::vector<audio::Instrument> substitutes =
            instrument.drums ? std::vector<audio::Instrument>{{0, 0, true}}
                             : std::vector<audio::Instrument>{{0, instrument.program, false}, {0, 0, false}};
        for (const auto& substitute : substitutes) {
            if (renderer.hasPreset(substitute)) {
                entry.playedBy = substitute;
                break;
            }
        }
        missing.push_back(entry);
    }
    return missing;
}

// Takes out of the commit's moves the files the folder holds already with the same bytes: those
// the writers left where they were, and those staged (the keysound MIDI file, say) whose bytes
// the folder's file of that name has. They stay listed, so the commit never removes them.
void keepUnchanged(CommitList& commit, UnchangedFiles& unchanged)
{
    std::erase_if(commit.moves, [&](const std::string& name) { return unchanged.noteIfStagedSame(name); });
}

// The build's first renderer, opened on a thread of its own while the song is read, converted
// and planned: loading a General MIDI soundfont takes a second or more, and every other renderer
// of the build shares the samples it loaded.
class FirstRenderer final {
public:
    explicit FirstRenderer(const audio::RendererFactory& renderers)
        : m_opening(
              [this, &renderers](std::size_t, JobContext&) -> Status {
                  auto opened = renderers();
                  if (!opened) {
                      return opened.error();
                  }
                  m_renderer = std::move(opened).value();
                  return {};
              },
              JobOptions{1, "opening the soundfont", {}})
    {
    }

    // The renderer, once opened; its error if it could not be. Once only.
    Result<std::unique_ptr<audio::Renderer>> take()
    {
        if (const auto& opened = m_opening.wait(); !opened) {
            return opened.error();
        }
        return std::move(m_renderer);
    }

    // The renderer's error where it could not be opened, else `error`.
    Error failedFirst(Error error)
    {
        const auto& opened = m_opening.wait();
        return opened ? std::move(error) : opened.error();
    }

private:
    std::unique_ptr<audio::Renderer> m_renderer;
    BackgroundJob m_opening;  // after m_renderer, which its job fills
};

// The folder a build writes into, held for the build's length: locked, with a staging folder in
// which every file is written before any replaces one of the folder's (a commit a killed build
// left unfinished is finished or undone first), and the manifest of what earlier builds made.
class StagedBuild {
public:
    static Result<StagedBuild> open(const std::filesystem::path& folder, FileSystem& fileSystem)
    {
        auto lock = FolderLock::acquire(folder);
        if (!lock) {
            return lock.error();
        }
        auto staging = base::StagingFolder::create(folder, fileSystem);
        if (!staging) {
            return staging.error();
        }
        auto manifest = readBuildManifest(folder);
        std::set<std::string> built;
        for (const auto& record : manifest.builds) {
            built.insert(record.files.begin(), record.files.end());
        }
        auto unchanged = std::make_unique<UnchangedFiles>(folder, staging->path(), std::move(built), fileSystem);
        return StagedBuild(std::move(lock).value(), std::move(staging).value(), std::move(manifest),
                           std::move(unchanged));
    }

    base::StagingFolder& staging() { return m_staging; }
    const std::filesystem::path& stage() const { return m_staging.path(); }
    const BuildManifest& manifest() const { return m_manifest; }
    BuildManifest takeManifest() { return std::move(m_manifest); }
    // The files of the folder a rebuild leaves where they are; lives as long as the build.
    UnchangedFiles& unchanged() { return *m_unchanged; }

    // A failure before the commit, worded as every such failure is: the folder is as it was. A
    // refusal that says nothing was written says so itself.
    static Error failed(Error error)
    {
        if (error.code == ErrorCode::Cancelled) {
            error.message = "build cancelled";
        }
        constexpr std::string_view kNothingWritten = "nothing was written";
        if (!error.message.ends_with(kNothingWritten)) {
            error.message += "; the folder's earlier files are untouched";
        }
        return error;
    }

private:
    StagedBuild(FolderLock lock, base::StagingFolder staging, BuildManifest manifest,
                std::unique_ptr<UnchangedFiles> unchanged)
        : m_lock(std::move(lock)),
          m_staging(std::move(staging)),
          m_manifest(std::move(manifest)),
          m_unchanged(std::move(unchanged))
    {
    }

    FolderLock m_lock;
    base::StagingFolder m_staging;
    BuildManifest m_manifest;
    std::unique_ptr<UnchangedFiles> m_unchanged;
};

// What the files and the set's charts are once the keysounds `silentNames` rendered as silence:
// those are never written, their notes leave the converted chart (outcome.silentKeysounds) and
// the set is made again without them. SilentRecording when every keysound is silent.
Result<RenderResult> renderedWithout(const BuildPlan& plan, BuildOutcome& outcome, const BuildRequest& request,
                                     std::set<std::string> silentNames)
{
    RenderResult result{std::move(silentNames), plan.keysoundNames, {}, plan.charts};
    const auto& silent = result.silentNames;
    const auto laneSilent = std::count_if(plan.keysoundJobs.begin(), plan.keysoundJobs.end(),
                                          [&](const audio::RenderJob& job) { return silent.count(job.name) != 0; });
    std::erase_if(result.keysoundNames, [&](const std::string& name) { return silent.count(name) != 0; });
    for (const auto& job : plan.jobs) {
        if (job.sequence || silent.count(job.name) == 0) {
            result.encodeTargets.push_back(job.target);
        }
    }
    if (laneSilent == 0) {
        return result;  // the background's silent keysounds leave with addBackgroundToCharts
    }
    std::vector<audio::Instrument> unplayable;
    for (const auto& missing : outcome.missingInstruments) {
        if (!missing.playedBy && !missing.inBgm) {
            unplayable.push_back(missing.instrument);
        }
    }
    outcome.silentKeysounds = dropSilentNotes(outcome.conversion.chart, plan.keysoundJobs, silent, unplayable);
    if (static_cast<std::size_t>(laneSilent) == plan.keysoundJobs.size()) {
        return allKeysoundsSilent(outcome.silentKeysounds, request.conversion.trackNumber, request.soundFont);
    }
    result.charts =
        chartset::makePartSets(outcome.conversion.chart, outcome.conversion.keysounds, request.conversion.song,
                               plan.chartName, request.charts, request.conversion.settings.percussion);
    return result;
}

// Renders every job of the plan through `writer`, and gives what the files and the set's charts
// then are (renderedWithout the keysounds that rendered as silence).
Result<RenderResult> renderSounds(const BuildPlan& plan, BuildOutcome& outcome,
                                  std::unique_ptr<audio::Renderer> firstRenderer, const BuildRequest& request,
                                  const BuildServices& services, audio::SoundWriter writer, ProgressSink& progress)
{
    progress.beginStage(ProgressStage::Rendering);
    std::set<std::filesystem::path> keysoundTargets;
    for (const auto* jobs : {&plan.keysoundJobs, &plan.backgroundJobs}) {
        for (const auto& job : *jobs) {
            keysoundTargets.insert(job.target);
        }
    }
    SilenceFilter silence(std::move(keysoundTargets));
    const auto rendered = audio::renderAll(plan.jobs, std::move(firstRenderer), services.renderers,
                                           silence.writerFor(std::move(writer)), request.threads, progress);
    if (!rendered) {
        return rendered.error();
    }
    return renderedWithout(plan, outcome, request, silence.silentNames());
}

// With every note a keysound: the other tracks' notes into every chart of the set at their ticks
// on the background channel, but those of keysounds that rendered as silence, which
// outcome.silentKeysounds then lists too.
void addBackgroundToCharts(const BuildPlan& plan, RenderResult& rendered, BuildOutcome& outcome,
                           const BuildRequest& request)
{
    if (plan.backgroundJobs.empty()) {
        return;
    }
    std::vector<audio::Instrument> unplayable;
    for (const auto& missing : outcome.missingInstruments) {
        if (!missing.playedBy) {
            unplayable.push_back(missing.instrument);
        }
    }
    for (std::size_t k = 0; k < rendered.charts.size(); ++k) {
        auto& chart = rendered.charts[k].chart;
        addBackgroundKeysounds(chart, plan.background, plan.backgroundFileNames, plan.backgroundFirstCode,
                               request.conversion.song.ticksPerMeasure);
        auto silent = dropSilentNotes(chart, plan.backgroundJobs, rendered.silentNames, unplayable);
        if (k == 0) {
            outcome.silentBackgroundKeysounds = silent.size();
            for (const auto& entry : silent) {
                outcome.backgroundNotes -= entry.noteCount;
            }
            outcome.silentKeysounds.insert(outcome.silentKeysounds.end(), silent.begin(), silent.end());
        }
    }
    outcome.backgroundNotes += static_cast<std::int64_t>(plan.background.notes.size());
    outcome.backgroundKeysoundFiles = static_cast<std::size_t>(
        std::count_if(plan.backgroundJobs.begin(), plan.backgroundJobs.end(),
                      [&](const audio::RenderJob& job) { return rendered.silentNames.count(job.name) == 0; }));
}

// What a build with a loudness asked for brings its mix to: request.loudness, -1 dBTP at most.
audio::LoudnessTarget loudnessTarget(const BuildRequest& request)
{
    return {request.loudness.value_or(0), -1};
}

// With a loudness asked for: measures the mix of every sound the set's charts play (`sounding`,
// see soundingChart) from the kept renders and encodes every file with the one gain that brings
// the mix there. The gain owes nothing to the chart options, so a rebuild with other ones hands
// the encoder the same samples, and the kept sounds have every file already.
Result<std::optional<audio::LoudnessGain>> normaliseSounds(const RenderResult& rendered, const chart::Chart& sounding,
                                                           const BuildRequest& request, LoudnessPass& loudness,
                                                           const audio::SoundWriter& writer, ProgressSink& progress)
{
    if (!request.loudness) {
        return std::optional<audio::LoudnessGain>();
    }
    progress.beginStage(ProgressStage::Mixing);
    auto gain = loudness.measure(sounding, loudnessTarget(request), request.threads, progress);
    if (!gain) {
        return gain.error();
    }
    progress.beginStage(ProgressStage::Rendering);
    if (auto encoded = loudness.encode(rendered.encodeTargets, gain->gainDb, writer, request.threads, progress);
        !encoded) {
        return encoded.error();
    }
    return std::optional<audio::LoudnessGain>(*gain);
}

// "preview.ogg" (the charts already name it), mixed from every sound the set plays (`sounding`,
// in the song's own time: no lead-in) out of what `held` holds, else the files just written or
// left unchanged in the folder; written through `writer`.
Status writeFolderPreview(const BuildPlan& plan, const RenderResult& rendered, const chart::Chart& sounding,
                          const BuildRequest& request, const PreparedSong& prepared, const audio::HeldSounds* held,
                          const audio::SoundWriter& writer, ProgressSink& progress)
{
    progress.beginStage(ProgressStage::Previewing);
    auto previewRequest = folderPreviewRequest(plan.stage / utf8Path(rendered.charts.front().fileName));
    previewRequest.outputPath = plan.stage / kPreviewFileName;
    previewRequest.fromFirstSound = false;
    previewRequest.atMostLastSound = true;
    previewRequest.fromSeconds = previewStartSeconds(request, prepared, plan.bgmEvents);
    previewRequest.held = held;
    previewRequest.oggWriter = writer;
    previewRequest.fallbackFolder = request.conversion.outputFolder;  // the files a rebuild left there
    const auto preview = writeTimedChartPreview(chart::timeChart(chart::ChartReading{sounding, 0, {}}), plan.stage,
                                                previewRequest, progress);
    if (!preview) {
        return preview.error();
    }
    return {};
}

// Where the set's lanes take another part than the chosen ones.
std::vector<FollowedStretch> followedOf(const RenderResult& rendered, const PreparedSong& prepared)
{
    if (rendered.charts.empty()) {
        return {};
    }
    return followedStretches(rendered.charts.front().report.borrowed, prepared.parts, prepared.timeline);
}

// The outcome names the files where they are once committed.
void placeOutcome(BuildOutcome& outcome, const BuildPlan& plan, const RenderResult& rendered,
                  const std::filesystem::path& folder, const SoundLengthRule& lengthRule)
{
    outcome.conversion.chartPath = folder / utf8Path(rendered.charts.front().fileName);
    for (const auto& made : rendered.charts) {
        outcome.charts.push_back({folder / utf8Path(made.fileName), made.report});
    }
    outcome.conversion.keysoundMidiPath = folder / kKeysoundMidiFileName;
    for (const auto& name : rendered.keysoundNames) {
        outcome.keysoundFiles.push_back(folder / utf8Path(name));
    }
    for (const auto& bgmFile : plan.bgmFiles) {
        outcome.bgmFiles.push_back(folder / bgmFile.name);
    }
    outcome.previewFile = folder / kPreviewFileName;
    for (const auto* files : {&outcome.keysoundFiles, &outcome.bgmFiles}) {
        for (const auto& path : *files) {
            outcome.soundFileBytes += fileSize(path).value_or(0);
        }
    }
    for (const auto& long_ : lengthRule.pastTheRule()) {
        outcome.longSoundFiles.push_back({folder / long_.path.filename(), long_.seconds});
    }
}

// What the plan found before rendering, in the outcome.
void takePlanFindings(BuildOutcome& outcome, const BuildPlan& plan, const audio::Renderer& renderer)
{
    std::vector<audio::Instrument> instruments;
    for (const auto& job : plan.keysoundJobs) {
        instruments.push_back(job.note.instrument);
    }
    const bool bgmPlayed = !plan.bgmFiles.empty() || !plan.backgroundJobs.empty();
    outcome.missingInstruments =
        missingInstruments(renderer, instruments, bgmPlayed ? plan.bgmEvents : std::span<const audio::TimedEvent>());
    outcome.skipped.insert(outcome.skipped.end(), plan.skipped.begin(), plan.skipped.end());
    outcome.bgmSlicesWanted = plan.bgmSlicesWanted;
    outcome.replacedFiles = plan.replacing;
    outcome.base62 = outcome.conversion.keysounds.base62();
}

// What every chart of the plan's set sounds besides its lanes' track.
SetBackground setBackground(const BuildPlan& plan)
{
    SetBackground background;
    if (!plan.backgroundJobs.empty()) {
        background.keysounds = &plan.background;
        background.keysoundFileNames = plan.backgroundFileNames;
        background.keysoundJobs = plan.backgroundJobs;
        background.firstCode = plan.backgroundFirstCode;
    }
    background.bgmFiles = plan.bgmFiles;
    return background;
}

// The folder the loudness pass spills renders into, when a loudness is asked for.
Status makeSpillFolder(const std::filesystem::path& spillFolder, const BuildRequest& request)
{
    if (const auto error = request.loudness ? createFolders(spillFolder) : std::error_code{}) {
        return fileError(ErrorCode::WriteFailed, spillFolder, "create the folder", error.value());
    }
    return {};
}

// What every step after the plan takes, as it was made before them.
struct PlannedBuild {
    const BuildRequest& request;  // with the merging the keysounds were converted with
    const BuildPlan& plan;
    const std::string& songHash;
    const PreparedSong& song;
    KeptSounds* kept;  // where the build's mix is kept and recalled; none: it is made every time
};

// What the build's sounds came to: the files and the set's charts once rendered, what the set
// sounds (soundingChart) and the gain every file was encoded with; the files and the preview staged.
struct BuildSounds {
    RenderResult rendered;
    chart::Chart sounding;
    std::optional<audio::LoudnessGain> gain;
};

// Renders, measures, encodes and previews: every render read and mixed.
Result<BuildSounds> makeSounds(StagedBuild& staged, const PlannedBuild& planned, BuildOutcome& outcome,
                               const BuildServices& services, std::unique_ptr<audio::Renderer> firstRenderer,
                               SoundLengthRule& lengthRule, ProgressSink& progress)
{
    const auto& request = planned.request;
    const auto& plan = planned.plan;
    LoudnessPass loudness(staged.stage() / "unencoded", request.heldSoundBytes);
    if (auto spill = makeSpillFolder(staged.stage() / "unencoded", request); !spill) {
        return spill.error();
    }
    auto rendered = renderSounds(plan, outcome, std::move(firstRenderer), request, services,
                                 lengthRule.wrap(request.loudness ? loudness.keeper() : services.writer), progress);
    if (!rendered) {
        return rendered.error();
    }
    addBackgroundToCharts(plan, *rendered, outcome, request);
    auto sounding = soundingChart(std::move(outcome.conversion.chart), setBackground(plan), rendered->silentNames,
                                  request.conversion.song.ticksPerMeasure);
    auto gain = normaliseSounds(*rendered, sounding, request, loudness, services.writer, progress);
    if (!gain) {
        return gain.error();
    }
    // The sounds as they were encoded, rather than decoded again.
    const auto encoded = *gain ? loudness.soundsAtGain((*gain)->gainDb) : nullptr;
    if (auto preview = writeFolderPreview(plan, *rendered, sounding, request, planned.song, encoded.get(),
                                          services.previewWriter, progress);
        !preview) {
        return preview.error();
    }
    return BuildSounds{std::move(rendered).value(), std::move(sounding), *gain};
}

// The key of the build's mix, where the kept sounds can keep it: with a loudness pass (the
// renders are read for it alone) and the kept sounds' own writers.
std::optional<std::string> keptMixKey(const PlannedBuild& planned, const BuildOutcome& outcome)
{
    const auto& [request, plan, songHash, prepared, kept] = planned;
    if (kept == nullptr || !request.loudness) {
        return std::nullopt;
    }
    const auto sounding =
        soundingChart(outcome.conversion.chart, setBackground(plan), {}, request.conversion.song.ticksPerMeasure);
    return mixKey(*kept, {plan.jobs, &sounding, loudnessTarget(request), request.format, request.quality,
                          request.heldSoundBytes, previewStartSeconds(request, prepared, plan.bgmEvents)});
}

// The build's sounds as the kept mix under `key` has them: no render read, nothing mixed, every
// file staged as it was encoded; none when the mix is not kept whole.
Result<std::optional<BuildSounds>> recallSounds(StagedBuild& staged, const PlannedBuild& planned, BuildOutcome& outcome,
                                                const std::string& key, SoundLengthRule& lengthRule,
                                                ProgressSink& progress)
{
    const auto& request = planned.request;
    auto recalled = recallMix(*planned.kept, key, staged.stage());
    if (!recalled) {
        return std::optional<BuildSounds>();
    }
    progress.beginStage(ProgressStage::Rendering);
    auto rendered = renderedWithout(planned.plan, outcome, request, std::move(recalled->facts.silentNames));
    if (!rendered) {
        return rendered.error();
    }
    addBackgroundToCharts(planned.plan, *rendered, outcome, request);
    auto sounding = soundingChart(std::move(outcome.conversion.chart), setBackground(planned.plan),
                                  rendered->silentNames, request.conversion.song.ticksPerMeasure);
    for (auto& file : recalled->facts.longFiles) {
        file.path = staged.stage() / file.path;
    }
    lengthRule.recall(std::move(recalled->facts.longFiles));
    const auto files = static_cast<std::int64_t>(recalled->files.size());
    for (std::int64_t i = 0; i < files; ++i) {
        const auto& [target, bytes] = recalled->files[static_cast<std::size_t>(i)];
        if (auto written = staged.unchanged().write(target, bytes); !written) {
            return written.error();
        }
        progress.advance(i + 1, files);
    }
    return std::optional<BuildSounds>(
        BuildSounds{std::move(rendered).value(), std::move(sounding), recalled->facts.gain});
}

// The build's sounds, recalled where a build with the same mix kept them, else made (and kept).
Result<BuildSounds> buildSounds(StagedBuild& staged, const PlannedBuild& planned, BuildOutcome& outcome,
                                const BuildServices& services, std::unique_ptr<audio::Renderer> firstRenderer,
                                SoundLengthRule& lengthRule, ProgressSink& progress)
{
    const auto key = keptMixKey(planned, outcome);
    if (key) {
        auto recalled = recallSounds(staged, planned, outcome, *key, lengthRule, progress);
        if (!recalled || *recalled) {
            return recalled ? Result<BuildSounds>(std::move(**recalled)) : Result<BuildSounds>(recalled.error());
        }
    }
    auto made = makeSounds(staged, planned, outcome, services, std::move(firstRenderer), lengthRule, progress);
    if (made && key && made->gain) {
        std::vector<std::filesystem::path> files = made->rendered.encodeTargets;
        files.push_back(staged.stage() / kPreviewFileName);
        keepMix(*planned.kept, *key, {made->rendered.silentNames, *made->gain, lengthRule.pastTheRule(), {}}, files);
    }
    return made;
}

// The build once planned: render, write the charts, normalise, preview, commit. A failure before
// the commit leaves the folder as it was and says so.
Result<BuildOutcome> buildPlanned(StagedBuild& staged, const PlannedBuild& planned, BuildOutcome outcome,
                                  const BuildServices& services, std::unique_ptr<audio::Renderer> firstRenderer,
                                  ProgressSink& progress)
{
    const auto& [request, plan, songHash, prepared, kept] = planned;
    SoundLengthRule lengthRule(plan.sliceTargets);
    auto sounds = buildSounds(staged, planned, outcome, services, std::move(firstRenderer), lengthRule, progress);
    if (!sounds) {
        return StagedBuild::failed(sounds.error());
    }
    auto* rendered = &sounds->rendered;
    outcome.loudness = sounds->gain;
    outcome.followed = followedOf(*rendered, prepared);
    outcome.conversion.chart = {};  // the window keeps the outcome, not the chart
    const auto leadIn = writeBuildCharts(rendered->charts, request, prepared.credits, plan.bgmFiles,
                                         outcome.silentKeysounds, staged.stage(), staged.staging().fileSystem());
    if (!leadIn) {
        return StagedBuild::failed(leadIn.error());
    }
    outcome.leadInMeasures = leadIn->measures;
    outcome.firstSoundSeconds = leadIn->firstSoundSeconds;
    auto commit = stageCommit(staged.staging(),
                              withSoundSources(staged.takeManifest(), *rendered, outcome.conversion, request, prepared),
                              buildRecords(plan, *rendered, request, prepared, songHash), request, progress);
    if (!commit) {
        return StagedBuild::failed(commit.error());
    }
    keepUnchanged(*commit, staged.unchanged());
    // From here the staging folder's own failures say what the folder then holds.
    auto removed = staged.staging().commit(commit->moves, plan.replaceable, commit->removals);
    if (!removed) {
        return removed.error();
    }
    outcome.removedFiles = std::move(removed).value();
    placeOutcome(outcome, plan, *rendered, request.conversion.outputFolder, lengthRule);
    return outcome;
}

// Following the music, charting a set per part or playing double, the song's other parts are
// converted with the chosen ones. The song's parts and their notes are read for the choice once
// and dropped with it, before the song is prepared.
BuildRequest withChosenParts(const BuildRequest& asked, song::SongSource file, PartSetFindings& partSets,
                             std::optional<SinglePlayReason>& singlePlay)
{
    SongParts song(file, asked.conversion.song);
    return withDoublePlayParts(withPartSets(asked, song, partSets), asked, song, singlePlay);
}

struct ChosenSong {
    BuildRequest request;
    PreparedSong prepared;
};

// The request with its parts chosen and the song prepared for it, both read from the song's
// events decoded once: the decoded events, as large as the song, are dropped here, before
// anything is rendered.
ChosenSong chooseAndPrepare(const BuildRequest& asked, std::span<const std::uint8_t> file, PartSetFindings& partSets,
                            std::optional<SinglePlayReason>& singlePlay)
{
    const song::SongEvents decoded = song::decodeSong(file, asked.conversion.song);
    BuildRequest request = withChosenParts(asked, decoded, partSets, singlePlay);
    PreparedSong prepared = prepareSong(request, decoded);
    return {std::move(request), std::move(prepared)};
}

// The build once its folder is staged, every step a function of its own; a failure before the
// commit leaves the folder as it was and says so.
Result<BuildOutcome> buildStaged(StagedBuild& staged, const BuildRequest& asked, const BuildServices& services,
                                 FirstRenderer& first, std::span<const std::uint8_t> file, KeptSounds* keptMix,
                                 ProgressSink& progress)
{
    const std::string songHash = songFingerprint(file);
    if (const auto* other = otherSongsRecord(staged.manifest(), asked, songHash); other != nullptr && !asked.replace) {
        return anotherSongsFolder(*other, asked);
    }
    PartSetFindings partSets;
    std::optional<SinglePlayReason> singlePlay;
    ChosenSong chosen = chooseAndPrepare(asked, file, partSets, singlePlay);
    BuildRequest request = std::move(chosen.request);
    const PreparedSong prepared = std::move(chosen.prepared);
    auto converted = convertForBuild(request, prepared, staged.staging(), progress);
    if (!converted) {
        return StagedBuild::failed(converted.error());
    }
    // With the merging the keysounds were converted with.
    request.conversion.settings = converted->settings;
    BuildOutcome outcome;
    outcome.partSets = std::move(partSets);
    outcome.mergedKeysounds = converted->mergedKeysounds;
    outcome.mergedWith = converted->mergedKeysounds > 0 ? converted->settings.merge : convert::KeysoundMerge{};
    outcome.conversion = std::move(converted->conversion);
    outcome.recovery = staged.staging().recovery();
    outcome.setAside = staged.staging().setAside();
    outcome.singlePlay = singlePlay;
    auto planned = planBuild(request, prepared, outcome.conversion, converted->states, std::move(converted->background),
                             staged.manifest(), staged.stage(), *services.fileSystem);
    if (!planned) {
        return StagedBuild::failed(planned.error());
    }
    // Made once: what rendering gives goes into a RenderResult, never back into the plan.
    const BuildPlan plan = std::move(planned).value();
    auto firstRenderer = first.take();
    if (!firstRenderer) {
        return firstRenderer.error();
    }
    takePlanFindings(outcome, plan, **firstRenderer);
    return buildPlanned(staged, {request, plan, songHash, prepared, keptMix}, std::move(outcome), services,
                        std::move(firstRenderer).value(), progress);
}

// The build with its services in place: the source read, the folder staged. The first renderer
// opens meanwhile; a renderer that cannot be opened is the build's error whatever else failed,
// as it was found first when the renderer opened before anything else.
Result<BuildOutcome> buildWith(const BuildRequest& request, ProgressSink& progress, const BuildServices& used,
                               KeptSounds* kept)
{
    FirstRenderer first(used.renderers);
    const auto source = song::readSongFile(request.conversion.sourceMidiPath);
    if (!source) {
        return first.failedFirst(source.error());
    }
    auto staged = StagedBuild::open(request.conversion.outputFolder, *used.fileSystem);
    if (!staged) {
        return first.failedFirst(staged.error());
    }
    // A mix is kept only where the kept sounds encode every file: then they hold every file's bytes.
    KeptSounds* keptMix = !used.writer && !used.previewWriter ? kept : nullptr;
    auto outcome = buildStaged(*staged, request, withStagedWriters(used, request, kept, staged->unchanged()), first,
                               source->bytes(), keptMix, progress);
    if (!outcome) {
        return first.failedFirst(outcome.error());
    }
    return outcome;
}

}  // namespace

std::optional<BuildRecord> wouldReplaceAnotherChart(const BuildRequest& request)
{
    const auto source = readFileBytes(request.conversion.sourceMidiPath);
    if (!source) {
        return std::nullopt;
    }
    // Under the folder's lock, as a build reads it: never a manifest another pass is replacing.
    const auto lock = FolderLock::acquire(request.conversion.outputFolder);
    if (!lock) {
        return std::nullopt;
    }
    const BuildManifest manifest = readBuildManifest(request.conversion.outputFolder);
    const BuildRecord* other = otherSongsRecord(manifest, request, songFingerprint(source->bytes()));
    return other != nullptr ? std::optional<BuildRecord>(*other) : std::nullopt;
}

Result<BuildOutcome> runBuild(const BuildRequest& request, ProgressSink& progress, const BuildServices& services)
{
    KeptSoundsReport kept;
    const auto keptSounds = request.cacheFolder
                                ? openKeptSounds(*request.cacheFolder, request.cacheBytes, request.soundFont,
                                                 services.fileSystem ? *services.fileSystem : realFileSystem(), kept)
                                : nullptr;
    auto outcome =
        buildWith(request, progress, withDefaultServices(services, request, keptSounds.get()), keptSounds.get());
    if (outcome) {
        outcome->keptSounds = keptSounds ? keptSounds->finish() : kept;
        outcome->findings = collectBuildFindings(*outcome, request.charts.quantizeGrid);
    }
    return outcome;
}

}  // namespace zentrowe::workflow
