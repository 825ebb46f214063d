#pragma once

// Driving the windows from tests and the screenshot tool: mouse clicks sent straight to a
// widget, and waiting for a pass the main window runs on a worker thread.

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include "app/controls/list_view.h"
#include "app/ui/main_window.h"
#include "app/ui/settings_dialog.h"

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

// Opens `song`, clicks its first track and asks for a one-step build: the build dialog, or none if
// the song did not open.
inline SettingsDialog* openBuildOfFirstTrack(MainWindow& window, const QString& song)
{
    window.openMidiPath(song);
    if (!waitForPass(window)) {
        return nullptr;
    }
    QApplication::processEvents();
    QTableView* rows = window.trackList()->view();
    mouse(rows->viewport(), rows->visualRect(rows->model()->index(0, 1)).center());
    window.oneStepBuildAction()->trigger();
    return window.settingsDialog();
}

}  // namespace zentrowe::app::widget_driving
