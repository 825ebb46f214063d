#include "app/ui/progress_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "app/controls/progress_bar.h"
#include "app/ui/text.h"

namespace zentrowe::app {

ProgressWindow::ProgressWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog),
      m_bar(new ProgressBar(this)),
      m_label(new QLabel(this)),
      m_cancel(new QPushButton(tr("取消"), this))
{
    setObjectName(QStringLiteral("Progressfrm"));
    setWindowTitle(tr("进度"));
    m_bar->setObjectName(QStringLiteral("PorogrsessBar1"));
    m_label->setObjectName(QStringLiteral("Label1"));
    m_cancel->setObjectName(QStringLiteral("Cancel"));
    m_label->setGeometry(twipsToPixels(120), twipsToPixels(120), twipsToPixels(4575), twipsToPixels(300));
    m_bar->setGeometry(twipsToPixels(120), twipsToPixels(480), twipsToPixels(4575), twipsToPixels(300));
    m_cancel->setGeometry(twipsToPixels(3840), twipsToPixels(900), twipsToPixels(855), twipsToPixels(375));
    setFixedSize(twipsToPixels(4815), twipsToPixels(1395));
    connect(m_cancel, &QPushButton::clicked, this, &ProgressWindow::cancelRequested);
}

void ProgressWindow::showCount(int done, int count)
{
    // "以切" (for 已切) is the window's wording since its first version; users know it this way.
    m_label->setText(tr("K音总数 %1个  以切K音 %2个").arg(count).arg(done));
}

void ProgressWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit cancelRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    emit cancelRequested();
    QWidget::closeEvent(event);
}

}  // namespace zentrowe::app
