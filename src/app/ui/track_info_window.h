#pragma once

#include <QWidget>

namespace zentrowe::app {

class ListView;

// Every event of one track, a row each: delta time, event and description. Esc closes it.
class TrackInfoWindow final : public QWidget {
public:
    explicit TrackInfoWindow(QWidget* parent = nullptr);

    ListView* list() const { return m_list; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    ListView* m_list;
};

}  // namespace zentrowe::app
