#pragma once

#include <QAbstractButton>

namespace zentrowe::app {

// A flat push button: a light face with rounded corners, a dark blue border and a centred black
// caption; an orange frame while the pointer is over it and a darker face while it is held down.
// A disabled button hides its caption. Space (as for every button) and Enter click it when it
// has the focus.
class FlatButton final : public QAbstractButton {
    Q_OBJECT

public:
    enum class Look { Normal, Hovering, Pressed };

    explicit FlatButton(const QString& caption, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Paints the button's face, border, frame and caption onto `painter` for a button of `size`.
    static void paintButton(QPainter& painter, QSize size, const QString& caption, bool enabled, Look look);
    // The rounded outline the button is clipped to.
    static QRegion outline(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hovering = false;
};

}  // namespace zentrowe::app
