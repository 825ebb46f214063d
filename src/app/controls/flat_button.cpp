#include "app/controls/flat_button.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace zentrowe::app {

namespace {

const QColor kBorder(0, 0, 136);
const QColor kCaption(0, 0, 0);
const QColor kHoverFrame(255, 176, 0);
const QColor kPressedFace(223, 223, 223);
const QColor kNormalFace(246, 246, 246);
constexpr int kCornerEllipse = 5;  // width and height of the ellipse that rounds each corner

}  // namespace

FlatButton::FlatButton(const QString& caption, QWidget* parent) : QAbstractButton(parent)
{
    setText(caption);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize FlatButton::sizeHint() const
{
    const QSize caption = fontMetrics().size(Qt::TextSingleLine, text());
    return {std::max(57, caption.width() + 16), std::max(25, caption.height() + 8)};
}

QRegion FlatButton::outline(QSize size)
{
    // The clip covers (0, 0) up to but not including (width, height), like the border's region.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), kCornerEllipse / 2.0, kCornerEllipse / 2.0);
    return QRegion(path.toFillPolygon().toPolygon());
}

void FlatButton::paintButton(QPainter& painter, QSize size, const QString& caption, bool enabled, Look look)
{
    const int width = size.width();
    const int height = size.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(QPoint(0, 0), size), look == Look::Pressed ? kPressedFace : kNormalFace);

    // The border runs from (0, 0) to (width - 1, height - 1) exclusive of its far edges, so its
    // right and bottom lines sit on the second-last column and row.
    painter.setPen(QPen(kBorder, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRect(0, 0, width - 2, height - 2), kCornerEllipse / 2.0, kCornerEllipse / 2.0);

    if (enabled && !caption.isEmpty()) {
        const QFontMetrics metrics = painter.fontMetrics();
        const int textWidth = metrics.horizontalAdvance(caption);
        const int textHeight = metrics.height();
        const int x = static_cast<int>(std::nearbyint((width - textWidth) / 2.0));
        const int y = static_cast<int>(std::nearbyint((height - textHeight) / 2.0));
        painter.setPen(kCaption);
        painter.drawText(x, y + metrics.ascent(), caption);
    }
    if (look == Look::Hovering) {
        // Square corners from (1, 1) to (width - 2, height - 2), both ends included.
        painter.setPen(QPen(kHoverFrame, 0));
        painter.drawRect(QRect(1, 1, width - 3, height - 3));
    }
    painter.restore();
}

void FlatButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const Look look = isDown() ? Look::Pressed : m_hovering ? Look::Hovering : Look::Normal;
    paintButton(painter, size(), text(), isEnabled(), look);
}

void FlatButton::resizeEvent(QResizeEvent*)
{
    setMask(outline(size()));
}

void FlatButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void FlatButton::enterEvent(QEnterEvent* event)
{
    m_hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void FlatButton::leaveEvent(QEvent* event)
{
    m_hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace zentrowe::app
