#include "app/controls/text_table_model.h"

#include <algorithm>

namespace zentrowe::app {

TextTableModel::TextTableModel(QObject* parent) : QAbstractTableModel(parent)
{
}

int TextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.rowCount();
}

int TextTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        const auto text = m_table.text(index.row(), index.column());
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (role == Qt::BackgroundRole && m_textBackground.isValid()) {
        return m_textBackground;
    }
    if (role == Qt::CheckStateRole && m_checkable && index.column() == 0) {
        return (m_table.state(index.row()) & kCheckedState) != 0 ? Qt::Checked : Qt::Unchecked;
    }
    return {};
}

Qt::ItemFlags TextTableModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return m_checkable && index.isValid() && index.column() == 0 ? base | Qt::ItemIsUserCheckable : base;
}

bool TextTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !m_checkable || !index.isValid() || index.column() != 0) {
        return false;
    }
    const std::uint32_t state = m_table.state(index.row());
    const std::uint32_t ticked = value.toInt() == Qt::Checked ? state | kCheckedState : state & ~kCheckedState;
    if (ticked != state) {
        m_table.setState(index.row(), ticked);
        emit dataChanged(index, index, {Qt::CheckStateRole});
    }
    return true;
}

void TextTableModel::setCheckable(bool checkable)
{
    if (checkable == m_checkable) {
        return;
    }
    beginResetModel();
    m_checkable = checkable;
    endResetModel();
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size()) {
        return m_headers[section];
    }
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

int TextTableModel::insertColumn(int column, const QString& header)
{
    column = std::clamp(column, 0, static_cast<int>(m_headers.size()));
    beginResetModel();
    m_headers.insert(column, header);
    // Cells are stored per row in column order, so a new column means a new table; columns
    // are made before any row in practice.
    TextTable widened(static_cast<int>(m_headers.size()));
    for (int row = 0; row < m_table.rowCount(); ++row) {
        widened.insertRow(row, {});
        for (int c = 0, source = 0; c < widened.columnCount(); ++c) {
            if (c == column) {
                continue;
            }
            widened.setText(row, c, m_table.text(row, source++));
        }
        widened.setState(row, m_table.state(row));
    }
    m_table = std::move(widened);
    endResetModel();
    return column;
}

void TextTableModel::setHeaderText(int column, const QString& header)
{
    if (column >= 0 && column < m_headers.size()) {
        m_headers[column] = header;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
}

int TextTableModel::insertRow(int row, std::string_view text)
{
    row = std::clamp(row, 0, m_table.rowCount());
    beginInsertRows({}, row, row);
    m_table.insertRow(row, text);
    endInsertRows();
    return row;
}

bool TextTableModel::removeRow(int row)
{
    if (row < 0 || row >= m_table.rowCount()) {
        return false;
    }
    beginRemoveRows({}, row, row);
    m_table.removeRow(row);
    endRemoveRows();
    return true;
}

void TextTableModel::setText(int row, int column, std::string_view text)
{
    if (row < 0 || row >= m_table.rowCount() || column < 0 || column >= m_table.columnCount()) {
        return;
    }
    m_table.setText(row, column, text);
    emit dataChanged(index(row, column), index(row, column), {Qt::DisplayRole});
}

void TextTableModel::setStateOfAll(std::uint32_t state, std::uint32_t mask)
{
    for (int row = 0; row < m_table.rowCount(); ++row) {
        m_table.setState(row, (m_table.state(row) & ~mask) | (state & mask));
    }
}

void TextTableModel::clear()
{
    beginResetModel();
    m_table = TextTable(std::max(1, static_cast<int>(m_headers.size())));
    endResetModel();
}

void TextTableModel::replaceRows(TextTable&& rows)
{
    beginResetModel();
    m_table = std::move(rows);
    endResetModel();
}

void TextTableModel::setTextBackground(const QColor& colour)
{
    m_textBackground = colour;
    if (m_table.rowCount() > 0) {
        emit dataChanged(index(0, 0), index(m_table.rowCount() - 1, columnCount() - 1), {Qt::BackgroundRole});
    }
}

}  // namespace zentrowe::app
