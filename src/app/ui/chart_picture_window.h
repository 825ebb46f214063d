#pragma once

#include <QWidget>
#include <filesystem>
#include <vector>

class QTabWidget;

namespace zentrowe::app {

// Pictures of charts, one tab each (a built set's difficulties, or a chart the user opened), as
// `zentrowe-cli picture` draws them. Esc closes it.
class ChartPictureWindow final : public QWidget {
public:
    explicit ChartPictureWindow(QWidget* parent = nullptr);

    // Replaces the tabs with the charts' pictures, each tab named by the chart's difficulty and
    // level ("HYPER 6", else its file name), the file in its tooltip; a chart that cannot be read
    // or drawn gets a tab saying why.
    void showCharts(const std::vector<std::filesystem::path>& charts);
    // After the charts, a tab 发布检查 listing the release checklist's findings, a line each;
    // none for an empty list.
    void addFindings(const QStringList& findings);

    QTabWidget* tabs() const { return m_tabs; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTabWidget* m_tabs;
};

}  // namespace zentrowe::app
