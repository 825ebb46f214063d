#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>

#include "core/base/file_error.h"
#include "core/base/progress.h"

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

// Owns the one pass that runs at a time: starts it on the thread pool with the copies it
// captured, hands its result to `done` on the window's thread once it has finished, and carries
// the stop flag the pass polls. Nothing it starts outlives it: destroying the runner stops the
// pass and waits for it, and `done` is then not called.
class JobRunner final : public QObject {
    Q_OBJECT

public:
    explicit JobRunner(QObject* parent = nullptr) : QObject(parent) { }
    ~JobRunner() override { stopAndWait(); }

    bool isRunning() const { return static_cast<bool>(m_wait); }

    // Asks the running pass to stop at its next poll; it then ends with ErrorCode::Cancelled.
    void requestStop() { m_stop = true; }
    // Asks the running pass to stop and blocks until it has.
    void stopAndWait()
    {
        m_stop = true;
        if (m_wait) {
            m_wait();
        }
    }

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
        auto* watcher = new QFutureWatcher<std::shared_ptr<R>>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, done = std::move(done)] {
            const auto result = watcher->result();
            watcher->deleteLater();
            m_wait = nullptr;
            emit runningChanged(false);
            done(*result);
        });
        auto future = QtConcurrent::run([progress, work = std::move(work)] {
            // Nothing may leave the pool's thread: Qt would end the program. Files are written
            // through temporary files the unwinding removed, and the sentence says so.
            try {
                return std::make_shared<R>(work(*progress));
            } catch (...) {
                return failedResult<R>(caughtExceptionError());
            }
        });
        watcher->setFuture(future);
        m_wait = [future]() mutable { future.waitForFinished(); };
        emit runningChanged(true);
        return true;
    }

signals:
    void runningChanged(bool running);

private:
    // A pass's result that carries only `error`: a Result, a pair whose first is the error, or
    // an aggregate that begins with it.
    template <typename R>
    static std::shared_ptr<R> failedResult(Error error)
    {
        if constexpr (std::is_constructible_v<R, Error>) {
            return std::make_shared<R>(std::move(error));
        } else if constexpr (requires { typename R::first_type; }) {
            auto failed = std::make_shared<R>();
            failed->first = std::move(error);
            return failed;
        } else {
            return std::make_shared<R>(R{std::move(error), {}});
        }
    }

    std::atomic<bool> m_stop{false};
    std::function<void()> m_wait;
};

}  // namespace zentrowe::app
