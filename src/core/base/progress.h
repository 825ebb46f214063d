#pragma once

#include <cstdint>

namespace zentrowe {

// The stages of a pass made of several, in the order a build goes through them; each stage
// counts its own units from 0.
enum class ProgressStage {
    Converting,  // note starts and ends of the charted parts
    Rendering,   // keysound and BGM files rendered and encoded
    Previewing,  // the preview mixed and written
    Mixing,      // keysound files read into a mix (check, preview)
};

// Where a long pass reports how far it is and learns whether to stop.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // Cheap; may be called for every unit of work (events, measures, files).
    virtual void advance(std::int64_t done, std::int64_t total) = 0;
    // Polled between units; a pass that sees true stops and returns ErrorCode::Cancelled.
    virtual bool stopRequested() const { return false; }
    // Called as a pass of several stages enters the next; advance() then counts that stage.
    virtual void beginStage(ProgressStage) { }
};

class NullProgress final : public ProgressSink {
public:
    void advance(std::int64_t, std::int64_t) override { }
};

// Passes on the stop of another sink and none of the progress: for a step whose units are not
// the ones its caller counts.
class StopOnlyProgress final : public ProgressSink {
public:
    explicit StopOnlyProgress(const ProgressSink& stop) : m_stop(stop) { }
    void advance(std::int64_t, std::int64_t) override { }
    bool stopRequested() const override { return m_stop.stopRequested(); }

private:
    const ProgressSink& m_stop;
};

// Throttles calls to a sink: passes that step through millions of small units report every
// `interval` units, and always at the end.
class ProgressThrottle {
public:
    ProgressThrottle(ProgressSink& sink, std::int64_t total, std::int64_t interval = 1 << 16)
        : m_sink(sink), m_total(total), m_interval(interval), m_next(0)
    {
    }

    // Returns false when the sink asks the pass to stop. `done` counts from the base.
    bool step(std::int64_t done)
    {
        done += m_base;
        if (done < m_next) {
            return true;
        }
        m_next = done + m_interval;
        m_sink.advance(done, m_total);
        return !m_sink.stopRequested();
    }

    // For a pass made of parts: what step() is given from now on counts from `base`.
    void setBase(std::int64_t base) { m_base = base; }

    void finish() { m_sink.advance(m_total, m_total); }

private:
    ProgressSink& m_sink;
    std::int64_t m_total;
    std::int64_t m_interval;
    std::int64_t m_next;
    std::int64_t m_base = 0;
};

}  // namespace zentrowe
