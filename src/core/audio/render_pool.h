#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "core/audio/synth_renderer.h"
#include "core/base/job_runner.h"
#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::audio {

// No more threads than this render at once, whatever the machine (see kMostThreads).
inline constexpr unsigned kMostRenderThreads = kMostThreads;

// One sound file to render and write: a note (a keysound) or a sequence of events (the BGM).
struct RenderJob {
    std::filesystem::path target;
    std::string name;  // how a sentence names it: the file name, or "the BGM"
    bool sequence = false;
    // A note:
    NoteSound note;
    // A sequence, which must outlive the pool's run:
    std::span<const TimedEvent> events;
    std::int64_t tailFrames = 0;
};

// Makes the renderer of one thread; CannotOpen and the like if it cannot.
using RendererFactory = std::function<Result<std::unique_ptr<Renderer>>()>;
// Writes one rendered sound (interleaved stereo at kSampleRate) to its target.
using SoundWriter = std::function<Status(const std::filesystem::path& target, std::span<const float> interleaved)>;

// The threads a pool of `jobCount` jobs uses when asked for `asked` (0: one per core): at least
// one, at most kMostRenderThreads and at most one per job.
unsigned renderThreadCount(unsigned asked, std::size_t jobCount);

// Renders every job on runJobs' threads, each thread with its own renderer (`first`, if given, is
// the first thread's; the others come from `renderers`, made on the thread that uses them), and
// writes each sound with `writer` as it is done. Jobs are taken in order; notes the first renderer
// plays alike (Renderer::playedAs) are rendered once, and the sound written to each of their
// targets. The calling thread alone reports progress (in renderings finished) and polls the sink. The first failure
// stops every thread and is returned, naming the job; a std::bad_alloc or any other exception inside a thread becomes
// OutOfMemory (or WriteFailed) instead of ending the process. Cancelled if the sink asks to stop.
// Files written before a failure stay written: where they go is the caller's to clear.
Status renderAll(std::span<const RenderJob> jobs, std::unique_ptr<Renderer> first, const RendererFactory& renderers,
                 const SoundWriter& writer, unsigned threads, ProgressSink& progress);

}  // namespace zentrowe::audio
