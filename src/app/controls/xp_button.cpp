#include "app/controls/xp_button.h"

#include <QMouseEvent>
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

XpButton::XpButton(const QString& caption, QWidget* parent) : QWidget(parent), m_caption(caption)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void XpButton::Caption(const QString& NewCaption)
{
    m_caption = NewCaption;
    update();
}

void XpButton::Enable(bool NEnable)
{
    m_enabled = NEnable;
    update();
}

QSize XpButton::sizeHint() const
{
    const QSize text = fontMetrics().size(Qt::TextSingleLine, m_caption);
    return {std::max(57, text.width() + 16), std::max(25, text.height() + 8)};
}

QRegion XpButton::outline(QSize size)
{
    // The clip covers (0, 0) up to but not including (width, height), like the border's region.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), kCornerEllipse / 2.0, kCornerEllipse / 2.0);
    return QRegion(path.toFillPolygon().toPolygon());
}

void XpButton::paintButton(QPainter& painter, QSize size, const QString& caption, bool enabled, Look look)
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

void XpButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintButton(painter, size(), m_caption, m_enabled, m_look);
}

void XpButton::resizeEvent(QResizeEvent*)
{
    setMask(outline(size()));
}

void XpButton::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const bool inside = at.x() >= 0 && at.y() >= 0 && at.x() <= width() && at.y() <= height();
    if (!inside) {
        m_look = Look::Normal;
    } else if (m_look == Look::Normal) {
        m_look = Look::Hovering;
    }
    update();
}

void XpButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_look = Look::Pressed;
        update();
    }
}

void XpButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const bool wasPressed = m_look == Look::Pressed;
    m_look = Look::Normal;
    update();
    if (wasPressed && m_enabled && rect().contains(event->position().toPoint())) {
        emit Click();
    }
}

void XpButton::leaveEvent(QEvent*)
{
    if (m_look == Look::Hovering) {
        m_look = Look::Normal;
        update();
    }
}

}  // namespace zentrowe::app
