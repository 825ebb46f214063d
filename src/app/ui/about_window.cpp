#include "app/ui/about_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>

#include "app/controls/flat_button.h"
#include "app/ui/text.h"

namespace zentrowe::app {

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, Qt::Window), m_ok(new FlatButton(tr("确定"), this))
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(tr("关于"));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(QPixmap(QStringLiteral(":/zentrowe/zentrowe.svg"))
                           .scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture->setGeometry(16, 16, 64, 64);

    auto* contact = new QLabel(programCaption() + tr("\nMIDI 转 BMS 工具\n问题与建议：zentrowe@example.org"), this);
    contact->setObjectName(QStringLiteral("Label1"));
    contact->setGeometry(96, 16, 230, 64);

    m_ok->setObjectName(QStringLiteral("Command1"));
    m_ok->setGeometry(250, 92, 72, 25);
    connect(m_ok, &FlatButton::clicked, this, &QWidget::hide);
    setFixedSize(340, 130);
}

void AboutWindow::showEvent(QShowEvent* event)
{
    m_ok->setFocus();
    QWidget::showEvent(event);
}

void AboutWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zentrowe::app
