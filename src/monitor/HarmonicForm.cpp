#include "monitor/HarmonicForm.h"

#include <QFrame>
#include <QTabWidget>
#include <QVBoxLayout>

#include "monitor/BarChart.h"
#include "widgets/GridCtrl.h"

namespace {

constexpr int kChartId = 1050;
constexpr int kFirstFrameId = 1011;
const QColor kChartBackground(255, 255, 240);

}  // namespace

CHarmonicThdPage::CHarmonicThdPage(FormContext& ctx, QWidget* parent)
    : CPollingForm(kPageId, ctx, std::make_unique<ThdCycle>(ctx.link, ctx.clock), parent) {
    setObjectName(QStringLiteral("page%1").arg(kPageId));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(21, 40, 21, 10);
    Grid().setFixedHeight(200);
    top->addWidget(&Grid());
    top->addStretch(1);
}

void CHarmonicThdPage::SetUpGrid() {
    CGridCtrl& g = Grid();
    g.SetFixedRowCount(0);
    g.SetFixedColumnCount(0);
    g.SetReadOutOnly();
    g.SetScrollBarsVisible(false);
    g.ExpandToFit();
    for (int r = 0; r < ThdCycle::kRows; ++r)
        for (int c = 0; c < ThdCycle::kCols; ++c) g.SetItemAlignment(r, c, Qt::AlignCenter);
}

void CHarmonicThdPage::ShowPage() {
    if (!initialised_) {
        // The first show is the page's set-up: grid, first request, timer.
        initialised_ = true;
        OnInitialUpdate();
        return;
    }
    Cycle().Open();
    RestartTimer();
}

QColor CHarmonicChartPage::PhaseColour(int phase) {
    switch (phase) {
        case 0:
            return {255, 255, 0};
        case 1:
            return {0, 255, 0};
        default:
            return {255, 0, 0};
    }
}

CHarmonicChartPage::CHarmonicChartPage(FormContext& ctx, HarmonicChartCycle::Kind kind, QWidget* parent)
    : QWidget(parent), cycle_(ctx.link, ctx.clock, kind) {
    const bool volts = kind == HarmonicChartCycle::Kind::Voltage;
    setObjectName(QStringLiteral("page%1").arg(volts ? 103 : 145));
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CHarmonicChartPage::OnTimer);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(10, 10, 10, 10);
    top->setSpacing(12);
    for (int p = 0; p < HarmonicChartCycle::kPhases; ++p) {
        auto* frame = new QFrame(this);
        frame->setObjectName(QStringLiteral("frame%1").arg(kFirstFrameId + p));
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        auto* inside = new QVBoxLayout(frame);
        inside->setContentsMargins(frame->frameWidth(), frame->frameWidth(), frame->frameWidth(),
                                   frame->frameWidth());
        top->addWidget(frame, 1);
        frames_[static_cast<std::size_t>(p)] = frame;
    }
    for (int p = 0; p < HarmonicChartCycle::kPhases; ++p) {
        QFrame* frame = frames_[static_cast<std::size_t>(p)];
        auto* chart = new CBarChart;
        if (!chart->Create(frame->contentsRect(), frame, kChartId, QString())) {
            delete chart;
            ctx.sink.Show(kChartCreateFailedText, "KVT40", MsgIcon::Exclamation, MsgButtons::Ok);
            break;
        }
        chart->SetStretch(true);
        chart->ShowGrid(false, true);
        chart->SetTitle(QString::fromStdString(cycle_.Title(p)));
        chart->SetBkColor(kChartBackground);
        frame->layout()->addWidget(chart);
        charts_[static_cast<std::size_t>(p)] = chart;
    }
}

CHarmonicChartPage::~CHarmonicChartPage() {
    HidePage();
}

void CHarmonicChartPage::ShowPage() {
    cycle_.Open();
    timer_.start(HarmonicChartCycle::kPollMs);
}

void CHarmonicChartPage::HidePage() {
    timer_.stop();
    cycle_.Settle();
}

void CHarmonicChartPage::OnTimer() {
    cycle_.Tick();
    const int p = cycle_.TakeRefilled();
    if (p < 0) return;
    CBarChart* chart = charts_[static_cast<std::size_t>(p)];
    if (chart == nullptr) return;
    chart->RemoveAllBars();
    const auto& bars = cycle_.Bars(p);
    for (int k = 0; k < HarmonicChartCycle::kOrders; ++k)
        chart->AddBar(bars[static_cast<std::size_t>(k)], QString::number(HarmonicChartCycle::kFirstOrder + k),
                      PhaseColour(p), false);
    chart->Redraw();
}

CHarmonicForm::CHarmonicForm(FormContext& ctx, QWidget* parent) : CFormView(kFormId, parent) {
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("tab%1").arg(kTabId));
    thd_ = new CHarmonicThdPage(ctx, tabs_);
    volts_ = new CHarmonicChartPage(ctx, HarmonicChartCycle::Kind::Voltage, tabs_);
    amps_ = new CHarmonicChartPage(ctx, HarmonicChartCycle::Kind::Current, tabs_);
    tabs_->addTab(thd_, QStringLiteral("谐波畸变率"));
    tabs_->addTab(volts_, QStringLiteral("谐波电压含有率"));
    tabs_->addTab(amps_, QStringLiteral("谐波电流含有率"));
    tabs_->setCurrentIndex(0);
    // Connected once the tabs are in, so only the user's choices reach it.
    connect(tabs_, &QTabWidget::currentChanged, this, &CHarmonicForm::OnTabChanged);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(20, 20, 20, 20);
    top->addWidget(tabs_);
}

void CHarmonicForm::OnInitialUpdate() {
    thd_->ShowPage();
}

void CHarmonicForm::OnTabChanged(int index) {
    // The pages leaving go quiet first: the shown page's request follows their last reply.
    if (index != 0) thd_->HidePage();
    if (index != 1) volts_->HidePage();
    if (index != 2) amps_->HidePage();
    if (index == 0)
        thd_->ShowPage();
    else if (index == 1)
        volts_->ShowPage();
    else if (index == 2)
        amps_->ShowPage();
}
