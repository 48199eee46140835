// The indicator lamp: red when lit, black when dark, round, its own 200 ms repaint.
#include <gtest/gtest.h>

#include "widgets/Lamp.h"

TEST(Lamp, LitRedDarkBlackRoundWithItsOwnRepaint) {
    CLamp lamp;
    lamp.resize(33, 36);
    EXPECT_TRUE(lamp.RepaintTimer().isActive());
    EXPECT_EQ(lamp.RepaintTimer().interval(), 200);
    EXPECT_FALSE(lamp.IsLit());
    EXPECT_EQ(lamp.FaceColour(), QColor(Qt::black));

    QImage img = lamp.grab().toImage();
    const QColor centre(img.pixel(16, 18));
    EXPECT_LT(centre.red(), 90);
    EXPECT_LT(centre.green(), 90);
    lamp.SetLit(true);
    EXPECT_EQ(lamp.FaceColour(), QColor(255, 0, 0));
    img = lamp.grab().toImage();
    const QColor lit(img.pixel(16, 18));
    EXPECT_GT(lit.red(), 200);
    EXPECT_LT(lit.green(), 120);
    // Round: the corners are not the lamp's; the rim is grey.
    const QColor corner(img.pixel(1, 1));
    const QColor rim(img.pixel(16, 3));
    EXPECT_NE(corner, lit);
    EXPECT_LT(std::abs(rim.red() - rim.green()), 20);
    EXPECT_GT(rim.red(), 80);
}
