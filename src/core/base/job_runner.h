#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe {

// The most threads a pass runs at once, whatever the machine: every rendering thread holds a
// whole soundfont's state (a large General MIDI one is 150 MB), and reading, mixing and metering
// gain little past this on the machines the program runs on.
inline constexpr unsigned kMostThreads = 8;

// The threads a run of `jobCount` jobs uses when asked for `asked` (0: one per core): at least
// one, at most kMostThreads and at most one per job.
unsigned jobThreadCount(unsigned asked, std::size_t jobCount);

// What a job sees of the run it belongs to.
class JobContext final : public ProgressSink {
public:
    JobContext(unsigned worker, const std::atomic<bool>& stop) : m_worker(worker), m_stop(stop) { }

    // Which thread runs the job, 0 to threads - 1: the index of state a thread keeps for the
    // jobs it runs one after another (a synthesiser, a buffer).
    unsigned worker() const { return m_worker; }

    // True once another job failed or the caller's sink asked to stop; a long job polls it and
    // returns Cancelled. As a sink, the context is what a job hands to a pass of its own: that
    // pass's progress goes nowhere (the caller's thread alone reports, in jobs), its stop
    // follows the run's.
    bool stopRequested() const override { return m_stop.load(std::memory_order_relaxed); }
    void advance(std::int64_t, std::int64_t) override { }

private:
    unsigned m_worker;
    const std::atomic<bool>& m_stop;
};

// One job of a run: job `index` of the list. A failure stops the run; Cancelled means the job
// saw the stop and is not a failure of its own.
using Job = std::function<Status(std::size_t index, JobContext& context)>;

struct JobOptions {
    unsigned threads = 0;  // 0: one per core; jobThreadCount() decides
    // How a sentence names the work and a job, for the errors a job does not make itself:
    // "not enough memory for rendering piano_001.ogg", "rendering cancelled".
    std::string work = "the work";
    std::function<std::string(std::size_t index)> nameOf = {};
};

// Runs jobs 0 to `count` - 1 on jobThreadCount(options.threads, count) threads started for the
// run, each taking the next job in order as it is free. The calling thread runs no job: it alone
// reports to `progress` (jobs finished of `count`) and polls its stopRequested(), which it passes
// on to the jobs through their context. Returns the first failure, once every running job has
// returned and no further one has started; a std::bad_alloc (or a length past what a container
// holds) thrown by a job becomes OutOfMemory, any other exception a WriteFailed naming the job
// and the exception's text; a job that cannot start for want of threads too is OutOfMemory.
// Cancelled if the sink asked to stop before every job was done. No job, no thread: success.
Status runJobs(std::size_t count, const Job& job, const JobOptions& options, ProgressSink& progress);

// One job started on a thread of its own while the calling thread goes on with work of its own
// (a soundfont loaded while the song is read and planned): job 0, with `options` naming it as
// runJobs does. Nothing stops it but its own end; wait() gives what it returned, or what it
// threw as runJobs words it, and the destructor waits for it too, so it never outlives what it
// uses. When no thread can be started, the job runs at once on the calling thread.
class BackgroundJob final {
public:
    BackgroundJob(Job job, JobOptions options);
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Waits for the job to return; the same status on every call.
    const Status& wait();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// runJobs for jobs that each make a value: the values in job order, or the first failure.
template <typename T>
Result<std::vector<T>> runJobsFor(std::size_t count, const std::function<Result<T>(std::size_t, JobContext&)>& job,
                                  const JobOptions& options, ProgressSink& progress)
{
    std::vector<std::optional<T>> made(count);
    const auto status = runJobs(
        count,
        [&](std::size_t index, JobContext& context) -> Status {
            auto value = job(index, context);
            if (!value) {
                return value.error();
            }
            made[index].emplace(std::move(value).value());
            return {};
        },
        options, progress);
    if (!status) {
        return status.error();
    }
    std::vector<T> values;
    values.reserve(count);
    for (auto& value : made) {
        values.push_back(std::move(*value));
    }
    return values;
}

}  // namespace zentrowe
