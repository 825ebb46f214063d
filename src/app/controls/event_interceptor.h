#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QEvent;

namespace zentrowe::app {

// Lets an object see the events of another object before that object handles them. The handler
// may mark an event handled, which keeps it from the target; otherwise the target processes it
// as usual. Interception ends when the interceptor is destroyed (or the target goes away first).
class EventInterceptor final : public QObject {
public:
    // `handled` starts false; setting it stops the event here.
    using Handler = std::function<void(QObject* target, QEvent* event, bool& handled)>;

    explicit EventInterceptor(Handler handler, QObject* parent = nullptr);
    ~EventInterceptor() override;

    // Starts intercepting `target`'s events. Watching the same target twice has no further effect.
    void watch(QObject* target);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler m_handler;
    QList<QPointer<QObject>> m_targets;
};

}  // namespace zentrowe::app
