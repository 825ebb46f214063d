#include "core/audio/render_pool.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace zentrowe::audio {

unsigned renderThreadCount(unsigned asked, std::size_t jobCount)
{
    return jobThreadCount(asked, jobCount);
}

namespace {

// The jobs, as groups of those whose notes `renderer` plays alike (none: each on its own), in the
// order of each group's first job; a sequence is always a group of its own.
std::vector<std::vector<std::size_t>> alikeGroups(std::span<const RenderJob> jobs, const Renderer* renderer)
{
    std::vector<std::vector<std::size_t>> groups;
    // The groups of notes by note and velocity, so that a note is compared with few others.
    std::map<std::pair<int, int>, std::vector<std::size_t>> byNote;
    std::vector<NoteSound> played;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        const RenderJob& job = jobs[index];
        if (job.sequence || renderer == nullptr) {
            groups.push_back({index});
            continue;
        }
        NoteSound sound = renderer->playedAs(job.note);
        auto& candidates = byNote[{sound.note, sound.velocity}];
        const auto same = std::find_if(candidates.begin(), candidates.end(),
                                       [&](std::size_t group) { return played[group] == sound; });
        if (same != candidates.end()) {
            groups[*same].push_back(index);
            continue;
        }
        candidates.push_back(groups.size());
        groups.push_back({index});
        played.resize(groups.size());
        played.back() = std::move(sound);
    }
    return groups;
}

}  // namespace

Status renderAll(std::span<const RenderJob> jobs, std::unique_ptr<Renderer> first, const RendererFactory& renderers,
                 const SoundWriter& writer, unsigned threads, ProgressSink& progress)
{
    const auto groups = alikeGroups(jobs, first.get());
    // One renderer per thread of the run, each touched by its own thread only.
    std::vector<std::unique_ptr<Renderer>> perThread(jobThreadCount(threads, groups.size()));
    perThread[0] = std::move(first);
    const auto render = [&](std::size_t group, JobContext& context) -> Status {
        const RenderJob& job = jobs[groups[group].front()];
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
        for (const std::size_t index : groups[group]) {
            if (auto written = writer(jobs[index].target, *rendered); !written) {
                return written;
            }
        }
        return {};
    };
    JobOptions options;
    options.threads = threads;
    options.work = "rendering";
    options.nameOf = [&](std::size_t group) { return jobs[groups[group].front()].name; };
    return runJobs(groups.size(), render, options, progress);
}

}  // namespace zentrowe::audio
