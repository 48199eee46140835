#pragma once
// A bar-chart child window: bars side by side (16 pixels and a gap of 4), the value above
// each bar, its label under it and the title in a band along the bottom, on a fixed scale
// where 30 fills the plot height. It draws into a bitmap of its own, at least as large as
// its bars need, and paints that bitmap 1:1 or, with stretching on, scaled into the window.
// A tip names the bar under the mouse ("NO.%s\nValue:%0.02f\n\n").
//
//     auto* chart = new CBarChart;
//     chart->Create(frame->contentsRect(), frame, 1050, QString());
//     chart->SetStretch(true);
//     chart->ShowGrid(false, true);
//     chart->RemoveAllBars();
//     for (...) chart->AddBar(value, QString::number(order), colour, false);
//     chart->Redraw();

#include <QColor>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class CBarTip;

class CBarChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBarWidth = 16;
    static constexpr int kBarGap = 4;
    static constexpr int kTitleBand = 20;
    static constexpr int kValueBand = 10;
    static constexpr int kLabelBand = 10;
    static constexpr int kBottomMargin = 2;
    static constexpr int kMinPlotHeight = 30;
    static constexpr double kFullScale = 30.0;
    static constexpr int kTipHideMs = 4000;

    struct Bar {
        QString label;
        double value;
        QColor colour;
    };

    explicit CBarChart(QWidget* parent = nullptr);
    ~CBarChart() override;

    // Becomes a visible child of `parent` covering `rect`, named "chart<id>". False when
    // there is no parent window to make it in.
    bool Create(const QRect& rect, QWidget* parent, int id, const QString& title);

    void SetTitle(const QString& title);
    QString Title() const { return title_; }
    // Repaints at once.
    void SetBkColor(const QColor& colour);
    QColor BkColor() const { return bk_; }
    void ShowGrid(bool on, bool redraw);
    bool GridShown() const { return grid_; }
    void SetStretch(bool on);
    bool Stretched() const { return stretch_; }

    void RemoveAllBars();
    void AddBar(double value, const QString& label, const QColor& colour, bool redraw);
    const std::vector<Bar>& Bars() const { return bars_; }
    // Renders into the bitmap and asks for a repaint.
    void Redraw();

    // The bitmap and its geometry as last rendered, in bitmap pixels.
    const QImage& Bitmap() const { return bitmap_; }
    int PlotHeight() const;
    // The row just below the bars' feet: bars fill [BaseLine() - height, BaseLine()).
    int BaseLine() const;
    int BarLeft(int index) const;
    // Per channel |c - 100| of the background.
    QColor FrameColour() const;

    // The bar under a point of the window (stretching undone), -1 for none.
    int BarAt(const QPoint& pos) const;
    // The tip as it is now: its text and whether it shows.
    QString TipText() const;
    bool TipVisible() const;
    const QTimer& TipHideTimer() const;
    const QWidget* Tip() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    void Render();
    void HideTip();

    std::vector<Bar> bars_;
    QString title_;
    QColor bk_{240, 240, 240};
    bool grid_ = true;
    bool stretch_ = false;
    bool labels_ = true;
    bool values_ = true;
    QImage bitmap_;
    CBarTip* tip_;
    int tipBar_ = -1;
};
