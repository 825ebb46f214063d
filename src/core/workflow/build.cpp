#include "core/workflow/build.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "core/audio/song_sequence.h"
#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/folder_lock.h"
#include "core/base/staging_folder.h"
#include "core/base/text_decoding.h"
#include "core/chart/bms_writer.h"
#include "core/chart/bmson_writer.h"
#include "core/convert/chart_lines.h"
#include "core/convert/keysound_name.h"
#include "core/keysound/keysound_midi_writer.h"
#include "core/keysound/keysound_states.h"
#include "core/song/song_credits.h"
#include "core/workflow/build_manifest.h"
#include "core/workflow/keysound_jobs.h"
#include "core/workflow/lead_in.h"
#include "core/workflow/loudness_pass.h"
#include "core/workflow/preview.h"
#include "core/workflow/silent_keysounds.h"

namespace zentrowe::workflow {

namespace {

// The longest release let ring, in whole blocks of the synthesiser.
constexpr std::int64_t kBgmTailFrames =
    (30LL * audio::kSampleRate + audio::kBlockFrames - 1) / audio::kBlockFrames * audio::kBlockFrames;

std::uint32_t tempoAtTickZero(const song::SongSummary& song)
{
    std::uint32_t tempo = song::kDefaultTempoMicros;
    for (const auto& change : song.tempoMap) {
        if (change.time == 0) {
            tempo = change.tempoMicros;
        }
    }
    return tempo;
}

// BMS players read chart text as Shift_JIS: the chart's texts are put in it when every one of
// them, and every file name it names, has a Shift_JIS form (file names must stay the bytes of the
// files); else all stay UTF-8, which newer players read.
void encodeChartText(chart::Chart& chart)
{
    auto& header = chart.header;
    std::array<std::string*, 4> texts = {&header.title, &header.subtitle, &header.artist, &header.genre};
    const bool namesAscii = std::all_of(chart.keysounds.begin(), chart.keysounds.end(), [](const auto& keysound) {
        return std::all_of(keysound.fileName.begin(), keysound.fileName.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    });
    if (!namesAscii) {
        return;
    }
    std::array<std::string, 4> encoded;
    for (std::size_t k = 0; k < texts.size(); ++k) {
        auto shiftJis = encodeShiftJis(*texts[k]);
        if (!shiftJis) {
            return;
        }
        encoded[k] = std::move(*shiftJis);
    }
    for (std::size_t k = 0; k < texts.size(); ++k) {
        *texts[k] = std::move(encoded[k]);
    }
}

// The chart the conversion made, completed with what a player needs to list the song and the
// BGM files, each defined after the keysounds and started at the first slot of its measure on the
// background channel.
void completeChart(chart::Chart& chart, const BuildRequest& request, const song::SongCredits& credits,
                   const std::vector<BgmFile>& bgmFiles)
{
    auto& header = chart.header;
    header.player = 1;
    header.title = request.title.empty() ? credits.title : request.title;
    if (header.title.empty()) {
        header.title = request.conversion.sourceMidiPath.stem().string();
    }
    header.artist = request.artist ? *request.artist : credits.artist;
    if (header.genre.empty()) {
        header.genre = kDefaultGenre;
    }
    header.initialBpm = 60'000'000.0 / tempoAtTickZero(request.conversion.song);
    header.volWav = 100;  // the files are levelled already: players should play them as they are
    header.previewFile = kPreviewFileName;
    for (const auto& file : bgmFiles) {
        chart.keysounds.push_back({file.code, file.name});
        chart.addLine(file.measure, chart::kBackgroundChannel, convert::kSlots);
        chart.addObject(0, file.code);
    }
    if (request.conversion.settings.bmson) {
        // bmson counts the timing window and the gauge relative to the player's own.
        header.rank = chart::bmsonJudgeRank(header.rank.value_or(2));
        header.total = chart::kBmsonPlayersOwnTotal;
    } else {
        encodeChartText(chart);
    }
}

// Where the preview starts in the chart, in seconds: `previewFrom` seconds into the song (at the
// latest the last note's start, where the mixer still finds a sound), else the song's hook (every
// track's notes), after the lead-in.
double previewStartSeconds(const BuildRequest& request, std::span<const std::uint8_t> file,
                           std::span<const audio::TimedEvent> bgmEvents, double leadInSeconds)
{
    auto events = audio::sequenceTrack(file, request.conversion.song, request.conversion.trackNumber);
    if (request.previewFrom) {
        std::int64_t lastStart = 0;
        for (const auto& event : events) {
            if ((event.status & 0xF0) == 0x90 && event.data2 != 0) {
                lastStart = std::max(lastStart, event.frame);
            }
        }
        // A millisecond early: the chart times the note along another path than the frames.
        const double latest = std::max(0.0, static_cast<double>(lastStart) / audio::kSampleRate - 0.001);
        return leadInSeconds + std::clamp(*request.previewFrom, 0.0, latest);
    }
    events.insert(events.end(), bgmEvents.begin(), bgmEvents.end());
    return leadInSeconds + hookStartSeconds(events, kFolderPreviewSeconds);
}

// Writes a file whole through a temporary file: `fill` writes its contents into the writer.
template <typename Fill>
Status writeWhole(const std::filesystem::path& path, Fill fill)
{
    AtomicFileWriter file(path);
    Status status = file.open();
    if (status) {
        status = fill(file);
    }
    if (status) {
        status = file.commit();
    }
    return status;
}

// Writes the chart once, whole, in its own format.
Status writeChart(const std::filesystem::path& chartPath, const chart::Chart& chart, bool bmson)
{
    return writeWhole(chartPath, [&](AtomicFileWriter& file) {
        return bmson ? chart::writeBmson(chart, file) : chart::writeBms(chart, file);
    });
}

Status writeTextFile(const std::filesystem::path& path, std::string_view text)
{
    return writeWhole(path, [&](AtomicFileWriter& file) { return file.write(text); });
}

// The first record of the folder's manifest built from another song, or from another track of
// this one: a folder holds one song, as players take a folder for one song, and two songs'
// keysounds, BGM and preview would share names with other content.
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

// The refusal to build into a folder that holds another song's charts.
Error anotherSongsFolder(const BuildRecord& other, const BuildRequest& request)
{
    const auto& folder = request.conversion.outputFolder;
    const std::string songName = request.conversion.sourceMidiPath.filename().string();
    const std::string madeFrom = "track " + std::to_string(other.track) + " of " + other.song;
    return Error{ErrorCode::WouldReplaceChart, displayPath(folder / other.chart) + " was built from " + madeFrom +
                                                   ", and a folder holds one song: building track " +
                                                   std::to_string(request.conversion.trackNumber) + " of " + songName +
                                                   " into it would replace that song's files; nothing was written"}
        .inFile(displayPath(folder / other.chart))
        .withValue(madeFrom)
        .withNumber(other.track);
}

std::string hoursAndMinutes(std::int64_t frames)
{
    const std::int64_t minutes = frames / audio::kSampleRate / 60;
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

// The BGM's refusal when it would last past the longest rendering, naming the latest track.
std::optional<Error> bgmTooLong(std::span<const std::uint8_t> file, const BuildRequest& request,
                                std::span<const audio::TimedEvent> bgmEvents)
{
    constexpr std::int64_t kLatestStart = audio::kLongestRenderFrames - kBgmTailFrames;
    if (bgmEvents.empty() || bgmEvents.back().frame <= kLatestStart) {
        return std::nullopt;
    }
    const auto& song = request.conversion.song;
    int latestTrack = 0;
    for (int track = 1; track <= static_cast<int>(song.tracks.size()); ++track) {
        if (track == request.conversion.trackNumber) {
            continue;
        }
        const auto events = audio::sequenceTrack(file, song, track);
        if (!events.empty() && events.back().frame > kLatestStart) {
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
    std::array<audio::Instrument, 16> channels{};
    for (std::size_t channel = 0; channel < channels.size(); ++channel) {
        channels[channel].drums = channel == 9;
    }
    for (const auto& event : bgmEvents) {
        auto& channel = channels[event.status & 0x0F];
        switch (event.status & 0xF0) {
        case 0xB0:
            if (event.data1 == 0 && !channel.drums) {
                channel.bank = event.data2;
            }
            break;
        case 0xC0:
            channel.program = event.data1;
            break;
        case 0x90:
            if (event.data2 != 0) {
                ask(channel, true);
            }
            break;
        default:
            break;
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

std::vector<std::pair<std::string, std::string>> manifestSettings(const BuildRequest& request)
{
    const auto& settings = request.conversion.settings;
    return {
        {"mode", settings.percussion  ? "percussion"
                 : settings.longNotes ? "long"
                                      : "plain"},
        {"chartFormat", settings.bmson ? "bmson" : "bms"},
        {"codes", settings.base62 ? "62" : "36"},
        {"keysoundName", settings.keysoundName},
        {"gap", std::to_string(settings.keysoundGap)},
        {"soundFont", request.soundFont.filename().string()},  // by name: a folder goes public
        {"format", std::string(audio::soundFileExtension(request.format)).substr(1)},
        {"bgm", request.bgm == BgmMode::Slices ? "slices"
                : request.bgm == BgmMode::One  ? "one"
                                               : "no"},
        {"loudness", request.loudness ? std::to_string(*request.loudness) : "off"},
    };
}

constexpr const char* kUntouched = "; the folder's earlier files are untouched";

// A failure after the staging folder is made, saying the folder is as it was.
Error untouched(Error error)
{
    if (error.code == ErrorCode::Cancelled) {
        error.message = "build cancelled";
    }
    error.message += kUntouched;
    return error;
}

// Writes the manifest into the staging folder, moves everything in (the charts last) and then
// removes what the earlier builds of the set's charts made and this one did not (their charts
// too), unless another chart's build uses it: a folder rebuilt many times holds only what its
// charts name. The records share their files. Only the `replaceable` names may replace a file of
// the folder. The files removed.
Result<std::vector<std::filesystem::path>> commitBuild(base::StagingFolder& staging, BuildManifest manifest,
                                                       std::vector<BuildRecord> records, const BuildRequest& request,
                                                       const std::set<std::string>& replaceable, ProgressSink& progress)
{
    const auto& folder = request.conversion.outputFolder;
    const std::string setName = convertedChartFileName(request.conversion);
    const auto stage = staging.path();
    std::vector<std::string> commitOrder = records.front().files;
    std::vector<std::string> arriving = commitOrder;  // and the charts
    for (const auto& record : records) {
        arriving.push_back(record.chart);
    }
    for (const auto& name : arriving) {
        if (isSameFile(folder / name, request.conversion.sourceMidiPath)) {
            return Error{ErrorCode::WouldOverwriteSource,
                         displayPath(folder / name) + ": writing it would replace the MIDI file being converted"}
                .inFile(displayPath(folder / name))
                .about("source");
        }
    }
    std::vector<std::string> earlier;
    const BuildRecord& incoming = records.front();
    for (const auto& record : manifest.builds) {
        const bool rebuilt =
            std::any_of(records.begin(), records.end(), [&](const BuildRecord& r) { return r.chart == record.chart; });
        // Another song's charts are here only when the request asked to replace them.
        const bool replaced = !isSameSong(record, incoming.song, incoming.songHash, incoming.track);
        if (rebuilt || replaced || chartset::belongsToChartSet(record.chart, setName)) {
            earlier.push_back(record.chart);
            earlier.insert(earlier.end(), record.files.begin(), record.files.end());
        }
    }
    std::erase_if(manifest.builds, [&](const BuildRecord& r) {
        return std::find(earlier.begin(), earlier.end(), r.chart) != earlier.end();
    });
    for (auto& record : records) {
        manifest.builds.push_back(std::move(record));
    }
    if (auto written = writeTextFile(stage / kBuildManifestFileName, manifestText(manifest)); !written) {
        return untouched(written.error());
    }
    commitOrder.push_back(kBuildManifestFileName);
    for (std::size_t k = manifest.builds.size() - records.size(); k < manifest.builds.size(); ++k) {
        commitOrder.push_back(manifest.builds[k].chart);
    }
    if (progress.stopRequested()) {
        return untouched(Error{ErrorCode::Cancelled, ""});
    }

    const std::set<std::string> kept(commitOrder.begin(), commitOrder.end());
    std::vector<std::string> removals;
    for (const auto& name : earlier) {
        const auto path = folder / name;
        std::error_code error;
        if (kept.count(name) != 0 || manifest.uses(name) ||
            !std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error)) ||
            isSameFile(path, request.conversion.sourceMidiPath)) {
            continue;
        }
        removals.push_back(name);
    }
    // Its own failures say what the folder then holds.
    return staging.commit(commitOrder, replaceable, removals);
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
        const auto kind = fileSystem.status(folder / name).kind;
        if (kind == FileKind::Folder) {
            folders.push_back(folder / name);
        } else if (kind == FileKind::File && replaceable.count(name) == 0) {
            files.push_back(folder / name);
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

// The synthesiser with the request's soundfont and the sound file writer in its format, where
// the caller gave no stand-ins.
BuildServices withDefaults(BuildServices services, const BuildRequest& request)
{
    if (!services.renderers) {
        services.renderers = [soundFont = request.soundFont]() -> Result<std::unique_ptr<audio::Renderer>> {
            auto opened = audio::SynthRenderer::open(soundFont);
            if (!opened) {
                return opened.error();
            }
            return std::unique_ptr<audio::Renderer>(std::make_unique<audio::SynthRenderer>(std::move(opened).value()));
        };
    }
    if (!services.writer) {
        services.writer = [format = request.format, quality = request.quality](const std::filesystem::path& target,
                                                                               std::span<const float> samples) {
            return audio::writeSoundFile(target, samples, format, quality, audio::kSampleRate);
        };
    }
    return services;
}

}  // namespace

std::optional<BuildRecord> wouldReplaceAnotherChart(const BuildRequest& request)
{
    const auto source = readFileBytes(request.conversion.sourceMidiPath);
    if (!source) {
        return std::nullopt;
    }
    const BuildManifest manifest = readBuildManifest(request.conversion.outputFolder);
    const BuildRecord* other = otherSongsRecord(manifest, request, songFingerprint(source->bytes()));
    return other != nullptr ? std::optional<BuildRecord>(*other) : std::nullopt;
}

Result<BuildOutcome> runBuild(const BuildRequest& request, ProgressSink& progress, const BuildServices& services)
{
    const BuildServices used = withDefaults(services, request);
    const auto& renderers = used.renderers;
    const auto& writer = used.writer;
    auto firstRenderer = renderers();
    if (!firstRenderer) {
        return firstRenderer.error();
    }
    const auto source = song::readSongFile(request.conversion.sourceMidiPath);
    if (!source) {
        return source.error();
    }
    const auto& folder = request.conversion.outputFolder;
    const auto lock = FolderLock::acquire(folder);
    if (!lock) {
        return lock.error();
    }
    // Before anything else: a commit a killed build left unfinished is finished or undone.
    FileSystem& fileSystem = services.fileSystem != nullptr ? *services.fileSystem : realFileSystem();
    auto staging = base::StagingFolder::create(folder, fileSystem);
    if (!staging) {
        return staging.error();
    }
    BuildManifest manifest = readBuildManifest(folder);
    const std::string chartName = convertedChartFileName(request.conversion);
    const std::string songHash = songFingerprint(source->bytes());
    if (const auto* other = otherSongsRecord(manifest, request, songHash); other != nullptr && !request.replace) {
        return anotherSongsFolder(*other, request);
    }
    const auto& stage = staging->path();

    const auto extension = std::string(audio::soundFileExtension(request.format));
    const bool bmson = request.conversion.settings.bmson;
    ConversionRequest conversionRequest = request.conversion;
    conversionRequest.outputFolder = stage;
    conversionRequest.title = request.title;
    conversionRequest.artist = request.artist;
    conversionRequest.soundExtension = extension;
    conversionRequest.writeChart = false;  // written once, complete, after the sounds it names
    // Each keysound is rendered with the channel state its note starts with: notes alike but for
    // a state the track changes are keysounds of their own.
    const auto states = keysound::readKeysoundStates(source->bytes(), request.conversion.song,
                                                     request.conversion.trackNumber, request.conversion.settings);
    conversionRequest.variants = &states;
    progress.beginStage(ProgressStage::Converting);
    auto conversion = convertTrack(conversionRequest, source->bytes(), progress);
    if (!conversion) {
        if (conversion.error().code == ErrorCode::Cancelled) {
            return untouched(conversion.error());
        }
        return conversion.error();
    }
    BuildOutcome outcome;
    outcome.conversion = std::move(conversion).value();
    const auto& keysounds = outcome.conversion.keysounds;
    const auto& song = request.conversion.song;
    const auto& settings = request.conversion.settings;
    outcome.base62 = keysounds.base62();
    outcome.recovery = staging->recovery();

    // Keysounds whose lengths round to the same 1/192 share a stem, and so one file.
    std::vector<audio::RenderJob> jobs;
    std::vector<audio::TimedEvent> bgmEvents;
    std::vector<BgmFile> bgmFiles;
    if (request.bgm != BgmMode::None) {
        bgmEvents = audio::sequenceTracks(source->bytes(), song, request.conversion.trackNumber);
        const bool hasNotes = std::any_of(bgmEvents.begin(), bgmEvents.end(), [](const audio::TimedEvent& event) {
            return (event.status & 0xF0) == 0x90 && event.data2 != 0;
        });
        if (!hasNotes) {
            outcome.skipped.push_back(SkipReason::NoOtherNotes);
        } else if (auto tooLong =
                       request.bgm == BgmMode::One ? bgmTooLong(source->bytes(), request, bgmEvents) : std::nullopt) {
            // Slices are rendered each on its own: only one whole file has the hour's limit.
            return *tooLong;
        } else {
            auto plan = planBgm(request.bgm, bgmEvents, song, keysounds, bmson, extension);
            if (plan.skipped) {
                outcome.skipped.push_back(*plan.skipped);
            }
            outcome.bgmSlicesWanted = plan.slicesWanted;
            bgmFiles = std::move(plan.files);
        }
    }
    for (const auto& file : bgmFiles) {  // the longest, first
        audio::RenderJob job;
        job.target = stage / file.name;
        job.name = bgmFiles.size() == 1 ? "the BGM" : "BGM slice " + file.name;
        job.sequence = true;
        job.events = file.events;
        job.tailFrames = kBgmTailFrames;
        jobs.push_back(std::move(job));
    }
    std::uint32_t keysoundTempo = outcome.conversion.keysoundSong.tempoMicros;
    if (keysoundTempo == 0) {
        keysoundTempo = song::kDefaultTempoMicros;
    }
    const KeysoundRendering rendering{
        stage, settings.keysoundName, extension, song.ticksPerQuarter, song.ticksPerMeasure, keysoundTempo};
    std::vector<audio::Instrument> instruments;
    std::vector<std::string> keysoundNames;
    std::size_t longestName = 0;
    const auto keysoundJobList = keysoundJobs(keysounds, states, rendering);
    std::set<std::filesystem::path> keysoundTargets;
    for (const auto& job : keysoundJobList) {
        instruments.push_back(job.note.instrument);
        keysoundNames.push_back(job.name);
        keysoundTargets.insert(job.target);
        longestName = std::max(longestName, job.name.size());
        jobs.push_back(job);
    }
    // Each file is written under a temporary name first, which must fit too.
    constexpr std::size_t kLongestKeysoundFile = convert::kLongestFileName - kTemporaryNameExtraBytes;
    if (longestName > kLongestKeysoundFile) {
        // The channel states of the track lengthen the names past what the keysound name's own
        // limit allows for.
        const std::size_t over = longestName - kLongestKeysoundFile;
        return Error{ErrorCode::InvalidSetting,
                     "输入有误: with this track's channel states the keysound files would be named up to " +
                         std::to_string(longestName) + " bytes, and a build's file names allow " +
                         std::to_string(kLongestKeysoundFile) + " (255 less its temporary name's " +
                         std::to_string(kTemporaryNameExtraBytes) + "): shorten the keysound name to " +
                         std::to_string(settings.keysoundName.size() > over ? settings.keysoundName.size() - over : 0) +
                         " bytes"}
            .about("keysoundName");
    }
    outcome.missingInstruments =
        missingInstruments(**firstRenderer, instruments, bgmFiles.empty() ? decltype(bgmEvents){} : bgmEvents);
    // Made before rendering so that their names are checked with the others; made again below
    // if a keysound comes out silent.
    auto charts = chartset::makeChartSet(outcome.conversion.chart, keysounds, song, chartName, request.charts,
                                         settings.percussion);

    std::vector<std::string> outputs = keysoundNames;
    for (const auto& file : bgmFiles) {
        outputs.push_back(file.name);
    }
    outputs.insert(outputs.end(), {kKeysoundMidiFileName, kPreviewFileName, kBuildManifestFileName});
    for (const auto& made : charts) {
        outputs.push_back(made.fileName);
    }
    const auto replaceable = replaceableNames(outputs, manifest, request, fileSystem, outcome.replacedFiles);
    if (!replaceable) {
        return replaceable.error();
    }

    // Slices are held to the event rule on their way to the files; a single BGM is only measured.
    std::set<std::filesystem::path> sliceTargets;
    for (const auto& job : jobs) {
        if (job.sequence && bgmFiles.size() > 0 && bgmFiles.front().name.rfind("bgm-", 0) == 0) {
            sliceTargets.insert(job.target);
        }
    }
    SoundLengthRule lengthRule(std::move(sliceTargets));

    progress.beginStage(ProgressStage::Rendering);
    LoudnessPass loudness(stage / "unencoded", request.heldSoundBytes);
    std::error_code spillError;
    if (request.loudness && (std::filesystem::create_directories(stage / "unencoded", spillError), spillError)) {
        return fileError(ErrorCode::WriteFailed, stage / "unencoded", "create the folder", spillError.value());
    }
    // A keysound that renders as silence is never written: its notes leave the charts instead.
    SilenceFilter silence(std::move(keysoundTargets));
    const auto rendered = audio::renderAll(
        jobs, std::move(firstRenderer).value(), renderers,
        lengthRule.wrap(silence.writerFor(request.loudness ? loudness.keeper() : writer)), request.threads, progress);
    if (!rendered) {
        return untouched(rendered.error());
    }
    if (const auto silentNames = silence.silentNames(); !silentNames.empty()) {
        std::vector<audio::Instrument> unplayable;
        for (const auto& missing : outcome.missingInstruments) {
            if (!missing.playedBy && !missing.inBgm) {
                unplayable.push_back(missing.instrument);
            }
        }
        outcome.silentKeysounds = dropSilentNotes(outcome.conversion.chart, keysoundJobList, silentNames, unplayable);
        if (silentNames.size() == keysoundJobList.size()) {
            return untouched(
                allKeysoundsSilent(outcome.silentKeysounds, request.conversion.trackNumber, request.soundFont));
        }
        std::erase_if(keysoundNames, [&](const std::string& name) { return silentNames.count(name) != 0; });
        std::erase_if(jobs,
                      [&](const audio::RenderJob& job) { return !job.sequence && silentNames.count(job.name) != 0; });
        charts = chartset::makeChartSet(outcome.conversion.chart, keysounds, song, chartName, request.charts,
                                        settings.percussion);
    }
    outcome.conversion.chart = {};  // the window keeps the outcome, not the chart

    const auto credits = song::readSongCredits(source->bytes(), song);
    for (auto& made : charts) {
        dropSilentDefinitions(made.chart, outcome.silentKeysounds);
        completeChart(made.chart, request, credits, bgmFiles);
    }
    // Every chart of the set plays the same objects at the same places: one lead-in for all.
    outcome.leadInMeasures =
        leadInMeasures(charts.front().chart, bmson ? std::numeric_limits<std::int32_t>::max() : kLastBmsMeasure);
    const double leadInSeconds = outcome.leadInMeasures * 4 * 60 / charts.front().chart.header.initialBpm.value_or(130);
    for (auto& made : charts) {
        addLeadIn(made.chart, outcome.leadInMeasures);
        if (auto written = writeChart(stage / made.fileName, made.chart, bmson); !written) {
            return untouched(written.error());
        }
        made.chart = {};
    }
    const auto stagedChart = stage / charts.front().fileName;
    if (request.loudness) {
        progress.beginStage(ProgressStage::Mixing);
        auto gain = loudness.measure(stagedChart, {*request.loudness, -1}, request.threads, progress);
        if (!gain) {
            return untouched(gain.error());
        }
        std::vector<std::filesystem::path> targets;
        for (const auto& job : jobs) {
            targets.push_back(job.target);
        }
        progress.beginStage(ProgressStage::Rendering);
        if (auto encoded = loudness.encode(targets, gain->gainDb, writer, request.threads, progress); !encoded) {
            return untouched(encoded.error());
        }
        outcome.loudness = *gain;
    }

    // Last, as it is heard from the files just written; the chart already names it.
    progress.beginStage(ProgressStage::Previewing);
    auto previewRequest = folderPreviewRequest(stagedChart);
    previewRequest.outputPath = stage / kPreviewFileName;
    previewRequest.fromFirstSound = false;
    previewRequest.fromSeconds = previewStartSeconds(request, source->bytes(), bgmEvents, leadInSeconds);
    const auto preview = writeChartPreview(previewRequest, progress);
    if (!preview) {
        return untouched(preview.error());
    }

    // Everything is whole in the staging folder: the manifest, then the move, chart last.
    BuildRecord record;
    record.files = keysoundNames;
    for (const auto& file : bgmFiles) {
        record.files.push_back(file.name);
    }
    record.files.push_back(kKeysoundMidiFileName);
    record.files.push_back(kPreviewFileName);
    record.song = request.conversion.sourceMidiPath.filename().string();
    record.songHash = songHash;
    record.track = request.conversion.trackNumber;
    record.settings = manifestSettings(request);
    std::vector<BuildRecord> records;
    for (const auto& made : charts) {
        records.push_back(record);
        records.back().chart = made.fileName;
        records.back().settings.emplace_back("difficulty", chartset::difficultyName(made.report.difficulty));
        records.back().settings.emplace_back("lanes", request.charts.lanes == chartset::LaneRule::Playable ? "playable"
                                                                                                           : "seed");
    }
    auto removed = commitBuild(*staging, std::move(manifest), std::move(records), request, *replaceable, progress);
    if (!removed) {
        return removed.error();
    }
    outcome.removedFiles = std::move(removed).value();

    // The outcome names the files where they now are.
    outcome.conversion.chartPath = folder / charts.front().fileName;
    for (const auto& made : charts) {
        outcome.charts.push_back({folder / made.fileName, made.report});
    }
    outcome.conversion.keysoundMidiPath = folder / kKeysoundMidiFileName;
    for (const auto& name : keysoundNames) {
        outcome.keysoundFiles.push_back(folder / name);
    }
    for (const auto& file : bgmFiles) {
        outcome.bgmFiles.push_back(folder / file.name);
    }
    outcome.previewFile = folder / kPreviewFileName;
    for (const auto& file : lengthRule.pastTheRule()) {
        outcome.longSoundFiles.push_back({folder / file.path.filename(), file.seconds});
    }
    return outcome;
}

}  // namespace zentrowe::workflow
