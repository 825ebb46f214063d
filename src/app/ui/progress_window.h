#pragma once

#include <QWidget>

class QLabel;

namespace zentrowe::app {

class PorogrsessBar;

// The cutter's progress window: a bar and a line saying how many keysounds are cut.
class ProgressWindow final : public QWidget {
public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    PorogrsessBar* bar() const { return m_bar; }
    QLabel* label() const { return m_label; }
    // "K音总数 <count>个  以切K音 <done>个"
    void showCount(int done, int count);

private:
    PorogrsessBar* m_bar;
    QLabel* m_label;
};

}  // namespace zentrowe::app
