#pragma once

#include <QDialog>
#include <vector>

#include "app/ui/finding_text.h"

class QLabel;
class QListWidget;

namespace zentrowe::app {

// The whole list of a build's findings, one row each (a row said several times once, with its
// count); each row keeps its code under kFindingCodeRole or its check under kAuditCheckRole.
class FindingsDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFindingCodeRole = Qt::UserRole;
    static constexpr int kAuditCheckRole = Qt::UserRole + 1;

    explicit FindingsDialog(QWidget* parent);
    void setRows(const std::vector<FindingRow>& rows);
    QListWidget* list() const { return m_list; }

private:
    QListWidget* m_list = nullptr;
};

// The list of the last build's findings, opened by a click on the result line it watches (a
// click that selects no text); the line's tooltip then says so.
class FindingsList final : public QObject {
    Q_OBJECT
public:
    explicit FindingsList(QLabel* resultLine);
    // Keeps `rows` for the list (none: a click opens nothing).
    void setRows(std::vector<FindingRow> rows);
    bool hasRows() const { return !m_rows.empty(); }
    // Shows the list; made on the first call.
    void open();
    // The list, null before it was first opened.
    FindingsDialog* dialog() const { return m_dialog; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_resultLine;
    std::vector<FindingRow> m_rows;
    FindingsDialog* m_dialog = nullptr;
};

}  // namespace zentrowe::app
