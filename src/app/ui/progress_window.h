#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace zentrowe::app {

class ProgressBar;

// The cutter's progress window: a bar, a line saying how many keysounds are cut, and 取消.
// 取消, Esc and the close box all ask to stop the pass; the window itself stops nothing.
class ProgressWindow final : public QWidget {
    Q_OBJECT

public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    ProgressBar* bar() const { return m_bar; }
    QLabel* label() const { return m_label; }
    QPushButton* cancelButton() const { return m_cancel; }
    // "K音总数 <count>个  以切K音 <done>个"
    void showCount(int done, int count);

signals:
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    ProgressBar* m_bar;
    QLabel* m_label;
    QPushButton* m_cancel;
};

}  // namespace zentrowe::app
