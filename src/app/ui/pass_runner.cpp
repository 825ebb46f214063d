#include "app/ui/pass_runner.h"

#include <system_error>

#include "core/base/job_runner.h"

namespace zentrowe::app {

namespace {

// The sink the core's runner reports to: the pass's own JobProgress posts the percentages, so
// the run's count of one job goes nowhere; its stop is the window's flag.
class StopFlagSink final : public ProgressSink {
public:
    explicit StopFlagSink(const std::atomic<bool>& stop) : m_stop(stop) { }
    void advance(std::int64_t, std::int64_t) override { }
    bool stopRequested() const override { return m_stop.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>& m_stop;
};

}  // namespace

PassRunner::PassRunner(QObject* parent) : QObject(parent)
{
}

PassRunner::~PassRunner()
{
    stopAndWait();
}

void PassRunner::stopAndWait()
{
    m_stop = true;
    joinPass();
}

void PassRunner::joinPass()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PassRunner::start(std::function<void()> pass, std::function<void(const Status&)> finish)
{
    m_running = true;
    // Posted to this object, so that a runner destroyed meanwhile drops it with its other events.
    auto post = [this](std::function<void(const Status&)> finished, Status ran) {
        QMetaObject::invokeMethod(
            this,
            [this, finished = std::move(finished), ran = std::move(ran)] {
                joinPass();
                m_running = false;
                emit runningChanged(false);
                finished(ran);
            },
            Qt::QueuedConnection);
    };
    try {
        m_thread = std::thread([this, post, gate = m_gate, pass = std::move(pass), finish]() mutable {
            StopFlagSink sink(m_stop);
            JobOptions options;
            options.threads = 1;
            options.work = "the pass";
            options.nameOf = [](std::size_t) { return std::string("in the window"); };
            Status ran = runJobs(
                1,
                [&gate, &pass](std::size_t, JobContext&) -> Status {
                    if (gate) {
                        gate();
                    }
                    pass();
                    return {};
                },
                options, sink);
            post(std::move(finish), std::move(ran));
        });
    } catch (const std::system_error&) {
        // No thread to run it on: the pass ends at once, as a run that could not start a job does.
        post(std::move(finish), outOfMemoryError());
    }
    emit runningChanged(true);
}

}  // namespace zentrowe::app
