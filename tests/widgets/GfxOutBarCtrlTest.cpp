#include <gtest/gtest.h>

#include <QPixmap>
#include <QSignalSpy>

#include "widgets/GfxOutBarCtrl.h"
#include "widgets/ItemBar.h"

namespace {
QIcon Swatch(Qt::GlobalColor c) {
    QPixmap p(32, 32);
    p.fill(c);
    return QIcon(p);
}
}  // namespace

TEST(GfxOutBarCtrl, FoldersItemsAndClicks) {
    CGfxOutBarCtrl bar;
    bar.SetImageList({Swatch(Qt::red), Swatch(Qt::green)}, {Swatch(Qt::red), Swatch(Qt::green)});
    EXPECT_EQ(bar.AddFolder(QStringLiteral("A")), 0);
    EXPECT_EQ(bar.AddFolder(QStringLiteral("B")), 1);
    EXPECT_EQ(bar.InsertItem(0, 0, QStringLiteral("a0"), 0), 0);
    EXPECT_EQ(bar.InsertItem(0, 99, QStringLiteral("a1"), 1), 1);  // beyond the end appends
    EXPECT_EQ(bar.InsertItem(1, 0, QStringLiteral("b0"), 5), 0);   // unknown image: no icon
    EXPECT_EQ(bar.InsertItem(7, 0, QStringLiteral("x"), 0), -1);
    EXPECT_EQ(bar.GetItemCount(0), 2);
    EXPECT_FALSE(bar.GetItemIcon(0, 1).isNull());
    EXPECT_TRUE(bar.GetItemIcon(1, 0).isNull());

    bar.SetSelFolder(0);
    EXPECT_EQ(bar.GetItemText(1), QStringLiteral("a1"));
    EXPECT_EQ(bar.GetItemText(2), QString());

    QSignalSpy spy(&bar, &CGfxOutBarCtrl::ItemClicked);
    bar.SetSelFolder(1);  // a folder title: no item notification
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(bar.GetItemText(0), QStringLiteral("b0"));
    bar.ClickItem(0, 1);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
    EXPECT_EQ(spy.at(0).at(1).toInt(), 1);
    EXPECT_EQ(bar.GetSelFolder(), 0);
    bar.ClickItem(0, 5);  // no such item
    EXPECT_EQ(spy.count(), 1);
}

TEST(ItemBar, CaptionAndContent) {
    CItemBar bar;
    EXPECT_EQ(bar.windowTitle(), QStringLiteral(" Items "));
    EXPECT_EQ(bar.widget(), &bar.OutBar());
    EXPECT_EQ(bar.allowedAreas(), Qt::AllDockWidgetAreas);
}
