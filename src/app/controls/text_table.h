#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace zentrowe::app {

// Rows of UTF-8 texts kept in one character buffer, so that a listing of a million events costs
// a few dozen bytes per row rather than a string object per cell. Texts that are replaced stay
// in the buffer until the table is cleared.
class TextTable {
public:
    explicit TextTable(int columnCount = 1);

    int columnCount() const { return m_columnCount; }
    int rowCount() const { return static_cast<int>(m_rows.size()); }

    // Inserts a row at `row` (clamped to 0..rowCount) whose first column is `text` and whose
    // other columns are empty. Returns the index it got.
    int insertRow(int row, std::string_view text);
    // Appends a row with all its columns at once; extra texts are ignored, missing ones empty.
    void appendRow(std::initializer_list<std::string_view> texts);
    bool removeRow(int row);
    void clear();

    // Nothing happens for a row or column that does not exist.
    void setText(int row, int column, std::string_view text);
    // The whole text; empty for a cell that does not exist.
    std::string_view text(int row, int column) const;

    std::uint32_t state(int row) const;
    void setState(int row, std::uint32_t state);

private:
    struct Cell {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };
    struct RowIndex {
        std::size_t firstCell = 0;
        std::uint32_t state = 0;
    };

    Cell store(std::string_view text);
    bool exists(int row, int column) const;

    int m_columnCount;
    std::string m_characters;
    std::vector<Cell> m_cells;     // columnCount cells per row, in the order rows were made
    std::vector<RowIndex> m_rows;  // display order; a row refers to its cells
};

}  // namespace zentrowe::app
