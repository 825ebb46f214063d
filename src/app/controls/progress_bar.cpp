#include "app/controls/progress_bar.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace zentrowe::app {

namespace {

constexpr int kEdgeBlue = 160;     // blue of every row; red and green rise to it mid-bar
constexpr int kShadeDepth = 160;   // red and green at the middle row
constexpr double kPi = 3.1415926;  // the shading's own value of pi, kept for identical rows

// Rounding as the bar has always done it: to nearest, ties to even.
int roundEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

}  // namespace

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBar::setPosition(std::int32_t position)
{
    m_position = position;
    repaint();
}

void ProgressBar::paintBar(QPainter& painter, QSize size, const QColor& background, std::int32_t minimum,
                           std::int32_t maximum, std::int32_t position)
{
    const int width = size.width();
    const int height = size.height();
    painter.fillRect(QRect(QPoint(0, 0), size), background);
    const int last = height - 3;
    if (last < 0) {
        return;
    }
    // The bar is empty at the minimum and full at the maximum; a maximum equal to the minimum has no meaning and draws
    // nothing.
    if (maximum == minimum) {
        return;
    }
    const double share = (static_cast<double>(position) - minimum) / (static_cast<double>(maximum) - minimum);
    const int fill = roundEven(share * (width - 2));
    // Each row is a line from x = 1 to x = fill, both ends drawn, so a full bar leaves the last
    // column as border; an empty one (fill 0) touches columns 0 and 1.
    const int from = std::min(1, fill);
    const int to = std::max(1, fill);
    for (int i = 0; i <= last; ++i) {
        const double angle = static_cast<double>(i) / height * kPi;
        const int shade = roundEven(std::sin(angle) * kShadeDepth);
        painter.fillRect(QRect(from, i + 1, to - from + 1, 1), QColor(shade, shade, kEdgeBlue));
    }
}

void ProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBar(painter, size(), palette().color(backgroundRole()), m_minimum, m_maximum, m_position);
}

}  // namespace zentrowe::app
