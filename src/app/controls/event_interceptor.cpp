#include "app/controls/event_interceptor.h"

#include <QEvent>

namespace zentrowe::app {

EventInterceptor::EventInterceptor(Handler handler, QObject* parent) : QObject(parent), m_handler(std::move(handler))
{
}

EventInterceptor::~EventInterceptor()
{
    for (const auto& target : m_targets) {
        if (target) {
            target->removeEventFilter(this);
        }
    }
}

void EventInterceptor::watch(QObject* target)
{
    if (target == nullptr || m_targets.contains(target)) {
        return;
    }
    m_targets.append(target);
    target->installEventFilter(this);
}

bool EventInterceptor::eventFilter(QObject* watched, QEvent* event)
{
    bool handled = false;
    m_handler(watched, event, handled);
    return handled;
}

}  // namespace zentrowe::app
