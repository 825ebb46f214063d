#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>

#include "app/controls/text_table.h"

namespace zentrowe::app {

// A table model over a TextTable: the view asks for the texts of the rows it paints and nothing
// is copied per row.
class TextTableModel final : public QAbstractTableModel {
public:
    explicit TextTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Only the tick of the first column can be set, and only while rows are checkable.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The row state bit of a ticked row: the second state image, as list controls number a
    // checked box.
    static constexpr std::uint32_t kCheckedState = 0x2000;
    // Rows show a tick box in their first column, ticked as kCheckedState says.
    void setCheckable(bool checkable);
    bool isCheckable() const { return m_checkable; }

    // A column slot at `column` (clamped to the columns there are) with its header text.
    int insertColumn(int column, const QString& header);
    void setHeaderText(int column, const QString& header);

    int insertRow(int row, std::string_view text);
    bool removeRow(int row);
    void setText(int row, int column, std::string_view text);
    std::string_view text(int row, int column) const { return m_table.text(row, column); }
    std::uint32_t state(int row) const { return m_table.state(row); }
    void setState(int row, std::uint32_t state) { m_table.setState(row, state); }
    void setStateOfAll(std::uint32_t state, std::uint32_t mask);
    void clear();
    // Replaces every row at once; the table needs as many columns as the model has.
    void replaceRows(TextTable&& rows);

    void setTextBackground(const QColor& colour);

private:
    QStringList m_headers;
    TextTable m_table;
    QColor m_textBackground;
    bool m_checkable = false;
};

}  // namespace zentrowe::app
