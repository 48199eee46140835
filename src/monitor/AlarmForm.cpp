#include "monitor/AlarmForm.h"

#include <QLabel>
#include <QVBoxLayout>

#include "widgets/GridCtrl.h"

CAlarmForm::CAlarmForm(FormContext& ctx, QWidget* parent)
    : CPollingForm(kFormId, ctx, std::make_unique<AlarmCycle>(ctx.link, ctx.clock, &ctx.sink), parent) {
    legend_ = new QLabel(QStringLiteral("Red background means alarm"), this);
    legend_->setAlignment(Qt::AlignCenter);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(10, 4, 10, 10);
    top->setSpacing(4);
    top->addWidget(legend_);
    top->addWidget(&Grid(), 1);
}

void CAlarmForm::SetUpGrid() {
    CGridCtrl& g = Grid();
    g.SetFixedRowCount(0);
    g.SetFixedColumnCount(0);
    g.SetReadOutOnly();
    g.SetScrollBarsVisible(false);
    g.ExpandToFit();
}
