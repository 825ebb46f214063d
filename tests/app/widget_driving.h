#pragma once

// Driving the windows from tests and the screenshot tool: mouse clicks sent straight to a
// widget, and waiting for a pass the main window runs on a worker thread.

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include "app/ui/main_window.h"

namespace zentrowe::app::widget_driving {

// A press (followed by its release) or a double-click of the left button at `at`.
inline void mouse(QWidget* widget, QPoint at, QEvent::Type type = QEvent::MouseButtonPress)
{
    QMouseEvent press(type, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    if (type == QEvent::MouseButtonPress) {
        QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(widget, &release);
    }
}

// Runs the event loop until the window reports the end of its pass; false if it did not come
// within the time.
inline bool waitForPass(MainWindow& window, int timeoutMilliseconds = 60000)
{
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&window, &MainWindow::passFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMilliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return finished;
}

}  // namespace zentrowe::app::widget_driving
