#include "app/ui/findings_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace zentrowe::app {

namespace {

// Wide enough for a sentence with a file name on one line at the usual font.
constexpr QSize kDialogSize(720, 360);

}  // namespace

FindingsDialog::FindingsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FindingsDialog"));
    setWindowTitle(tr("一键生成的全部提示"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("FindingList"));
    m_list->setWordWrap(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(kDialogSize);
}

void FindingsDialog::setRows(const std::vector<FindingRow>& rows)
{
    m_list->clear();
    for (const auto& row : rows) {
        const QString text = row.times > 1 ? tr("%1（共 %2 次）").arg(row.text).arg(row.times) : row.text;
        auto* item = new QListWidgetItem(text, m_list);
        if (row.code) {
            item->setData(kFindingCodeRole, static_cast<int>(*row.code));
        }
        if (row.check) {
            item->setData(kAuditCheckRole, static_cast<int>(*row.check));
        }
    }
}

FindingsList::FindingsList(QLabel* resultLine) : QObject(resultLine), m_resultLine(resultLine)
{
    m_resultLine->installEventFilter(this);
}

void FindingsList::setRows(std::vector<FindingRow> rows)
{
    m_rows = std::move(rows);
    m_resultLine->setCursor(m_rows.empty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    if (m_dialog) {
        m_dialog->setRows(m_rows);
    }
}

void FindingsList::open()
{
    if (!m_dialog) {
        m_dialog = new FindingsDialog(m_resultLine->window());
    }
    m_dialog->setRows(m_rows);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

bool FindingsList::eventFilter(QObject* watched, QEvent* event)
{
    // A release that ends a selection leaves the text to be copied.
    if (watched == m_resultLine && event->type() == QEvent::MouseButtonRelease && hasRows() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !m_resultLine->hasSelectedText()) {
        open();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace zentrowe::app
