#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <gtest/gtest.h>
#include <memory>

#include "app/controls/event_interceptor.h"
#include "app/controls/list_view.h"
#include "app/controls/progress_bar.h"
#include "app/controls/text_table.h"
#include "app/controls/flat_button.h"
#include "widget_driving.h"

namespace zentrowe::app {
namespace {

using widget_driving::mouse;

const QColor kBackground(212, 208, 200);

QImage renderBar(int width, int height, int minimum, int maximum, int position)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    ProgressBar::paintBar(painter, image.size(), kBackground, minimum, maximum, position);
    return image;
}

QColor at(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

TEST(ProgressBar, RowsShadeFromDarkBlueAtTheEdgesTowardsGreyInTheMiddle)
{
    // Height 7: rows i = 0..4 at y = 1..5 get red and green round(sin(i / 7 * pi) * 160).
    const QImage full = renderBar(20, 7, 0, 100, 100);
    const int expected[] = {0, 69, 125, 156, 156};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(at(full, 5, i + 1), QColor(expected[i], expected[i], 160));
    }
}

TEST(ProgressBar, LeavesAOnePixelBorderWhenFull)
{
    const QImage full = renderBar(20, 7, 0, 100, 100);
    for (int x = 0; x < 20; ++x) {
        SCOPED_TRACE(x);
        EXPECT_EQ(at(full, x, 0), kBackground);
        EXPECT_EQ(at(full, x, 6), kBackground);
    }
    EXPECT_EQ(at(full, 0, 4), kBackground);
    EXPECT_EQ(at(full, 1, 4), QColor(156, 156, 160));
    EXPECT_EQ(at(full, 18, 4), QColor(156, 156, 160));  // fill = width - 2, drawn inclusive
    EXPECT_EQ(at(full, 19, 4), kBackground);
}

TEST(ProgressBar, FillsInProportionBetweenMinAndMaxRoundingHalvesToEven)
{
    struct Case {
        int width, minimum, maximum, position, lastFilled;
    };
    const Case cases[] = {
        {20, 0, 100, 50, 9},     // 0.5 * 18 = 9
        {7, 0, 100, 50, 2},      // 0.5 * 5 = 2.5 rounds to 2
        {9, 0, 100, 50, 4},      // 0.5 * 7 = 3.5 rounds to 4
        {20, 100, 200, 150, 9},  // the range need not start at 0
        {12, 1, 11, 6, 5},       // (6 - 1) / 10 * 10 = 5
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width * 1000 + c.position);
        const QImage image = renderBar(c.width, 5, c.minimum, c.maximum, c.position);
        EXPECT_NE(at(image, c.lastFilled, 2), kBackground);
        EXPECT_EQ(at(image, c.lastFilled + 1, 2), kBackground);
    }
}

TEST(ProgressBar, AnEmptyBarDrawsItsRowsBackToColumnZero)
{
    const QImage empty = renderBar(20, 5, 0, 100, 0);
    EXPECT_EQ(at(empty, 0, 1), QColor(0, 0, 160));
    EXPECT_EQ(at(empty, 1, 1), QColor(0, 0, 160));
    EXPECT_EQ(at(empty, 2, 1), kBackground);
}

TEST(ProgressBar, HeightThreeDrawsOneRowAndLowerDrawsNothing)
{
    const QImage three = renderBar(10, 3, 0, 10, 10);
    EXPECT_EQ(at(three, 4, 1), QColor(0, 0, 160));
    EXPECT_EQ(at(three, 4, 0), kBackground);
    EXPECT_EQ(at(three, 4, 2), kBackground);
    const QImage two = renderBar(10, 2, 0, 10, 10);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 10; ++x) {
            EXPECT_EQ(at(two, x, y), kBackground);
        }
    }
}

TEST(ProgressBar, StartsAtItsDefaultsAndReadsBackWhatIsSet)
{
    ProgressBar bar;
    EXPECT_EQ(bar.maximum(), 1000);
    EXPECT_EQ(bar.minimum(), 1);
    EXPECT_EQ(bar.position(), 20);
    bar.setMinimum(0);
    bar.setMaximum(10);
    bar.setPosition(7);
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), 10);
    EXPECT_EQ(bar.position(), 7);
}

QImage renderButton(int width, int height, const QString& caption, bool enabled, FlatButton::Look look)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    FlatButton::paintButton(painter, image.size(), caption, enabled, look);
    return image;
}

bool hasBlack(const QImage& image, const QRect& area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.red() < 80 && colour.green() < 80 && colour.blue() < 80) {
                return true;
            }
        }
    }
    return false;
}

TEST(FlatButton, NormalFaceWithDarkBlueBorderOnTheSecondLastColumnAndRow)
{
    const QImage image = renderButton(40, 20, QString(), true, FlatButton::Look::Normal);
    const QColor border(0, 0, 136);
    const QColor face(246, 246, 246);
    EXPECT_EQ(at(image, 20, 0), border);
    EXPECT_EQ(at(image, 0, 10), border);
    EXPECT_EQ(at(image, 38, 10), border);
    EXPECT_EQ(at(image, 20, 18), border);
    EXPECT_EQ(at(image, 39, 10), face);
    EXPECT_EQ(at(image, 20, 19), face);
    EXPECT_EQ(at(image, 20, 10), face);
    // The 5 x 5 corner ellipse leaves the very corner unpainted by the border.
    EXPECT_EQ(at(image, 0, 0), face);
}

TEST(FlatButton, PressedFaceAndOrangeHoverFrame)
{
    const QImage pressed = renderButton(40, 20, QString(), true, FlatButton::Look::Pressed);
    EXPECT_EQ(at(pressed, 20, 10), QColor(223, 223, 223));
    EXPECT_EQ(at(pressed, 20, 0), QColor(0, 0, 136));

    const QImage hovering = renderButton(40, 20, QString(), true, FlatButton::Look::Hovering);
    const QColor orange(255, 176, 0);
    EXPECT_EQ(at(hovering, 1, 1), orange);  // square corners
    EXPECT_EQ(at(hovering, 20, 1), orange);
    EXPECT_EQ(at(hovering, 1, 10), orange);
    EXPECT_EQ(at(hovering, 38, 10), orange);
    EXPECT_EQ(at(hovering, 20, 18), orange);
    EXPECT_EQ(at(hovering, 20, 10), QColor(246, 246, 246));
    EXPECT_EQ(at(hovering, 20, 0), QColor(0, 0, 136));
}

TEST(FlatButton, CaptionIsCentredInBlackAndHiddenWhileDisabled)
{
    const QImage enabled = renderButton(80, 30, QStringLiteral("确定"), true, FlatButton::Look::Normal);
    EXPECT_TRUE(hasBlack(enabled, QRect(20, 5, 40, 20)));
    EXPECT_FALSE(hasBlack(enabled, QRect(2, 2, 14, 26)));   // left margin
    EXPECT_FALSE(hasBlack(enabled, QRect(64, 2, 14, 26)));  // right margin
    const QImage disabled = renderButton(80, 30, QStringLiteral("确定"), false, FlatButton::Look::Normal);
    EXPECT_FALSE(hasBlack(disabled, QRect(2, 2, 76, 26)));
}

TEST(FlatButton, IsClippedToARoundedOutline)
{
    const QRegion outline = FlatButton::outline(QSize(40, 20));
    EXPECT_FALSE(outline.contains(QPoint(0, 0)));
    EXPECT_TRUE(outline.contains(QPoint(20, 10)));
    EXPECT_TRUE(outline.contains(QPoint(0, 10)));
    EXPECT_TRUE(outline.contains(QPoint(39, 10)));
    EXPECT_FALSE(outline.contains(QPoint(40, 10)));
}

TEST(FlatButton, RaisesClickOnlyWhileEnabled)
{
    FlatButton button(QStringLiteral("OK"));
    button.resize(60, 24);
    int clicks = 0;
    QObject::connect(&button, &FlatButton::clicked, [&clicks] { ++clicks; });
    mouse(&button, QPoint(30, 12));
    EXPECT_EQ(clicks, 1);
    button.setEnabled(false);
    mouse(&button, QPoint(30, 12));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button.text(), QStringLiteral("OK"));
}

TEST(EventInterceptor, SeesEventsFirstCanStopThemAndLetsGoWhenDestroyed)
{
    QLineEdit edit;
    QList<QEvent::Type> seen;
    auto interceptor = std::make_unique<EventInterceptor>([&](QObject* target, QEvent* event, bool& handled) {
        EXPECT_EQ(target, &edit);
        if (event->type() == QEvent::KeyPress) {
            seen << event->type();
            // The edit has not handled the key yet.
            EXPECT_EQ(edit.text().size(), seen.size() == 1 ? 0 : 1);
            handled = static_cast<QKeyEvent*>(event)->key() == Qt::Key_X;
        }
    });
    interceptor->watch(&edit);
    interceptor->watch(&edit);  // once is enough

    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&edit, &a);
    QApplication::sendEvent(&edit, &x);
    EXPECT_EQ(edit.text(), QStringLiteral("a"));
    EXPECT_EQ(seen.size(), 2);

    interceptor.reset();
    QApplication::sendEvent(&edit, &x);
    EXPECT_EQ(edit.text(), QStringLiteral("ax"));
}

TEST(TextTable, KeepsWholeTextsThroughInsertsReplacementsAndRemovals)
{
    TextTable table(3);
    table.appendRow({"0", "Note on", "Cannel=1 Num=60 C4 Vol=100"});
    table.insertRow(0, "first");
    table.setText(0, 2, "a description longer than twenty-seven bytes");
    table.setText(0, 2, "replaced");
    table.setText(5, 0, "no such row");
    table.setText(0, 3, "no such column");
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.text(0, 0), "first");
    EXPECT_EQ(table.text(0, 1), "");
    EXPECT_EQ(table.text(0, 2), "replaced");
    EXPECT_EQ(table.text(1, 2), "Cannel=1 Num=60 C4 Vol=100");
    EXPECT_TRUE(table.removeRow(0));
    EXPECT_FALSE(table.removeRow(1));
    EXPECT_EQ(table.text(0, 1), "Note on");
}

class ListViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list.resize(400, 300);
        list.setExtendedStyle();
        ASSERT_TRUE(list.addColumn(0, QString(), 70));
        ASSERT_TRUE(list.addColumn(1, QStringLiteral("音符数"), 60));
        for (int row = 0; row < 3; ++row) {
            list.insertItem(list.itemCount(), "row " + std::to_string(row));
            list.setItemText(row, 1, std::to_string(row * 10));
        }
        list.show();
        QApplication::processEvents();
        QObject::connect(&list, &ListView::itemClicked, [this](int row) { clicked << row; });
        QObject::connect(&list, &ListView::itemDoubleClicked, [this](int mark) { doubleClicked << mark; });
        QObject::connect(&list, &ListView::columnClicked, [this](int column) { columns << column; });
    }

    QPoint rowCentre(int row) const
    {
        return list.view()->visualRect(list.view()->model()->index(row, 1)).center();
    }

    ListView list;
    QList<int> clicked;
    QList<int> doubleClicked;
    QList<int> columns;
};

TEST_F(ListViewTest, HasGridLinesWholeRowSelectionAndTheColumnsAsAdded)
{
    EXPECT_TRUE(list.view()->showGrid());
    EXPECT_EQ(list.view()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.view()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list.columnCount(), 2);
    EXPECT_EQ(list.columnWidth(0), 70);
    EXPECT_EQ(list.columnWidth(1), 60);
    EXPECT_EQ(list.view()->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("音符数"));
    EXPECT_EQ(list.itemText(2), "row 2");
    EXPECT_EQ(list.itemText(2, 1), "20");
}

TEST_F(ListViewTest, ClickingARowRaisesItemClickAndMovesTheSelectionMark)
{
    EXPECT_EQ(list.selectionMark(), -1);
    mouse(list.view()->viewport(), rowCentre(1));
    EXPECT_EQ(clicked, QList<int>{1});
    EXPECT_EQ(list.selectionMark(), 1);
    EXPECT_EQ(list.firstSelectedRow(), 1);
    mouse(list.view()->viewport(), rowCentre(2));
    EXPECT_EQ(clicked, (QList<int>{1, 2}));
    EXPECT_EQ(list.selectionMark(), 2);
}

TEST_F(ListViewTest, ARowThatAlreadyHadTheFocusRaisesNoItemClickWhenSelected)
{
    list.view()->selectionModel()->setCurrentIndex(list.view()->model()->index(1, 0), QItemSelectionModel::NoUpdate);
    mouse(list.view()->viewport(), rowCentre(1));
    EXPECT_TRUE(clicked.isEmpty());
    EXPECT_EQ(list.firstSelectedRow(), 1);
    mouse(list.view()->viewport(), rowCentre(0));
    EXPECT_EQ(clicked, QList<int>{0});
}

TEST_F(ListViewTest, DoubleClickReportsTheSelectionMarkNotTheRowUnderThePointer)
{
    mouse(list.view()->viewport(), rowCentre(0), QEvent::MouseButtonDblClick);
    EXPECT_EQ(doubleClicked, QList<int>{-1});

    mouse(list.view()->viewport(), rowCentre(2));
    list.setSelectionMark(1);
    mouse(list.view()->viewport(), rowCentre(2), QEvent::MouseButtonDblClick);
    EXPECT_EQ(doubleClicked, (QList<int>{-1, 1}));
}

TEST_F(ListViewTest, HeaderClickReportsTheColumn)
{
    QHeaderView* header = list.view()->horizontalHeader();
    mouse(header->viewport(), QPoint(header->sectionViewportPosition(1) + 10, header->height() / 2));
    EXPECT_EQ(columns, QList<int>{1});
}

TEST_F(ListViewTest, GetItemTextReturnsTheWholeText)
{
    const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
    list.setItemText(0, 1, thirty);
    EXPECT_EQ(list.itemText(0, 1), thirty);
    EXPECT_EQ(list.itemText(7, 1), "");
}

TEST_F(ListViewTest, SetItemStateChangesEveryRow)
{
    list.setItemState(0x2000, 0xF000);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list.itemState(row), 0x2000u);
    }
}

TEST_F(ListViewTest, DeletingRowsAndEmptyingTheList)
{
    mouse(list.view()->viewport(), rowCentre(1));
    EXPECT_TRUE(list.removeItem(0));
    EXPECT_FALSE(list.removeItem(5));
    EXPECT_EQ(list.itemCount(), 2);
    EXPECT_EQ(list.itemText(0), "row 1");
    list.removeAllItems();
    EXPECT_EQ(list.itemCount(), 0);
    EXPECT_EQ(list.selectionMark(), -1);
    EXPECT_EQ(list.firstSelectedRow(), -1);
}

TEST_F(ListViewTest, ATickBoxClickedOrSetTicksItsRowAndSaysSo)
{
    QList<std::pair<int, bool>> ticks;
    QObject::connect(&list, &ListView::itemChecked, [&](int row, bool on) { ticks.append({row, on}); });
    const QModelIndex first = list.view()->model()->index(1, 0);
    EXPECT_FALSE(first.flags() & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(list.view()->model()->data(first, Qt::CheckStateRole).isValid());
    list.setCheckBoxes(true);
    QApplication::processEvents();
    EXPECT_TRUE(first.flags() & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(list.view()->model()->index(1, 1).flags() & Qt::ItemIsUserCheckable);

    // A click on the box, where the style draws it, as a user ticks.
    QStyleOptionViewItem option;
    option.initFrom(list.view());
    option.rect = list.view()->visualRect(first);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("row 1");
    const QRect box = list.view()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list.view());
    mouse(list.view()->viewport(), box.center());
    EXPECT_TRUE(list.isItemChecked(1));
    EXPECT_EQ(list.view()->model()->data(first, Qt::CheckStateRole).toInt(), Qt::Checked);
    list.setItemChecked(2, true);
    list.setItemChecked(2, true);  // no change, no news
    list.setItemChecked(1, false);
    // Space on the focused row, whichever cell has the focus.
    list.view()->selectionModel()->setCurrentIndex(list.view()->model()->index(0, 1), QItemSelectionModel::NoUpdate);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(list.view(), &space);
    EXPECT_EQ(ticks, (QList<std::pair<int, bool>>{{1, true}, {2, true}, {1, false}, {0, true}}));
    EXPECT_FALSE(list.isItemChecked(1));
    EXPECT_TRUE(list.isItemChecked(2));
}

TEST_F(ListViewTest, EnabledFollowsTheProperty)
{
    list.setEnabled(false);
    EXPECT_FALSE(list.isEnabled());
    EXPECT_FALSE(list.view()->isEnabled());
    list.setEnabled(true);
    EXPECT_TRUE(list.view()->isEnabled());
}

}  // namespace
}  // namespace zentrowe::app
