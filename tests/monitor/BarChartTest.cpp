// The bar chart: its geometry on the fixed scale of 30, checked on the rendered pixels,
// the frame colour, stretching and the tip.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include "monitor/BarChart.h"

namespace {

const QColor kRed(255, 0, 0);
const QColor kBackground(255, 255, 240);

bool Reddish(QRgb p) {
    return qRed(p) > qGreen(p) + 60 && qRed(p) > qBlue(p) + 60;
}

// Bar pixels counted up from the row above the base line, in column x.
int BarHeightAt(const QImage& img, int x, int base) {
    int h = 0;
    for (int y = base - 1; y >= 0 && Reddish(img.pixel(x, y)); --y) ++h;
    return h;
}

class BarChartTest : public ::testing::Test {
protected:
    // A chart 600 x 172 pixels: plot height 172 - 2 - 20 - 10 - 10 = 130, base line at 140.
    void Make(int w = 600, int h = 172) {
        chart = new CBarChart;
        ASSERT_TRUE(chart->Create(QRect(0, 0, w, h), &host, 1050, QStringLiteral("A相电压谐波含有率(%)")));
        chart->ShowGrid(false, false);
        chart->SetBkColor(kBackground);
    }
    QImage Shown() { return chart->grab().toImage(); }
    void Move(int x, int y = 50) {
        QMouseEvent e(QEvent::MouseMove, QPointF(x, y), chart->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &e);
    }

    QWidget host;
    CBarChart* chart = nullptr;
};

TEST_F(BarChartTest, ABarOfFifteenIsHalfThePlotHeight) {
    Make();
    chart->AddBar(15.0, QStringLiteral("2"), kRed, true);
    EXPECT_EQ(chart->PlotHeight(), 130);
    EXPECT_EQ(chart->BaseLine(), 140);
    EXPECT_EQ(chart->BarLeft(0), (600 - 20) / 2);
    const QImage img = Shown();
    const int x = chart->BarLeft(0);
    EXPECT_EQ(BarHeightAt(img, x + 8, 140), 65);
    EXPECT_EQ(BarHeightAt(img, x + 1, 140), 65);
    EXPECT_FALSE(Reddish(img.pixel(x - 1, 100)));  // 16 pixels wide
    EXPECT_TRUE(Reddish(img.pixel(x + 15, 100)));
    EXPECT_FALSE(Reddish(img.pixel(x + 16, 100)));
    EXPECT_FALSE(Reddish(img.pixel(x + 8, 140)));  // the label band under the base line
}

TEST_F(BarChartTest, ThirtyFillsThePlotAndMoreIsCutOffAtTheTop) {
    Make();
    chart->AddBar(30.0, QStringLiteral("2"), kRed, false);
    chart->AddBar(45.0, QStringLiteral("3"), kRed, false);
    chart->AddBar(0.0, QStringLiteral("4"), kRed, false);
    chart->Redraw();
    const QImage img = Shown();
    EXPECT_EQ(BarHeightAt(img, chart->BarLeft(0) + 8, 140), 130);
    EXPECT_EQ(BarHeightAt(img, chart->BarLeft(1) + 8, 140), 140 - 1);  // up to the frame
    EXPECT_EQ(BarHeightAt(img, chart->BarLeft(2) + 8, 140), 0);
    EXPECT_EQ(chart->BarLeft(1) - chart->BarLeft(0), 20);
}

TEST_F(BarChartTest, FrameColourAndAnEmptyChart) {
    Make();
    EXPECT_EQ(chart->FrameColour(), QColor(155, 155, 140));
    chart->SetBkColor(QColor(240, 240, 240));
    EXPECT_EQ(chart->FrameColour(), QColor(140, 140, 140));
    chart->SetBkColor(QColor(20, 100, 250));
    EXPECT_EQ(chart->FrameColour(), QColor(80, 0, 150));
    chart->SetBkColor(kBackground);
    const QImage img = Shown();
    EXPECT_EQ(QColor(img.pixel(0, 0)), QColor(155, 155, 140));
    EXPECT_EQ(QColor(img.pixel(599, 171)), QColor(155, 155, 140));
    // Only background above the title band; the title's ink inside it.
    for (int y = 1; y < 172 - 22; ++y)
        for (int x = 1; x < 599; ++x) ASSERT_EQ(QColor(img.pixel(x, y)), kBackground) << x << "," << y;
    int ink = 0;
    for (int y = 150; y < 170; ++y)
        for (int x = 250; x < 350; ++x) ink += QColor(img.pixel(x, y)) != kBackground ? 1 : 0;
    EXPECT_GT(ink, 20);
}

TEST_F(BarChartTest, ThirtyBarsStretchIntoANarrowerWindow) {
    Make(300, 172);
    for (int k = 0; k < 30; ++k) chart->AddBar(15.0, QString::number(k + 2), kRed, false);
    chart->Redraw();
    EXPECT_EQ(chart->Bitmap().width(), 600);
    EXPECT_EQ(chart->BarLeft(29), 580);
    // 1:1 the window shows bars 0 to 14 and pixel 297 is the gap after bar 14; stretched,
    // the whole chart is scaled down and pixel 297 is bitmap pixel 594, in bar 29.
    QImage img = Shown();
    EXPECT_FALSE(Reddish(img.pixel(297, 100)));
    chart->SetStretch(true);
    img = Shown();
    EXPECT_TRUE(Reddish(img.pixel(297, 100)));
    EXPECT_TRUE(Reddish(img.pixel(4, 100)));
    EXPECT_FALSE(Reddish(img.pixel(294, 60)));  // still half the height
}

TEST_F(BarChartTest, TheTipFollowsTheMouseOverTheBars) {
    Make(300, 172);
    chart->SetStretch(true);
    for (int k = 0; k < 30; ++k) chart->AddBar(0.1 * (k + 100), QString::number(k + 2), kRed, false);
    chart->Redraw();
    EXPECT_EQ(chart->BarAt(QPoint(5, 50)), 0);
    EXPECT_EQ(chart->BarAt(QPoint(295, 50)), 29);
    Move(45);  // bitmap x 90: bar 4, order 6
    EXPECT_TRUE(chart->TipVisible());
    EXPECT_EQ(chart->TipText(), QStringLiteral("NO.6\nValue:10.40\n\n"));
    EXPECT_TRUE(chart->TipHideTimer().isActive());
    EXPECT_EQ(chart->TipHideTimer().interval(), 4000);
    const QPoint at = chart->Tip()->pos();
    Move(47, 60);  // the same bar: the tip follows the mouse
    EXPECT_EQ(chart->Tip()->pos(), at + QPoint(2, 10));
    Move(55);
    EXPECT_EQ(chart->TipText(), QStringLiteral("NO.7\nValue:10.50\n\n"));

    chart->RemoveAllBars();
    chart->AddBar(1.0, QStringLiteral("2"), kRed, true);
    Move(150);  // over the one bar in the middle
    EXPECT_TRUE(chart->TipVisible());
    Move(20);  // empty space
    EXPECT_FALSE(chart->TipVisible());
}

}  // namespace
