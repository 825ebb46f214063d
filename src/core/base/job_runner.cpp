#include "core/base/job_runner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "core/base/file_error.h"

namespace zentrowe {

namespace {

// How often the calling thread polls its sink when no job finishes: a stop asked for is seen
// within this, whatever a job is doing.
constexpr std::chrono::milliseconds kPollInterval{50};

// What the workers and the calling thread share. The workers touch the sink never; the calling
// thread waits on `changed`, which a worker signals as a job finishes, fails or it leaves.
struct RunState {
    RunState(std::size_t jobCount, const Job& jobToRun, const JobOptions& runOptions)
        : count(jobCount), job(jobToRun), options(runOptions)
    {
    }

    const std::size_t count;
    const Job& job;
    const JobOptions& options;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t finished = 0;  // guarded by mutex, as are the two below
    unsigned active = 0;       // workers not yet left
    std::optional<Error> failure;

    std::string nameOf(std::size_t index) const
    {
        return options.nameOf ? options.nameOf(index) : "job " + std::to_string(index + 1);
    }

    // The first failure wins; it is recorded before the flag is raised, so a job that returns
    // Cancelled on seeing the flag never hides the failure that raised it.
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

void work(RunState& state, unsigned worker)
{
    JobContext context(worker, state.stop);
    std::size_t index = state.count;
    // Nothing thrown may leave the thread: it would end the whole process.
    try {
        while (!state.stop.load() && (index = state.next++) < state.count) {
            const auto status = state.job(index, context);
            if (!status) {
                state.fail(status.error());
                break;
            }
            std::lock_guard lock(state.mutex);
            ++state.finished;
            state.changed.notify_one();
        }
    } catch (const std::bad_alloc&) {
        state.fail(
            Error{ErrorCode::OutOfMemory, "not enough memory for " + state.options.work + " " + state.nameOf(index)});
    } catch (const std::length_error&) {
        state.fail(
            Error{ErrorCode::OutOfMemory, "not enough memory for " + state.options.work + " " + state.nameOf(index)});
    } catch (const std::exception& exception) {
        state.fail(Error{ErrorCode::WriteFailed,
                         state.options.work + " " + state.nameOf(index) + " failed: " + exception.what()}
                       .about("fault")
                       .withValue(exception.what()));
    } catch (...) {
        state.fail(
            Error{ErrorCode::WriteFailed, state.options.work + " " + state.nameOf(index) + " failed"}.about("fault"));
    }
    std::lock_guard lock(state.mutex);
    --state.active;
    state.changed.notify_one();
}

// Up to `wanted` workers; fewer when the system starts no more.
std::vector<std::thread> startWorkers(RunState& state, unsigned wanted)
{
    std::vector<std::thread> workers;
    // Counted once it has started: a failed reserve or start counts nothing, and the worker,
    // which needs the lock to leave, cannot leave before it is counted.
    std::lock_guard lock(state.mutex);
    try {
        workers.reserve(wanted);
        for (unsigned t = 0; t < wanted; ++t) {
            workers.emplace_back(work, std::ref(state), t);
            ++state.active;
        }
    } catch (const std::system_error&) {
        // fewer threads than asked: the ones started take every job
    } catch (const std::bad_alloc&) {
    }
    return workers;
}

// Reports progress until every worker has left; whether the caller asked to stop.
bool watchWorkers(RunState& state, ProgressSink& progress, std::int64_t total)
{
    bool cancelled = false;
    // The caller's sink runs on this thread while the workers run: whatever it throws stops the
    // run as a failed job would, since a thread still running when this returned would end the
    // process.
    const auto report = [&](std::int64_t done) {
        try {
            progress.advance(done, total);
            if (progress.stopRequested()) {
                cancelled = true;
                state.stop = true;
            }
        } catch (...) {
            state.fail(caughtExceptionError());
        }
    };
    report(0);
    std::unique_lock lock(state.mutex);
    while (state.active > 0) {
        state.changed.wait_for(lock, kPollInterval);
        const auto done = static_cast<std::int64_t>(state.finished);
        const bool stopping = state.stop;
        lock.unlock();
        if (!stopping) {
            report(done);
        }
        lock.lock();
    }
    return cancelled;
}

}  // namespace

struct BackgroundJob::State {
    State(Job toRun, JobOptions runOptions) : job(std::move(toRun)), options(std::move(runOptions)) { }

    Job job;
    JobOptions options;
    RunState run{1, job, options};
    std::vector<std::thread> worker;
    std::optional<Status> status;
};

BackgroundJob::BackgroundJob(Job job, JobOptions options)
    : m_state(std::make_unique<State>(std::move(job), std::move(options)))
{
    m_state->worker = startWorkers(m_state->run, 1);
    if (m_state->worker.empty()) {
        m_state->run.active = 1;
        work(m_state->run, 0);
    }
}

BackgroundJob::~BackgroundJob()
{
    wait();
}

const Status& BackgroundJob::wait()
{
    if (!m_state->status) {
        for (auto& thread : m_state->worker) {
            thread.join();
        }
        m_state->worker.clear();
        m_state->status = m_state->run.failure ? Status(*m_state->run.failure) : Status();
    }
    return *m_state->status;
}

unsigned jobThreadCount(unsigned asked, std::size_t jobCount)
{
    const unsigned wanted = asked != 0 ? asked : std::max(1U, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::size_t>({wanted, kMostThreads, std::max<std::size_t>(jobCount, 1)}));
}

Status runJobs(std::size_t count, const Job& job, const JobOptions& options, ProgressSink& progress)
{
    const auto total = static_cast<std::int64_t>(count);
    if (count == 0) {
        progress.advance(0, 0);
        return {};
    }
    RunState state(count, job, options);
    std::vector<std::thread> workers = startWorkers(state, jobThreadCount(options.threads, count));
    if (workers.empty()) {
        return Error{ErrorCode::OutOfMemory, "cannot start a thread for " + options.work};
    }
    const bool cancelled = watchWorkers(state, progress, total);
    for (auto& worker : workers) {
        worker.join();
    }
    if (state.failure && !(cancelled && state.failure->code == ErrorCode::Cancelled)) {
        return *state.failure;
    }
    if (cancelled || state.finished < count) {
        return Error{ErrorCode::Cancelled, options.work + " cancelled"};
    }
    progress.advance(total, total);
    return {};
}

}  // namespace zentrowe
