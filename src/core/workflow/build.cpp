#include "core/workflow/build.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "core/audio/song_sequence.h"
#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/chart/bms_writer.h"
#include "core/chart/bmson_writer.h"
#include "core/convert/chart_lines.h"
#include "core/keysound/keysound_midi_writer.h"
#include "core/workflow/preview.h"

namespace zentrowe::workflow {

namespace {

constexpr std::int32_t kKeysoundMidiTicksPerQuarter = 96;
constexpr std::int64_t kBgmTailFrames = 30LL * audio::kSampleRate;  // the longest release let ring

// One file to render: a keysound or the BGM.
struct RenderJob {
    std::filesystem::path target;
    std::size_t keysound = 0;  // index in the table; unused for the BGM
    bool bgm = false;
};

std::int64_t framesOfKeysoundTicks(std::uint64_t ticks, std::uint32_t tempoMicros)
{
    const double seconds = static_cast<double>(ticks) * tempoMicros / kKeysoundMidiTicksPerQuarter / 1e6;
    return std::llround(seconds * audio::kSampleRate);
}

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

// The chart the conversion made, completed with what a player needs to list the song and, if
// `bgmCode` is given, the BGM: defined after the keysounds and started at slot 0 of measure 000
// on the background channel.
void completeChart(chart::Chart& chart, const BuildRequest& request, std::optional<chart::ChartCode> bgmCode,
                   const std::string& bgmFileName)
{
    auto& header = chart.header;
    header.player = 1;
    header.title = request.title.empty() ? request.conversion.sourceMidiPath.stem().string() : request.title;
    header.artist = request.artist.value_or(std::string());
    header.initialBpm = 60'000'000.0 / tempoAtTickZero(request.conversion.song);
    header.previewFile = kPreviewFileName;
    if (bgmCode) {
        chart.keysounds.push_back({*bgmCode, bgmFileName});
        chart.addLine(0, chart::kBackgroundChannel, convert::kSlots);
        chart.addObject(0, *bgmCode);
    }
}

std::string writtenSoFar(std::size_t keysoundsWritten, std::size_t keysoundCount, bool bgmWritten)
{
    return "K-Midi.mid and " + std::to_string(keysoundsWritten) + " of " + std::to_string(keysoundCount) +
           " keysound files" + (bgmWritten ? " and the BGM" : "") + " were written whole, not the chart";
}

// A sink for passes inside a worker: no progress of their own, stop when the build stops.
class StopFlagSink final : public ProgressSink {
public:
    explicit StopFlagSink(const std::atomic<bool>& stop) : m_stop(stop) {}
    void advance(std::int64_t, std::int64_t) override {}
    bool stopRequested() const override { return m_stop.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>& m_stop;
};

}  // namespace

Result<BuildOutcome> runBuild(const BuildRequest& request, ProgressSink& progress)
{
    auto firstRenderer = audio::SynthRenderer::open(request.soundFont);
    if (!firstRenderer) {
        return firstRenderer.error();
    }
    const auto extension = std::string(audio::soundFileExtension(request.format));
    const bool bmson = request.conversion.settings.bmson;
    ConversionRequest conversionRequest = request.conversion;
    conversionRequest.title = request.title;
    conversionRequest.artist = request.artist;
    conversionRequest.soundExtension = extension;
    conversionRequest.writeChart = false;  // written once, complete, after the sounds it names
    progress.beginStage(ProgressStage::Converting);
    auto conversion = runConversion(conversionRequest, progress);
    if (!conversion) {
        return conversion.error();
    }
    BuildOutcome outcome;
    outcome.conversion = std::move(conversion).value();
    const auto& keysounds = outcome.conversion.keysounds;
    const auto source = readFileBytes(request.conversion.sourceMidiPath);
    if (!source) {
        return source.error();
    }
    const auto& song = request.conversion.song;
    const auto& settings = request.conversion.settings;
    const auto& folder = request.conversion.outputFolder;

    // Keysounds whose lengths round to the same 1/192 share a stem, and so one file.
    std::vector<RenderJob> jobs;
    std::vector<audio::TimedEvent> bgmEvents;
    std::optional<chart::ChartCode> bgmCode;
    bool bgmJob = false;
    if (request.backgroundMusic) {
        const int codeValue = keysounds.codeValue(keysounds.size());
        bgmEvents = audio::sequenceTracks(source->bytes(), song, request.conversion.trackNumber);
        const bool hasNotes = std::any_of(bgmEvents.begin(), bgmEvents.end(), [](const audio::TimedEvent& event) {
            return (event.status & 0xF0) == 0x90 && event.data2 != 0;
        });
        if (codeValue > convert::largestCode(keysounds.base62()) && !bmson) {
            outcome.skipped.push_back(keysounds.base62() ? "no BGM: the keysounds use every code up to zz"
                                                         : "no BGM: the keysounds use every code up to ZZ");
        } else if (!hasNotes) {
            outcome.skipped.push_back("no BGM: the other tracks have no notes");
        } else {
            bgmCode = static_cast<chart::ChartCode>(bmson ? keysounds.size() + 1 : static_cast<std::size_t>(codeValue));
            bgmJob = true;
            jobs.push_back({folder / (std::string(kBgmStem) + extension), 0, true});  // the longest, first
        }
    }
    std::set<std::string> stems;
    for (std::size_t index = 0; index < keysounds.size(); ++index) {
        const auto stem = convert::keysoundStem(settings.keysoundName, keysounds[index], song.ticksPerMeasure);
        if (stems.insert(stem).second) {
            jobs.push_back({folder / (stem + extension), index, false});
        }
    }
    const auto instruments = audio::keysoundInstruments(source->bytes(), song, request.conversion.trackNumber,
                                                        keysounds, settings.percussion);
    std::uint32_t keysoundTempo = outcome.conversion.keysoundSong.tempoMicros;
    if (keysoundTempo == 0) {
        keysoundTempo = song::kDefaultTempoMicros;
    }
    const std::int64_t gapFrames =
        framesOfKeysoundTicks(static_cast<std::uint64_t>(std::max(settings.keysoundGap, 0)), keysoundTempo);

    // Workers take jobs in order; the calling thread alone talks to the sink.
    std::atomic<std::size_t> nextJob{0};
    std::atomic<std::size_t> finishedJobs{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> written(jobs.size(), 0);
    std::optional<Error> failure;
    auto work = [&](std::optional<audio::SynthRenderer> renderer) {
        if (!renderer) {
            auto opened = audio::SynthRenderer::open(request.soundFont);
            if (!opened) {
                std::lock_guard lock(mutex);
                failure = failure.value_or(opened.error());
                stop = true;
                return;
            }
            renderer.emplace(std::move(opened).value());
        }
        StopFlagSink stopSink(stop);
        for (std::size_t index = nextJob++; index < jobs.size() && !stop; index = nextJob++) {
            const auto& job = jobs[index];
            std::vector<float> samples;
            if (job.bgm) {
                auto rendered = renderer->renderEvents(bgmEvents, kBgmTailFrames, stopSink);
                if (!rendered) {
                    break;
                }
                samples = std::move(rendered).value();
            } else {
                const auto& entry = keysounds[job.keysound];
                const std::int64_t noteFrames = framesOfKeysoundTicks(
                    keysound::keysoundMidiDuration(entry.duration, song.ticksPerQuarter), keysoundTempo);
                samples = renderer->renderNote(instruments[job.keysound], entry.note, entry.velocity, noteFrames,
                                               noteFrames + gapFrames);
            }
            const auto status = audio::writeSoundFile(job.target, samples, request.format, request.quality, audio::kSampleRate);
            std::lock_guard lock(mutex);
            if (!status) {
                failure = failure.value_or(status.error());
                stop = true;
            } else {
                written[index] = 1;
            }
            ++finishedJobs;
            changed.notify_one();
        }
        std::lock_guard lock(mutex);
        changed.notify_one();
    };

    const unsigned cores = request.threads != 0 ? request.threads : std::max(1u, std::thread::hardware_concurrency());
    const auto threadCount = static_cast<unsigned>(std::min<std::size_t>(cores, std::max<std::size_t>(jobs.size(), 1)));
    std::vector<std::thread> threads;
    std::optional<audio::SynthRenderer> first(std::move(firstRenderer).value());
    threads.emplace_back(work, std::move(first));
    for (unsigned t = 1; t < threadCount; ++t) {
        threads.emplace_back(work, std::nullopt);
    }
    const auto total = static_cast<std::int64_t>(jobs.size());
    progress.beginStage(ProgressStage::Rendering);
    bool cancelled = false;
    {
        std::unique_lock lock(mutex);
        while (finishedJobs < jobs.size() && !stop) {
            changed.wait_for(lock, std::chrono::milliseconds(50));
            lock.unlock();
            progress.advance(static_cast<std::int64_t>(finishedJobs.load()), total);
            if (progress.stopRequested()) {
                cancelled = true;
                stop = true;
            }
            lock.lock();
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }

    std::size_t keysoundsWritten = 0;
    bool bgmWritten = false;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        if (!written[index]) {
            continue;
        }
        if (jobs[index].bgm) {
            bgmWritten = true;
            outcome.bgmFile = jobs[index].target;
        } else {
            ++keysoundsWritten;
            outcome.keysoundFiles.push_back(jobs[index].target);
        }
    }
    const std::size_t keysoundJobs = jobs.size() - (bgmJob ? 1 : 0);
    if (failure) {
        return Error{failure->code, failure->message + "; " + writtenSoFar(keysoundsWritten, keysoundJobs, bgmWritten)};
    }
    if (cancelled) {
        return Error{ErrorCode::Cancelled,
                     "build cancelled: " + writtenSoFar(keysoundsWritten, keysoundJobs, bgmWritten)};
    }
    progress.advance(total, total);

    completeChart(outcome.conversion.chart, request, bgmCode, std::string(kBgmStem) + extension);
    AtomicFileWriter chartFile(outcome.conversion.chartPath);
    Status status = chartFile.open();
    if (status) {
        status = bmson ? chart::writeBmson(outcome.conversion.chart, chartFile)
                       : chart::writeBms(outcome.conversion.chart, chartFile);
    }
    if (status) {
        status = chartFile.commit();
    }
    if (!status) {
        return Error{status.error().code,
                     status.error().message + "; " + writtenSoFar(keysoundsWritten, keysoundJobs, bgmWritten)};
    }

    // Last, as it is heard from the files just written; the chart already names it.
    auto previewRequest = folderPreviewRequest(outcome.conversion.chartPath);
    previewRequest.outputPath = outcome.conversion.chartPath.parent_path() / kPreviewFileName;
    progress.beginStage(ProgressStage::Previewing);
    NullProgress quiet;
    const auto preview = writeChartPreview(previewRequest, quiet);
    if (!preview) {
        return Error{preview.error().code, preview.error().message + "; every other file was written whole"};
    }
    outcome.previewFile = previewRequest.outputPath;
    return outcome;
}

}  // namespace zentrowe::workflow
