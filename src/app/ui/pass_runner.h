#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

#include "core/base/file_error.h"
#include "core/base/progress.h"
#include "core/base/result.h"

namespace zentrowe::app {

// Progress of a pass running on a worker thread. It posts to the window's thread only when the
// whole percentage changes, and asks the pass to stop once the window sets the flag.
class JobProgress final : public ProgressSink {
public:
    using PercentHandler = std::function<void(int percent, std::int64_t done, std::int64_t total)>;
    using StageHandler = std::function<void(ProgressStage stage)>;

    JobProgress(QObject* receiver, PercentHandler onPercent, const std::atomic<bool>& stop, StageHandler onStage = {})
        : m_receiver(receiver), m_onPercent(std::move(onPercent)), m_onStage(std::move(onStage)), m_stop(stop)
    {
    }

    void advance(std::int64_t done, std::int64_t total) override
    {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent == m_lastPercent) {
            return;
        }
        m_lastPercent = percent;
        QMetaObject::invokeMethod(
            m_receiver, [handler = m_onPercent, percent, done, total] { handler(percent, done, total); },
            Qt::QueuedConnection);
    }

    bool stopRequested() const override { return m_stop.load(std::memory_order_relaxed); }
    // Posted before the stage's first percentage, which is posted even if it equals the last.
    void beginStage(ProgressStage stage) override
    {
        m_lastPercent = -1;
        if (m_onStage) {
            QMetaObject::invokeMethod(
                m_receiver, [handler = m_onStage, stage] { handler(stage); }, Qt::QueuedConnection);
        }
    }

private:
    QPointer<QObject> m_receiver;
    PercentHandler m_onPercent;
    StageHandler m_onStage;
    const std::atomic<bool>& m_stop;
    int m_lastPercent = -1;
};

// Owns the one pass that runs at a time. The pass is the one job of a run of the core's runner
// (runJobs), started from a thread of the runner's own so that the window's thread never waits;
// its result goes to `done` on the window's thread once it has finished, and the stop flag the
// pass polls is the run's too. Nothing it starts outlives it: destroying the runner stops the
// pass and waits for it, and `done` is then not called.
class PassRunner final : public QObject {
    Q_OBJECT

public:
    explicit PassRunner(QObject* parent = nullptr);
    ~PassRunner() override;

    bool isRunning() const { return m_running; }

    // Asks the running pass to stop at its next poll; it then ends with ErrorCode::Cancelled.
    void requestStop() { m_stop = true; }
    // Asks the running pass to stop and blocks until it has.
    void stopAndWait();

    // Runs on the pass's thread before each pass that starts from now on: where a test holds a
    // pass back until its cancel is in. Empty: none.
    void setPassGate(std::function<void()> gate) { m_gate = std::move(gate); }

    // Starts `work(progress)`; false (and nothing started) while another pass runs.
    // `onPercent` runs on the window's thread when the whole percentage changes.
    template <typename R>
    bool run(std::function<R(ProgressSink&)> work, JobProgress::PercentHandler onPercent, std::function<void(R&)> done,
             JobProgress::StageHandler onStage = {})
    {
        if (isRunning()) {
            return false;
        }
        m_stop = false;
        auto progress = std::make_shared<JobProgress>(this, std::move(onPercent), m_stop, std::move(onStage));
        auto made = std::make_shared<std::optional<R>>();
        start(
            [progress, made, work = std::move(work)] {
                // Nothing may leave the pass: files are written through temporary files the
                // unwinding removed, and the sentence says so.
                try {
                    made->emplace(work(*progress));
                } catch (...) {
                    made->emplace(failedResult<R>(caughtExceptionError()));
                }
            },
            [made, done = std::move(done)](const Status& ran) {
                if (!made->has_value()) {
                    made->emplace(
                        failedResult<R>(ran ? Error{ErrorCode::WriteFailed, "the pass gave no result"} : ran.error()));
                }
                done(**made);
            });
        return true;
    }

signals:
    void runningChanged(bool running);

private:
    // Runs `pass` on the core's runner from a thread of its own, then `finish` with how the run
    // ended on the window's thread.
    void start(std::function<void()> pass, std::function<void(const Status&)> finish);
    void joinPass();

    // A pass's result that carries only `error`: a Result, a pair whose first is the error, or
    // a type whose R::failed(error) makes one.
    template <typename R>
    static R failedResult(Error error)
    {
        if constexpr (requires { R::failed(std::move(error)); }) {
            return R::failed(std::move(error));
        } else if constexpr (requires { typename R::first_type; }) {
            R failed{};
            failed.first = std::move(error);
            return failed;
        } else {
            return R(std::move(error));
        }
    }

    std::atomic<bool> m_stop{false};
    bool m_running = false;
    std::thread m_thread;
    std::function<void()> m_gate;
};

}  // namespace zentrowe::app
