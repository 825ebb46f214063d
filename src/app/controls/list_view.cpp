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
    connect(m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex&, const QList<int>& roles) {
                if (roles.contains(Qt::CheckStateRole)) {
                    emit itemChecked(first.row(), isItemChecked(first.row()));
                }
            });

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

void ListView::intercept(QObject* target, QEvent* event, bool& handled)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_focusBeforeInput = focusRow();
        break;
    case QEvent::KeyPress: {
        m_focusBeforeInput = focusRow();
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (target == m_view && (key == Qt::Key_Return || key == Qt::Key_Enter) && firstSelectedRow() >= 0) {
            emit itemActivated(selectionMark());
        }
        // Space ticks the focused row from whichever of its cells has the focus.
        if (target == m_view && key == Qt::Key_Space && hasCheckBoxes() && focusRow() >= 0) {
            setItemChecked(focusRow(), !isItemChecked(focusRow()));
            handled = true;
        }
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (target == m_view->viewport()) {
            emit itemDoubleClicked(selectionMark());
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
        setSelectionMark(index.row());
        emit itemClicked(index.row());
    }
}

bool ListView::addColumn(int index, const QString& text, int width, Qt::Alignment alignment)
{
    if (index < 0) {
        return false;
    }
    const int column = m_model->insertColumn(index, text);
    m_view->setColumnWidth(column, width);
    Q_UNUSED(alignment);  // the header stays left-aligned, as the first column always is
    return true;
}

void ListView::stretchLastColumn()
{
    m_view->horizontalHeader()->setStretchLastSection(true);
}

void ListView::setExtendedStyle(std::uint32_t)
{
    m_view->setShowGrid(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void ListView::refresh()
{
    m_view->viewport()->repaint();
}

void ListView::insertItem(int row, std::string_view text, std::uint32_t state)
{
    const int inserted = m_model->insertRow(row, text);
    m_model->setState(inserted, state & kStateImageMask);
}

void ListView::setItemText(int row, int column, std::string_view text)
{
    m_model->setText(row, column, text);
}

void ListView::setItem(int row, std::string_view text)
{
    m_model->setText(row, 0, text);
}

std::string ListView::itemText(int row) const
{
    return std::string(m_model->text(row, 0));
}

std::string ListView::itemText(int row, int column) const
{
    return std::string(m_model->text(row, column));
}

void ListView::setItemState(std::uint32_t state, std::uint32_t mask)
{
    m_model->setStateOfAll(state, mask | kStateImageMask);
}

std::uint32_t ListView::itemState(int row) const
{
    return m_model->state(row) & kStateImageMask;
}

bool ListView::removeItem(int row)
{
    return m_model->removeRow(row);
}

void ListView::removeAllItems()
{
    m_model->clear();
    m_selectionMark = -1;
    m_focusBeforeInput = -1;
}

int ListView::itemCount() const
{
    return m_model->rowCount();
}

int ListView::firstSelectedRow() const
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

void ListView::setCheckBoxes(bool on)
{
    m_model->setCheckable(on);
}

bool ListView::hasCheckBoxes() const
{
    return m_model->isCheckable();
}

bool ListView::isItemChecked(int row) const
{
    return (m_model->state(row) & TextTableModel::kCheckedState) != 0;
}

void ListView::setItemChecked(int row, bool checked)
{
    m_model->setData(m_model->index(row, 0), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

void ListView::setBackgroundColor(const QColor& color)
{
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Base, color);
    m_view->setPalette(palette);
}

void ListView::setTextBackgroundColor(const QColor& color)
{
    m_model->setTextBackground(color);
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
