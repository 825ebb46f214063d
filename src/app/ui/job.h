#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <functional>
#include <memory>

#include "core/base/progress.h"

namespace zentrowe::app {

// Progress of a pass running on a worker thread. It posts to the window's thread only when the
// whole percentage changes, and asks the pass to stop once the window sets the flag.
class JobProgress final : public ProgressSink {
public:
    using PercentHandler = std::function<void(int percent, std::int64_t done, std::int64_t total)>;

    JobProgress(QObject* receiver, PercentHandler onPercent, const std::atomic<bool>& stop)
        : m_receiver(receiver), m_onPercent(std::move(onPercent)), m_stop(stop)
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

private:
    QPointer<QObject> m_receiver;
    PercentHandler m_onPercent;
    const std::atomic<bool>& m_stop;
    int m_lastPercent = -1;
};

// Runs `work(progress)` on the thread pool with the copies it captured and hands its result to
// `done` on `owner`'s thread once it has finished. `done` is not called if `owner` is gone.
template <typename R>
QFuture<std::shared_ptr<R>> runJob(QObject* owner, JobProgress::PercentHandler onPercent,
                                   const std::atomic<bool>& stop, std::function<R(ProgressSink&)> work,
                                   std::function<void(R&)> done)
{
    auto progress = std::make_shared<JobProgress>(owner, std::move(onPercent), stop);
    auto* watcher = new QFutureWatcher<std::shared_ptr<R>>(owner);
    QObject::connect(watcher, &QFutureWatcherBase::finished, owner, [watcher, done = std::move(done)] {
        const auto result = watcher->result();
        watcher->deleteLater();
        done(*result);
    });
    auto future = QtConcurrent::run([progress, work = std::move(work)] { return std::make_shared<R>(work(*progress)); });
    watcher->setFuture(future);
    return future;
}

}  // namespace zentrowe::app
