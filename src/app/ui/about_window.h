#pragma once

#include <QWidget>

namespace zentrowe::app {

class FlatButton;

// A small window with the program's picture, a contact line and an OK button that hides it.
// The button has the focus, so Enter and Space press it; Esc closes the window.
class AboutWindow final : public QWidget {
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    FlatButton* okButton() const { return m_ok; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    FlatButton* m_ok;
};

}  // namespace zentrowe::app
