#include "app/ui/pass_runner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSemaphore>
#include <optional>
#include <stdexcept>
#include <utility>

#include "app/ui/error_sentence.h"
#include "core/base/result.h"

namespace zentrowe::app {
namespace {

// Runs `work` on the runner and waits, on the window's event loop, for `done` to bring its result.
template <typename R>
R runToTheEnd(PassRunner& runner, std::function<R(ProgressSink&)> work)
{
    QEventLoop loop;
    std::optional<R> result;
    EXPECT_TRUE(runner.run<R>(
        std::move(work), [](int, std::int64_t, std::int64_t) {},
        [&](R& finished) {
            result.emplace(std::move(finished));
            loop.quit();
        }));
    if (!result) {
        loop.exec();
    }
    return std::move(*result);
}

// An exception from a pass reaches the window as an error it words in Chinese, not as the end of
// the program, whatever the pass's result looks like.
TEST(PassRunner, AnyExceptionInAPassComesBackAsOneSentence)
{
    PassRunner runner;
    const auto failed = runToTheEnd<Result<int>>(
        runner, [](ProgressSink&) -> Result<int> { throw std::runtime_error("a broken promise"); });
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, ErrorCode::WriteFailed);
    EXPECT_EQ(failed.error().message,
              "an internal fault stopped the work: a broken promise; no file was left half-written");
    EXPECT_EQ(errorSentence(failed.error()),
              QStringLiteral("内部错误使工作中止：a broken promise；没有留下写了一半的文件"));

    using Pair = std::pair<Status, int>;
    const auto pair = runToTheEnd<Pair>(runner, [](ProgressSink&) -> Pair { throw 7; });
    ASSERT_FALSE(pair.first);
    EXPECT_EQ(pair.first.error().subject, "fault");

    const auto outOfMemory =
        runToTheEnd<Result<int>>(runner, [](ProgressSink&) -> Result<int> { throw std::bad_alloc(); });
    ASSERT_FALSE(outOfMemory);
    EXPECT_EQ(outOfMemory.error().code, ErrorCode::OutOfMemory);

    // The runner is free again and runs the next pass.
    EXPECT_EQ(runToTheEnd<Result<int>>(runner, [](ProgressSink&) -> Result<int> { return 5; }).value(), 5);
}

// A stop asked while the pass is held back reaches the pass through its progress, and a runner
// destroyed while its pass runs waits for it without handing the result to anyone.
TEST(PassRunner, AStopReachesThePassAndDestroyingTheRunnerWaitsForIt)
{
    PassRunner runner;
    QSemaphore held;
    runner.setPassGate([&held] { held.acquire(); });
    const auto polled = [](ProgressSink& progress) -> Result<int> {
        if (progress.stopRequested()) {
            return Error{ErrorCode::Cancelled, "stopped"};
        }
        return 1;
    };
    QEventLoop loop;
    std::optional<Result<int>> stopped;
    ASSERT_TRUE(runner.run<Result<int>>(
        polled, [](int, std::int64_t, std::int64_t) {},
        [&](Result<int>& finished) {
            stopped.emplace(std::move(finished));
            loop.quit();
        }));
    EXPECT_TRUE(runner.isRunning());
    // One pass at a time.
    EXPECT_FALSE(runner.run<Result<int>>(
        polled, [](int, std::int64_t, std::int64_t) {}, [](Result<int>&) {}));
    runner.requestStop();
    held.release();
    loop.exec();
    ASSERT_TRUE(stopped.has_value());
    ASSERT_FALSE(*stopped);
    EXPECT_EQ(stopped->error().code, ErrorCode::Cancelled);
    EXPECT_FALSE(runner.isRunning());

    bool doneCalled = false;
    {
        PassRunner doomed;
        doomed.setPassGate([&held] { held.acquire(); });
        ASSERT_TRUE(doomed.run<Result<int>>([](ProgressSink&) -> Result<int> { return 2; },
                                            [](int, std::int64_t, std::int64_t) {},
                                            [&](Result<int>&) { doneCalled = true; }));
        held.release();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(doneCalled);
}

}  // namespace
}  // namespace zentrowe::app
