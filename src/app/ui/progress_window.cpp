#include "app/ui/progress_window.h"

#include <QLabel>

#include "app/controls/progress_bar.h"
#include "app/ui/text.h"

namespace zentrowe::app {

ProgressWindow::ProgressWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_bar(new PorogrsessBar(this)), m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("Progressfrm"));
    setWindowTitle(tr("进度"));
    m_bar->setObjectName(QStringLiteral("PorogrsessBar1"));
    m_label->setObjectName(QStringLiteral("Label1"));
    m_label->setGeometry(twipsToPixels(120), twipsToPixels(120), twipsToPixels(4575), twipsToPixels(300));
    m_bar->setGeometry(twipsToPixels(120), twipsToPixels(480), twipsToPixels(4575), twipsToPixels(300));
    setFixedSize(twipsToPixels(4815), twipsToPixels(900));
}

void ProgressWindow::showCount(int done, int count)
{
    m_label->setText(tr("K音总数 %1个  以切K音 %2个").arg(count).arg(done));
}

}  // namespace zentrowe::app
