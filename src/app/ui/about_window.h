#pragma once

#include <QWidget>

namespace zentrowe::app {

class XpButton;

// A small window with the program's picture, a contact line and an OK button that hides it.
class AboutWindow final : public QWidget {
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    XpButton* okButton() const { return m_ok; }

private:
    XpButton* m_ok;
};

}  // namespace zentrowe::app
