#include "core/audio/render_pool.h"

#include <vector>

namespace zentrowe::audio {

unsigned renderThreadCount(unsigned asked, std::size_t jobCount)
{
    return jobThreadCount(asked, jobCount);
}

Status renderAll(std::span<const RenderJob> jobs, std::unique_ptr<Renderer> first, const RendererFactory& renderers,
                 const SoundWriter& writer, unsigned threads, ProgressSink& progress)
{
    // One renderer per thread of the run, each touched by its own thread only.
    std::vector<std::unique_ptr<Renderer>> perThread(jobThreadCount(threads, jobs.size()));
    perThread[0] = std::move(first);
    const auto render = [&](std::size_t index, JobContext& context) -> Status {
        const RenderJob& job = jobs[index];
        auto& renderer = perThread[context.worker()];
        if (!renderer) {
            auto made = renderers();
            if (!made) {
                return made.error();
            }
            renderer = std::move(made).value();
        }
        auto rendered =
            job.sequence ? renderer->renderEvents(job.events, job.tailFrames, context) : renderer->renderNote(job.note);
        if (job.sequence) {
            // A sequence leaves the synthesiser in a state a reset does not wholly undo: the
            // notes after it get a fresh one, so that they sound the same whichever thread
            // renders them.
            renderer.reset();
        }
        if (!rendered) {
            Error error = rendered.error();
            if (error.code != ErrorCode::Cancelled) {
                error.message = job.name + ": " + error.message;
            }
            return error;
        }
        return writer(job.target, *rendered);
    };
    JobOptions options;
    options.threads = threads;
    options.work = "rendering";
    options.nameOf = [&](std::size_t index) { return jobs[index].name; };
    return runJobs(jobs.size(), render, options, progress);
}

}  // namespace zentrowe::audio
