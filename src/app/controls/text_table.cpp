#include "app/controls/text_table.h"

#include <algorithm>
#include <cassert>

namespace zentrowe::app {

TextTable::TextTable(int columnCount) : m_columnCount(std::max(1, columnCount))
{
}

TextTable::Cell TextTable::store(std::string_view text)
{
    if (text.empty()) {
        return {};
    }
    // The offsets are 32-bit: a listing never comes near 4 GiB of text.
    assert(m_characters.size() + text.size() < UINT32_MAX);
    const Cell cell{static_cast<std::uint32_t>(m_characters.size()), static_cast<std::uint32_t>(text.size())};
    m_characters.append(text);
    return cell;
}

int TextTable::insertRow(int row, std::string_view text)
{
    row = std::clamp(row, 0, rowCount());
    const RowIndex index{m_cells.size(), 0};
    m_cells.push_back(store(text));
    m_cells.resize(m_cells.size() + static_cast<std::size_t>(m_columnCount - 1));
    m_rows.insert(m_rows.begin() + row, index);
    return row;
}

void TextTable::appendRow(std::initializer_list<std::string_view> texts)
{
    m_rows.push_back({m_cells.size(), 0});
    int column = 0;
    for (const auto text : texts) {
        if (column++ == m_columnCount) {
            break;
        }
        m_cells.push_back(store(text));
    }
    for (; column < m_columnCount; ++column) {
        m_cells.emplace_back();
    }
}

bool TextTable::removeRow(int row)
{
    if (row < 0 || row >= rowCount()) {
        return false;
    }
    m_rows.erase(m_rows.begin() + row);
    return true;
}

void TextTable::clear()
{
    m_characters.clear();
    m_cells.clear();
    m_rows.clear();
}

bool TextTable::exists(int row, int column) const
{
    return row >= 0 && row < rowCount() && column >= 0 && column < m_columnCount;
}

void TextTable::setText(int row, int column, std::string_view text)
{
    if (exists(row, column)) {
        const Cell cell = store(text);
        m_cells[m_rows[static_cast<std::size_t>(row)].firstCell + static_cast<std::size_t>(column)] = cell;
    }
}

std::string_view TextTable::text(int row, int column) const
{
    if (!exists(row, column)) {
        return {};
    }
    const Cell cell = m_cells[m_rows[static_cast<std::size_t>(row)].firstCell + static_cast<std::size_t>(column)];
    return std::string_view(m_characters).substr(cell.offset, cell.length);
}

std::uint32_t TextTable::state(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[static_cast<std::size_t>(row)].state : 0;
}

void TextTable::setState(int row, std::uint32_t state)
{
    if (row >= 0 && row < rowCount()) {
        m_rows[static_cast<std::size_t>(row)].state = state;
    }
}

}  // namespace zentrowe::app
