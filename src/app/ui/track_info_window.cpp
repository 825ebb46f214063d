#include "app/ui/track_info_window.h"

#include <QKeyEvent>
#include <QResizeEvent>

#include "app/controls/list_view.h"
#include "app/ui/text.h"

namespace zentrowe::app {

TrackInfoWindow::TrackInfoWindow(QWidget* parent) : QWidget(parent, Qt::Window), m_list(new ListView(this))
{
    setObjectName(QStringLiteral("TrackInfo"));
    setWindowTitle(tr("音轨信息"));
    m_list->setObjectName(QStringLiteral("ListView1"));
    // The rows keep the listing's long-standing spellings ("Cannel=", "Hig="): users search
    // for them and compare listings with older ones, so they are not to be corrected.
    // The rows are the listing's own text (zentrowe-cli events prints them); the headers are
    // the window's words.
    m_list->addColumn(0, tr("间隔（tick）"), 100);
    m_list->addColumn(1, tr("事件"), 200);
    m_list->addColumn(2, tr("内容"), 300);
    m_list->move(0, 0);
    resize(640, 480);
}

void TrackInfoWindow::resizeEvent(QResizeEvent* event)
{
    // The list keeps 100 twips of the width and 500 of the height for the window's frame.
    const QSize outer = event->size() + (frameGeometry().size() - geometry().size());
    const int width = pixelsToTwips(outer.width()) - 100;
    const int height = pixelsToTwips(outer.height()) - 500;
    QSize size = m_list->size();
    if (width > 0) {
        size.setWidth(twipsToPixels(width));
    }
    if (height > 0) {
        size.setHeight(twipsToPixels(height));
    }
    m_list->resize(size);
    QWidget::resizeEvent(event);
}

void TrackInfoWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zentrowe::app
