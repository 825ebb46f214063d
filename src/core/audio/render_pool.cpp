#include "core/audio/render_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace zentrowe::audio {

namespace {

// A sink for passes inside a worker: no progress of their own, stop when the pool stops.
class StopFlagSink final : public ProgressSink {
public:
    explicit StopFlagSink(const std::atomic<bool>& stop) : m_stop(stop) {}
    void advance(std::int64_t, std::int64_t) override {}
    bool stopRequested() const override { return m_stop.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>& m_stop;
};

// What the workers share; the calling thread waits on `changed`.
struct PoolState {
    PoolState(std::span<const RenderJob> jobList, const RendererFactory& factory, const SoundWriter& soundWriter)
        : jobs(jobList), renderers(factory), writer(soundWriter)
    {
    }

    std::span<const RenderJob> jobs;
    const RendererFactory& renderers;
    const SoundWriter& writer;
    std::atomic<std::size_t> nextJob{0};
    std::atomic<std::size_t> finishedJobs{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Error> failure;

    void fail(Error error)
    {
        std::lock_guard lock(mutex);
        if (!failure) {
            failure = std::move(error);
        }
        stop = true;
        changed.notify_one();
    }
};

Status renderOne(const RenderJob& job, Renderer& renderer, PoolState& state)
{
    StopFlagSink stopSink(state.stop);
    auto rendered = job.sequence
                        ? renderer.renderEvents(job.events, job.tailFrames, stopSink)
                        : renderer.renderNote(job.note);
    if (!rendered) {
        if (rendered.error().code == ErrorCode::Cancelled) {
            return rendered.error();
        }
        Error error = rendered.error();
        error.message = job.name + ": " + error.message;
        return error;
    }
    return state.writer(job.target, *rendered);
}

void work(PoolState& state, std::unique_ptr<Renderer> renderer)
{
    const RenderJob* job = nullptr;
    // Nothing thrown here may leave the thread: it would end the whole process.
    try {
        for (std::size_t index = state.nextJob++; index < state.jobs.size() && !state.stop; index = state.nextJob++) {
            job = &state.jobs[index];
            if (!renderer) {
                auto made = state.renderers();
                if (!made) {
                    state.fail(made.error());
                    return;
                }
                renderer = std::move(made).value();
            }
            const auto status = renderOne(*job, *renderer, state);
            if (!status) {
                if (status.error().code != ErrorCode::Cancelled) {
                    state.fail(status.error());
                }
                return;
            }
            if (job->sequence) {
                // A sequence leaves the synthesiser in a state a reset does not wholly undo: the
                // notes after it get a fresh one, so that they sound the same whichever thread
                // renders them.
                renderer.reset();
            }
            std::lock_guard lock(state.mutex);
            ++state.finishedJobs;
            state.changed.notify_one();
        }
    } catch (const std::bad_alloc&) {
        state.fail(Error{ErrorCode::OutOfMemory,
                         "not enough memory to render " + (job != nullptr ? job->name : std::string("a sound"))});
    } catch (const std::length_error&) {
        state.fail(Error{ErrorCode::OutOfMemory,
                         "not enough memory to render " + (job != nullptr ? job->name : std::string("a sound"))});
    } catch (const std::exception& exception) {
        state.fail(Error{ErrorCode::WriteFailed, "cannot render " + (job != nullptr ? job->name : std::string("a sound")) +
                                                     ": " + exception.what()});
    }
    std::lock_guard lock(state.mutex);
    state.changed.notify_one();
}

}  // namespace

unsigned renderThreadCount(unsigned asked, std::size_t jobCount)
{
    const unsigned wanted = asked != 0 ? asked : std::max(1u, std::thread::hardware_concurrency());
    const std::size_t capped = std::min<std::size_t>({wanted, kMostRenderThreads, std::max<std::size_t>(jobCount, 1)});
    return static_cast<unsigned>(capped);
}

Status renderAll(std::span<const RenderJob> jobs, std::unique_ptr<Renderer> first, const RendererFactory& renderers,
                 const SoundWriter& writer, unsigned threads, ProgressSink& progress)
{
    PoolState state(jobs, renderers, writer);
    std::vector<std::thread> workers;
    const unsigned count = renderThreadCount(threads, jobs.size());
    try {
        workers.emplace_back(work, std::ref(state), std::move(first));
        for (unsigned t = 1; t < count; ++t) {
            workers.emplace_back(work, std::ref(state), nullptr);
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked: the ones started take every job.
        if (workers.empty()) {
            return Error{ErrorCode::OutOfMemory, "cannot start a rendering thread"};
        }
    }

    const auto total = static_cast<std::int64_t>(jobs.size());
    bool cancelled = false;
    {
        std::unique_lock lock(state.mutex);
        while (state.finishedJobs < jobs.size() && !state.stop) {
            state.changed.wait_for(lock, std::chrono::milliseconds(50));
            lock.unlock();
            progress.advance(static_cast<std::int64_t>(state.finishedJobs.load()), total);
            if (progress.stopRequested()) {
                cancelled = true;
                state.stop = true;
            }
            lock.lock();
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    if (state.failure) {
        return *state.failure;
    }
    if (cancelled || state.finishedJobs < jobs.size()) {
        return Error{ErrorCode::Cancelled, "rendering cancelled"};
    }
    progress.advance(total, total);
    return {};
}

}  // namespace zentrowe::audio
