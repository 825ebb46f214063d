#pragma once

#include <QWidget>
#include <cstdint>

namespace zentrowe::app {

// A horizontal bar filled from the left in proportion to Pos between Min and Max, each pixel row
// shaded from dark blue at the edges to grey-blue in the middle. It shows no text.
class ProgressBar final : public QWidget {
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    std::int32_t Max() const { return m_maximum; }
    std::int32_t Min() const { return m_minimum; }
    std::int32_t Pos() const { return m_position; }
    // Max and Min take effect at the next paint; Pos repaints at once.
    void Max(std::int32_t vMax) { m_maximum = vMax; }
    void Min(std::int32_t vMin) { m_minimum = vMin; }
    void Pos(std::int32_t vPos);

    QSize sizeHint() const override { return {305, 20}; }

    // Paints a bar of `size` with the given range onto `painter`, background included.
    static void paintBar(QPainter& painter, QSize size, const QColor& background, std::int32_t minimum,
                         std::int32_t maximum, std::int32_t position);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::int32_t m_maximum = 1000;
    std::int32_t m_minimum = 1;
    std::int32_t m_position = 20;
};

}  // namespace zentrowe::app
