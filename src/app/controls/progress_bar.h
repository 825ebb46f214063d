#pragma once

#include <QWidget>
#include <cstdint>

namespace zentrowe::app {

// A horizontal bar filled from the left in proportion to the position between minimum and maximum, each pixel row
// shaded from dark blue at the edges to grey-blue in the middle. It shows no text.
class ProgressBar final : public QWidget {
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    std::int32_t maximum() const { return m_maximum; }
    std::int32_t minimum() const { return m_minimum; }
    std::int32_t position() const { return m_position; }
    // The range takes effect at the next paint; a new position repaints at once.
    void setMaximum(std::int32_t maximum) { m_maximum = maximum; }
    void setMinimum(std::int32_t minimum) { m_minimum = minimum; }
    void setPosition(std::int32_t position);

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
