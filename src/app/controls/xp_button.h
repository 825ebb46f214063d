#pragma once

#include <QWidget>

namespace zentrowe::app {

// A flat push button: a light face with rounded corners, a dark blue border and a centred black
// caption; an orange frame while the pointer is over it and a darker face while it is held down.
// While Enable is false the caption is hidden and clicks do nothing; hover and press still show.
class XpButton final : public QWidget {
    Q_OBJECT

public:
    enum class Look { Normal, Hovering, Pressed };

    explicit XpButton(const QString& caption, QWidget* parent = nullptr);

    QString Caption() const { return m_caption; }
    void Caption(const QString& NewCaption);
    bool Enable() const { return m_enabled; }
    void Enable(bool NEnable);

    QSize sizeHint() const override;

    // Paints the button's face, border, frame and caption onto `painter` for a button of `size`.
    static void paintButton(QPainter& painter, QSize size, const QString& caption, bool enabled, Look look);
    // The rounded outline the button is clipped to.
    static QRegion outline(QSize size);

signals:
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_caption;
    bool m_enabled = true;
    Look m_look = Look::Normal;
};

}  // namespace zentrowe::app
