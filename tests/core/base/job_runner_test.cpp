#include "core/base/job_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zentrowe {
namespace {

// Records which threads talk to it; asks to stop once `stopAfter` is raised.
class WatchingSink final : public ProgressSink {
public:
    void advance(std::int64_t done, std::int64_t total) override
    {
        std::lock_guard lock(m_mutex);
        threads.push_back(std::this_thread::get_id());
        last = {done, total};
    }
    bool stopRequested() const override
    {
        std::lock_guard lock(m_mutex);
        threads.push_back(std::this_thread::get_id());
        return stopAfter.load();
    }

    std::atomic<bool> stopAfter{false};
    mutable std::vector<std::thread::id> threads;
    std::pair<std::int64_t, std::int64_t> last{-1, -1};

private:
    mutable std::mutex m_mutex;
};

// Waits for the run's stop, which a failure or the caller's sink raises: an event, not a time.
Status waitForStop(const JobContext& context)
{
    while (!context.stopRequested()) {
        std::this_thread::yield();
    }
    return Error{ErrorCode::Cancelled, "saw the stop"};
}

TEST(JobRunner, ThreadsAreAtLeastOneAndAtMostTheCapOrOnePerJob)
{
    struct Case {
        unsigned asked;
        std::size_t jobs;
        unsigned expected;
    };
    for (const auto& c :
         {Case{1, 100, 1}, Case{4, 100, 4}, Case{64, 1000, kMostThreads}, Case{4, 2, 2}, Case{3, 0, 1}}) {
        SCOPED_TRACE(std::to_string(c.asked) + " asked, " + std::to_string(c.jobs) + " jobs");
        EXPECT_EQ(jobThreadCount(c.asked, c.jobs), c.expected);
    }
    EXPECT_GE(jobThreadCount(0, 1000), 1U);
    EXPECT_LE(jobThreadCount(0, 1000), kMostThreads);
}

TEST(JobRunner, EveryJobRunsOnceAndValuesComeInJobOrder)
{
    for (const unsigned threads : {1U, 2U, 8U}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        std::vector<std::atomic<int>> runs(200);
        JobOptions options;
        options.threads = threads;
        WatchingSink sink;
        const auto squares = runJobsFor<std::size_t>(
            runs.size(),
            [&](std::size_t i, JobContext& context) -> Result<std::size_t> {
                EXPECT_LT(context.worker(), threads);
                ++runs[i];
                return i * i;
            },
            options, sink);
        ASSERT_TRUE(squares);
        ASSERT_EQ(squares->size(), 200U);
        EXPECT_EQ((*squares)[0], 0U);
        EXPECT_EQ((*squares)[7], 49U);
        EXPECT_EQ((*squares)[199], 39601U);
        for (const auto& count : runs) {
            EXPECT_EQ(count.load(), 1);
        }
        EXPECT_EQ(sink.last, std::make_pair(std::int64_t{200}, std::int64_t{200}));
    }
}

TEST(JobRunner, NoJobsIsSuccessWithoutAThread)
{
    WatchingSink sink;
    const auto none = runJobsFor<int>(
        0, [](std::size_t, JobContext&) -> Result<int> { return 1; }, JobOptions{}, sink);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(JobRunner, OneThreadRunsTheJobsInOrderOnOneWorker)
{
    std::vector<std::size_t> order;
    std::vector<unsigned> workers;
    JobOptions options;
    options.threads = 1;
    NullProgress progress;
    const auto status = runJobs(
        5,
        [&](std::size_t i, JobContext& context) -> Status {
            order.push_back(i);  // one thread: no lock needed
            workers.push_back(context.worker());
            return {};
        },
        options, progress);
    EXPECT_TRUE(status);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(workers, (std::vector<unsigned>{0, 0, 0, 0, 0}));
}

TEST(JobRunner, AFailureStopsTheRestAndIsReturned)
{
    for (const unsigned threads : {1U, 4U}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        std::atomic<std::size_t> started{0};
        JobOptions options;
        options.threads = threads;
        NullProgress progress;
        const auto status = runJobs(
            100,
            [&](std::size_t i, JobContext& context) -> Status {
                ++started;
                if (i < 5) {
                    return {};
                }
                if (i == 5) {
                    return Error{ErrorCode::InvalidSetting, "job 6 is wrong"};
                }
                return waitForStop(context);
            },
            options, progress);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().code, ErrorCode::InvalidSetting);
        EXPECT_EQ(status.error().message, "job 6 is wrong");
        // The jobs already taken when it failed, and no more.
        EXPECT_LE(started.load(), 5 + threads);
    }
}

TEST(JobRunner, TheSinkStopsTheRunFromTheCallersThread)
{
    WatchingSink sink;
    std::atomic<std::size_t> started{0};
    JobOptions options;
    options.threads = 3;
    options.work = "rendering";
    const auto status = runJobs(
        50,
        [&](std::size_t, JobContext& context) -> Status {
            ++started;
            sink.stopAfter = true;
            return waitForStop(context);
        },
        options, sink);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, ErrorCode::Cancelled);
    EXPECT_EQ(status.error().message, "rendering cancelled");
    EXPECT_LE(started.load(), 3U);
    ASSERT_FALSE(sink.threads.empty());
    for (const auto& thread : sink.threads) {
        EXPECT_EQ(thread, std::this_thread::get_id());
    }
}

TEST(JobRunner, ExceptionsBecomeErrorsNamingTheJob)
{
    struct Case {
        const char* what;
        std::function<void()> raise;
        ErrorCode code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, ErrorCode::OutOfMemory,
         "not enough memory for rendering piano_003.ogg"},
        {"length_error", [] { std::vector<double>().reserve(std::vector<double>().max_size() + 1); },
         ErrorCode::OutOfMemory, "not enough memory for rendering piano_003.ogg"},
        {"runtime_error", [] { throw std::runtime_error("disk on fire"); }, ErrorCode::WriteFailed,
         "rendering piano_003.ogg failed: disk on fire"},
        {"not an exception class", [] { throw 42; }, ErrorCode::WriteFailed, "rendering piano_003.ogg failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JobOptions options;
        options.threads = 2;
        options.work = "rendering";
        options.nameOf = [](std::size_t i) { return "piano_00" + std::to_string(i + 1) + ".ogg"; };
        NullProgress progress;
        const auto status = runJobs(
            10,
            [&](std::size_t i, JobContext& context) -> Status {
                if (i == 2) {
                    c.raise();
                }
                return i > 2 ? waitForStop(context) : Status{};
            },
            options, progress);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().code, c.code);
        EXPECT_EQ(status.error().message, c.message);
    }
}

// The caller's sink runs on the calling thread while the workers run: an exception from it must
// stop them and come back as the run's error, not leave running threads behind (which ends the
// process).
TEST(JobRunner, AnExceptionFromTheCallersSinkStopsTheRunAndIsReturned)
{
    class ThrowingSink final : public ProgressSink {
    public:
        void advance(std::int64_t, std::int64_t) override { throw std::runtime_error("the bar is gone"); }
    };
    ThrowingSink sink;
    std::atomic<std::size_t> started{0};
    JobOptions options;
    options.threads = 2;
    const auto status = runJobs(
        20,
        [&](std::size_t, JobContext& context) -> Status {
            ++started;
            return waitForStop(context);
        },
        options, sink);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(status.error().subject, "fault");
    EXPECT_EQ(status.error().value, "the bar is gone");
    EXPECT_LE(started.load(), 2U);
}

TEST(BackgroundJob, GivesWhatTheJobReturnedOrThrewOnEveryWait)
{
    struct Case {
        const char* what;
        std::function<Status()> job;
        std::optional<ErrorCode> code;  // none: success
        std::string message;
    };
    const std::vector<Case> cases = {
        {"success", [] { return Status(); }, std::nullopt, ""},
        {"an error",
         [] {
             return Status(Error{ErrorCode::CannotOpen, "font.sf2: not a SoundFont file"});
         },
         ErrorCode::CannotOpen, "font.sf2: not a SoundFont file"},
        {"bad_alloc", []() -> Status { throw std::bad_alloc(); }, ErrorCode::OutOfMemory,
         "not enough memory for opening font.sf2"},
        {"runtime_error", []() -> Status { throw std::runtime_error("disk on fire"); }, ErrorCode::WriteFailed,
         "opening font.sf2 failed: disk on fire"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JobOptions options;
        options.work = "opening";
        options.nameOf = [](std::size_t) { return std::string("font.sf2"); };
        BackgroundJob job([&](std::size_t, JobContext&) { return c.job(); }, options);
        for (int time = 0; time < 2; ++time) {
            const Status& status = job.wait();
            ASSERT_EQ(status.ok(), !c.code);
            if (c.code) {
                EXPECT_EQ(status.error().code, *c.code);
                EXPECT_EQ(status.error().message, c.message);
            }
        }
    }
}

// The job runs on a thread of its own while the caller works, and is waited for when the
// caller leaves without asking: the caller's signal reaches a job that is still running.
TEST(BackgroundJob, RunsBesideTheCallerAndIsWaitedForOnLeaving)
{
    std::mutex mutex;
    std::condition_variable signalled;
    bool callerDone = false;
    std::thread::id jobThread;
    bool jobFinished = false;
    {
        BackgroundJob job(
            [&](std::size_t index, JobContext& context) -> Status {
                EXPECT_EQ(index, 0U);
                EXPECT_EQ(context.worker(), 0U);
                std::unique_lock lock(mutex);
                jobThread = std::this_thread::get_id();
                signalled.wait(lock, [&] { return callerDone; });  // an event, never a time
                jobFinished = true;
                return {};
            },
            JobOptions{});
        std::lock_guard lock(mutex);
        callerDone = true;
        signalled.notify_all();
    }
    EXPECT_TRUE(jobFinished);
    EXPECT_NE(jobThread, std::this_thread::get_id());
}

}  // namespace
}  // namespace zentrowe
