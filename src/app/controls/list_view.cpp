#include "app/controls/list_view.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableView>
#include <QVBoxLayout>

#include "app/controls/event_interceptor.h"
#include "app/controls/text_table_model.h"

namespace zentrowe::app {

ListView::ListView(QWidget* parent)
    : QWidget(parent),
      m_model(new TextTableModel(this)),
      m_view(new QTableView(this)),
      m_interceptor(new EventInterceptor(
          [this](QObject* target, QEvent* event, bool& handled) { intercept(target, event, handled); }, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    m_view->setModel(m_model);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setTextElideMode(Qt::ElideNone);
    m_view->verticalHeader()->hide();
    // Fixed row heights let the view place a million rows without measuring them.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_view->horizontalHeader()->setHighlightSections(false);
    m_view->horizontalHeader()->setSectionsClickable(true);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ListView::onSelectionChanged);
    connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this, &ListView::columnClicked);

    // The list hears of presses before the view acts on them, and of double clicks.
    m_interceptor->watch(m_view->viewport());
    m_interceptor->watch(m_view);
}

ListView::~ListView()
{
    // Interception ends before the view goes, so no event of its teardown reaches this object
    // half-destroyed.
    delete m_interceptor;
}

int ListView::focusRow() const
{
    const QModelIndex current = m_view->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ListView::intercept(QObject* target, QEvent* event, bool&)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_focusBeforeInput = focusRow();
        break;
    case QEvent::KeyPress: {
        m_focusBeforeInput = focusRow();
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (target == m_view && (key == Qt::Key_Return || key == Qt::Key_Enter) && GetNextItem() >= 0) {
            emit itemActivated(GetSelectionMark());
        }
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (target == m_view->viewport()) {
            emit itemDoubleClicked(GetSelectionMark());
        }
        break;
    default:
        break;
    }
}

void ListView::onSelectionChanged(const QItemSelection& selected, const QItemSelection&)
{
    const int focusBefore = m_focusBeforeInput;
    m_focusBeforeInput = focusRow();
    for (const QModelIndex& index : selected.indexes()) {
        if (index.column() != 0) {
            continue;
        }
        // Only a row that had no state at all counts as clicked.
        if (index.row() == focusBefore) {
            continue;
        }
        SetSelectionMark(index.row());
        emit itemClicked(index.row());
    }
}

bool ListView::ColumnAdd(int lIndex, const QString& sText, int lWidth, Qt::Alignment eAlign)
{
    if (lIndex < 0) {
        return false;
    }
    const int column = m_model->insertColumn(lIndex, sText);
    m_view->setColumnWidth(column, lWidth);
    Q_UNUSED(eAlign);  // the header stays left-aligned, as the first column always is
    return true;
}

void ListView::stretchLastColumn()
{
    m_view->horizontalHeader()->setStretchLastSection(true);
}

void ListView::SetExtendedListViewStyleEx(std::uint32_t)
{
    m_view->setShowGrid(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void ListView::ListRefresh()
{
    m_view->viewport()->repaint();
}

void ListView::InsertItem(int I, std::string_view ItemText, std::uint32_t State)
{
    const int row = m_model->insertRow(I, ItemText);
    m_model->setState(row, State & kStateImageMask);
}

void ListView::SetItemText(int I, int iSubItem, std::string_view pszText)
{
    m_model->setText(I, iSubItem, pszText);
}

void ListView::SetItem(int I, std::string_view strItemText)
{
    m_model->setText(I, 0, strItemText);
}

std::string ListView::GetItem(int I) const
{
    return std::string(m_model->text(I, 0));
}

std::string ListView::GetItemText(int I, int iSubItem) const
{
    return std::string(m_model->text(I, iSubItem));
}

void ListView::SetItemState(std::uint32_t sta, std::uint32_t staMask)
{
    m_model->setStateOfAll(sta, staMask | kStateImageMask);
}

std::uint32_t ListView::GetItemState(int I) const
{
    return m_model->state(I) & kStateImageMask;
}

bool ListView::DeleteItem(int iItem)
{
    return m_model->removeRow(iItem);
}

void ListView::DeleteAllItems()
{
    m_model->clear();
    m_selectionMark = -1;
    m_focusBeforeInput = -1;
}

int ListView::GetItemCount() const
{
    return m_model->rowCount();
}

int ListView::GetNextItem() const
{
    const auto rows = m_view->selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& index : rows) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

void ListView::ListView_SetBkColor(const QColor& clrBk)
{
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Base, clrBk);
    m_view->setPalette(palette);
}

void ListView::SetTextBkColor(const QColor& clrText)
{
    m_model->setTextBackground(clrText);
}

void ListView::replaceRows(TextTable&& rows)
{
    m_model->replaceRows(std::move(rows));
    m_selectionMark = -1;
    m_focusBeforeInput = -1;
}

int ListView::columnCount() const
{
    return m_model->columnCount();
}

int ListView::columnWidth(int column) const
{
    return m_view->columnWidth(column);
}

}  // namespace zentrowe::app
