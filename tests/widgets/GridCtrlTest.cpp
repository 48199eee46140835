#include <gtest/gtest.h>

#include <QScrollBar>

#include "widgets/GridCtrl.h"

TEST(GridCtrl, TextsColoursAndCellKinds) {
    CGridCtrl g;
    g.SetRowCount(4);
    g.SetColumnCount(3);
    g.SetDefaultBkColour(QColor(255, 255, 213));
    g.SetFixedRowCount(1);
    EXPECT_EQ(g.GetRowCount(), 4);
    EXPECT_EQ(g.GetColumnCount(), 3);

    g.SetItemText(2, 1, QStringLiteral("220.0"));
    EXPECT_EQ(g.GetItemText(2, 1), QStringLiteral("220.0"));
    EXPECT_EQ(g.GetItemText(9, 9), QString());  // outside the grid: empty, no crash
    g.SetItemText(9, 9, QStringLiteral("x"));

    EXPECT_EQ(g.GetItemBkColour(2, 1), QColor(255, 255, 213));
    EXPECT_NE(g.GetItemBkColour(0, 1), QColor(255, 255, 213));  // fixed row keeps header colour
    g.SetItemBkColour(3, 2, Qt::red);
    g.SetDefaultBkColour(Qt::white);
    EXPECT_EQ(g.GetItemBkColour(3, 2), QColor(Qt::red));  // a colour the form set survives
    EXPECT_EQ(g.GetItemBkColour(2, 1), QColor(Qt::white));

    EXPECT_TRUE(g.IsItemReadOnly(0, 0));  // fixed
    EXPECT_FALSE(g.IsItemReadOnly(1, 0));
    g.SetItemReadOnly(1, 0, true);
    EXPECT_TRUE(g.IsItemReadOnly(1, 0));

    g.SetCellType(1, 1, CGridCtrl::CellType::Check);
    EXPECT_FALSE(g.GetCheck(1, 1));
    g.SetCheck(1, 1, true);
    EXPECT_TRUE(g.GetCheck(1, 1));
    EXPECT_TRUE(g.item(1, 1)->flags() & Qt::ItemIsUserCheckable);

    g.SetCellType(1, 2, CGridCtrl::CellType::Combo);
    g.SetCellOptions(1, 2, {QStringLiteral("4800"), QStringLiteral("9600")});
    EXPECT_EQ(g.GetCellOptions(1, 2).size(), 2);
    EXPECT_EQ(g.GetCellType(1, 2), CGridCtrl::CellType::Combo);
    g.SetCellType(2, 2, CGridCtrl::CellType::Numeric);
    EXPECT_EQ(g.GetCellType(2, 2), CGridCtrl::CellType::Numeric);

    g.SetEditable(false);
    EXPECT_TRUE(g.IsItemReadOnly(2, 2));
    EXPECT_FALSE(g.item(1, 1)->flags() & Qt::ItemIsUserCheckable);
}

TEST(GridCtrl, ReadOutStretchesWithoutScrollBarsOrSelection) {
    CGridCtrl g;
    g.SetRowCount(33);
    g.SetColumnCount(7);
    g.SetReadOutOnly();
    g.SetScrollBarsVisible(false);
    g.SetColumnWidthPx(0, 50);
    g.SetColumnWidthPx(1, 80);
    g.ExpandToFit();
    g.resize(700, 600);
    g.show();
    EXPECT_EQ(g.selectionMode(), QAbstractItemView::NoSelection);
    EXPECT_EQ(g.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(g.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(g.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    // Every column takes an equal share of the room beyond its own width.
    g.SetItemText(0, 2, QStringLiteral("Reactive power(var)"));
    g.Refit();
    const int share = g.columnWidth(0) - 50;
    EXPECT_GT(share, 0);
    EXPECT_EQ(g.columnWidth(1), 80 + share);
    EXPECT_GE(g.columnWidth(2),
              g.fontMetrics().horizontalAdvance(QStringLiteral("Reactive power(var)")) + share);
    int w = 0;
    for (int c = 0; c < 7; ++c) w += g.columnWidth(c);
    EXPECT_EQ(w, g.viewport()->width());
    int h = 0;
    for (int r = 0; r < 33; ++r) h += g.rowHeight(r);
    EXPECT_EQ(h, g.viewport()->height());
    EXPECT_TRUE(g.IsItemReadOnly(5, 5));
    EXPECT_FALSE(g.item(5, 5)->flags() & Qt::ItemIsSelectable);
}
