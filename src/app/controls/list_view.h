#pragma once

#include <QWidget>
#include <cstdint>
#include <string_view>

#include "app/controls/text_table.h"

class QTableView;
class QItemSelection;

namespace zentrowe::app {

class EventInterceptor;
class TextTableModel;

// A report list with grid lines and whole-row selection. The windows talk to it through the
// small method interface below (rows and columns count from 0), and hear of the user's actions
// through three signals:
//  - itemClicked(row): a row went from neither selected nor focused to selected; the selection
//    mark moves to it first;
//  - itemDoubleClicked(mark): a double click, reporting the selection mark (not the row under
//    the pointer), -1 when no row was ever selected;
//  - columnClicked(column): a header was clicked;
//  - itemActivated(mark): Enter or Return on the list, reporting the selection mark like a
//    double click;
//  - itemChecked(row, checked): a row's tick box changed, by the user or by setItemChecked.
class ListView final : public QWidget {
    Q_OBJECT

public:
    // Per-row state bits the list keeps itself (selection and focus are the view's).
    static constexpr std::uint32_t kStateImageMask = 0xFFFFF000;

    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    bool addColumn(int index, const QString& text, int width, Qt::Alignment alignment = Qt::AlignLeft);
    // Grid lines and whole-row selection; `style` adds nothing more here.
    void setExtendedStyle(std::uint32_t style = 0);
    void refresh();
    // The last column takes the room the others leave, never less than its own width: a list
    // narrower than its columns scrolls sideways.
    void stretchLastColumn();

    void insertItem(int row, std::string_view text, std::uint32_t state = 0);
    void setItemText(int row, int column, std::string_view text);
    void setItem(int row, std::string_view text);
    std::string itemText(int row) const;
    // The whole text of the cell, however long.
    std::string itemText(int row, int column) const;
    // Sets the bits of `mask` to those of `state` on every row.
    void setItemState(std::uint32_t state, std::uint32_t mask);
    std::uint32_t itemState(int row) const;
    bool removeItem(int row);
    void removeAllItems();
    int itemCount() const;
    // The first selected row, -1 if none.
    int firstSelectedRow() const;
    int selectionMark() const { return m_selectionMark; }
    void setSelectionMark(int row) { m_selectionMark = row; }
    // Tick boxes in the first column (off by default), ticked by a click or by Space on the
    // focused row; turning them off or on unticks nothing.
    void setCheckBoxes(bool on);
    bool hasCheckBoxes() const;
    bool isItemChecked(int row) const;
    void setItemChecked(int row, bool checked);
    void setBackgroundColor(const QColor& color);
    void setTextBackgroundColor(const QColor& color);

    // Replaces every row at once: how long listings arrive from a background pass.
    void replaceRows(TextTable&& rows);
    int columnCount() const;
    int columnWidth(int column) const;

    QTableView* view() const { return m_view; }

signals:
    void itemDoubleClicked(int selectionMark);
    void itemClicked(int row);
    void columnClicked(int column);
    void itemActivated(int selectionMark);
    void itemChecked(int row, bool checked);

private:
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void intercept(QObject* target, QEvent* event, bool& handled);
    int focusRow() const;

    TextTableModel* m_model;
    QTableView* m_view;
    EventInterceptor* m_interceptor;
    int m_selectionMark = -1;
    // The focused row as it was before the input now being handled changed it: the view moves
    // the focus before it selects, and a row that had the focus is not "newly" clicked.
    int m_focusBeforeInput = -1;
};

}  // namespace zentrowe::app
