#include "monitor/BarChart.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "monitor/NumberText.h"

namespace {

constexpr int kPitch = CBarChart::kBarWidth + CBarChart::kBarGap;
constexpr int kBandFontPx = 8;
constexpr int kTitleFontPx = 12;
constexpr int kGridStep = 5;  // grid lines every 5 units of the 30

}  // namespace

// The tip: a rounded pop-up over everything, hidden again after 4 s or on a click.
class CBarTip final : public QWidget {
public:
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 100;
    static constexpr int kRadius = 10;

    explicit CBarTip(QWidget* owner)
        : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFixedSize(kWidth, kHeight);
        hide_.setSingleShot(true);
        hide_.setInterval(CBarChart::kTipHideMs);
        connect(&hide_, &QTimer::timeout, this, &QWidget::hide);
    }
    // Shows the text 10 pixels right of and 20 below the cursor, inside its screen, for 4 s.
    void Show(const QString& text, const QPoint& cursor) {
        text_ = text;
        Follow(cursor);
        show();
        raise();
        update();
        hide_.start();
    }
    void Follow(const QPoint& cursor) {
        QPoint at = cursor + QPoint(10, 20);
        if (const QScreen* s = QGuiApplication::screenAt(cursor)) {
            const QRect room = s->availableGeometry();
            at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - kWidth + 1)));
            at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - kHeight + 1)));
        }
        move(at);
    }
    void Hide() {
        hide_.stop();
        hide();
    }
    const QString& Text() const { return text_; }
    const QTimer& HideTimer() const { return hide_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(box, kRadius, kRadius);
        p.fillPath(path, QColor(255, 255, 220));
        // The bar's number on a gold band, its value under it.
        p.save();
        p.setClipPath(path);
        p.fillRect(QRectF(box.left(), box.top(), box.width(), 36), QColor(240, 210, 80));
        p.restore();
        p.setPen(QPen(QColor(155, 155, 155), 1));
        p.drawPath(path);
        const QStringList lines = text_.split(QLatin1Char('\n'));
        QFont bold(QStringLiteral("Tahoma"));
        bold.setPixelSize(20);
        bold.setBold(true);
        QFont regular = bold;
        regular.setBold(false);
        p.setPen(Qt::black);
        p.setFont(bold);
        p.drawText(QRect(12, 6, kWidth - 24, 26), Qt::AlignLeft | Qt::AlignVCenter, lines.value(0));
        p.setFont(regular);
        p.drawText(QRect(12, 46, kWidth - 24, 26), Qt::AlignLeft | Qt::AlignVCenter, lines.value(1));
    }
    void mousePressEvent(QMouseEvent*) override { Hide(); }

private:
    QString text_;
    QTimer hide_;
};

CBarChart::CBarChart(QWidget* parent) : QWidget(parent), tip_(new CBarTip(this)) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CBarChart::~CBarChart() = default;

bool CBarChart::Create(const QRect& rect, QWidget* parent, int id, const QString& title) {
    if (parent == nullptr) return false;
    setParent(parent);
    setObjectName(QStringLiteral("chart%1").arg(id));
    setGeometry(rect);
    title_ = title;
    show();
    Redraw();
    return true;
}

void CBarChart::SetTitle(const QString& title) {
    title_ = title;
}

void CBarChart::SetBkColor(const QColor& colour) {
    bk_ = colour;
    Redraw();
}

void CBarChart::ShowGrid(bool on, bool redraw) {
    grid_ = on;
    if (redraw) Redraw();
}

void CBarChart::SetStretch(bool on) {
    stretch_ = on;
    update();
}

void CBarChart::RemoveAllBars() {
    bars_.clear();
    HideTip();
    Redraw();
}

void CBarChart::AddBar(double value, const QString& label, const QColor& colour, bool redraw) {
    bars_.push_back({label, value, colour});
    if (redraw) Redraw();
}

void CBarChart::Redraw() {
    Render();
    update();
}

QColor CBarChart::FrameColour() const {
    return QColor(std::abs(bk_.red() - 100), std::abs(bk_.green() - 100), std::abs(bk_.blue() - 100));
}

int CBarChart::PlotHeight() const {
    return bitmap_.height() - kBottomMargin - kTitleBand - (values_ ? kValueBand : 0) -
           (labels_ ? kLabelBand : 0);
}

int CBarChart::BaseLine() const {
    return bitmap_.height() - kBottomMargin - kTitleBand - (labels_ ? kLabelBand : 0);
}

int CBarChart::BarLeft(int index) const {
    const int free = bitmap_.width() - static_cast<int>(bars_.size()) * kPitch;
    return free / 2 + kPitch * index;
}

void CBarChart::Render() {
    const int barsWidth = static_cast<int>(bars_.size()) * kPitch;
    const int minHeight = kMinPlotHeight + kBottomMargin + kTitleBand + kValueBand + kLabelBand;
    bitmap_ = QImage(std::max({width(), barsWidth, 1}), std::max(height(), minHeight), QImage::Format_RGB32);
    bitmap_.fill(bk_);
    QPainter p(&bitmap_);
    const int w = bitmap_.width();
    const int h = bitmap_.height();
    const int plot = PlotHeight();
    const int base = BaseLine();

    if (grid_) {
        p.setPen(QPen(QColor((bk_.red() + FrameColour().red()) / 2, (bk_.green() + FrameColour().green()) / 2,
                             (bk_.blue() + FrameColour().blue()) / 2),
                      1, Qt::DotLine));
        for (int v = kGridStep; v <= static_cast<int>(kFullScale); v += kGridStep) {
            const int y = base - static_cast<int>(v * plot / kFullScale);
            p.drawLine(1, y, w - 2, y);
        }
    }

    QFont band = font();
    band.setPixelSize(kBandFontPx);
    p.setFont(band);
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        const Bar& b = bars_[i];
        const int x = BarLeft(static_cast<int>(i));
        const int bh = std::max(0, static_cast<int>(b.value * plot / kFullScale));
        const int top = base - bh;
        if (bh > 0) {
            // Shaded across the bar, a highlight along its left and top edges.
            QLinearGradient shade(x, 0, x + kBarWidth, 0);
            shade.setColorAt(0.0, b.colour.lighter(150));
            shade.setColorAt(0.4, b.colour);
            shade.setColorAt(1.0, b.colour.darker(140));
            p.fillRect(QRect(x, top, kBarWidth, bh), shade);
            p.setPen(b.colour.lighter(170));
            p.drawLine(x, top, x, base - 1);
            p.drawLine(x, top, x + kBarWidth - 1, top);
        }
        p.setPen(Qt::black);
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;
        if (values_)
            p.drawText(QRect(x, top - kValueBand, kPitch, kValueBand), flags,
                       QString::fromStdString(NumberText("%0.02f", b.value)));
        if (labels_) p.drawText(QRect(x, base, kPitch, kLabelBand), flags, b.label);
    }

    QFont titleFont = font();
    titleFont.setPixelSize(kTitleFontPx);
    p.setFont(titleFont);
    const QRect titleBand(0, h - kBottomMargin - kTitleBand, w, kTitleBand);
    p.setPen(QColor(200, 200, 200));
    p.drawText(titleBand.translated(2, 2), Qt::AlignCenter | Qt::TextSingleLine, title_);
    p.setPen(Qt::black);
    p.drawText(titleBand, Qt::AlignCenter | Qt::TextSingleLine, title_);

    p.setPen(FrameColour());
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, w - 1, h - 1);
}

void CBarChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (bitmap_.isNull()) Render();
    if (stretch_) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), bitmap_);
    } else {
        p.fillRect(rect(), bk_);
        p.drawImage(0, 0, bitmap_);
    }
}

void CBarChart::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Render();
}

int CBarChart::BarAt(const QPoint& pos) const {
    if (bars_.empty() || bitmap_.isNull() || width() <= 0) return -1;
    const double bx = stretch_ ? pos.x() * static_cast<double>(bitmap_.width()) / width() : pos.x();
    const double offset = bx - BarLeft(0);
    if (offset < 0) return -1;
    const int i = static_cast<int>(offset / kPitch);
    return i < static_cast<int>(bars_.size()) ? i : -1;
}

QString CBarChart::TipText() const {
    return tip_->Text();
}
bool CBarChart::TipVisible() const {
    return tip_->isVisible();
}
const QTimer& CBarChart::TipHideTimer() const {
    return tip_->HideTimer();
}
const QWidget* CBarChart::Tip() const {
    return tip_;
}

void CBarChart::HideTip() {
    tip_->Hide();
    tipBar_ = -1;
}

void CBarChart::mouseMoveEvent(QMouseEvent* e) {
    const int i = BarAt(e->position().toPoint());
    if (i < 0) {
        HideTip();
        return;
    }
    if (i == tipBar_) {
        // The same bar: the tip follows the mouse; once its time is up it stays hidden
        // until the mouse reaches another bar.
        if (tip_->isVisible()) tip_->Follow(e->globalPosition().toPoint());
        return;
    }
    tipBar_ = i;
    const Bar& b = bars_[static_cast<std::size_t>(i)];
    const QString text = QStringLiteral("NO.%1\nValue:%2\n\n")
                             .arg(b.label, QString::fromStdString(NumberText("%0.02f", b.value)));
    tip_->Show(text, e->globalPosition().toPoint());
}

void CBarChart::mousePressEvent(QMouseEvent* e) {
    HideTip();
    QWidget::mousePressEvent(e);
}

void CBarChart::leaveEvent(QEvent* e) {
    HideTip();
    QWidget::leaveEvent(e);
}
