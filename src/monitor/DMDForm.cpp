#include "monitor/DMDForm.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/GridCtrl.h"

CDMDForm::CDMDForm(FormContext& ctx, QWidget* parent)
    : CPollingForm(kFormId, ctx, std::make_unique<DemandCycle>(ctx.link, ctx.clock, &ctx.sink), parent) {
    clear_ = new QPushButton(QStringLiteral("清除"), this);
    clear_->setObjectName(QStringLiteral("button%1").arg(kClearId));
    connect(clear_, &QPushButton::clicked, this, &CDMDForm::OnClear);
    // The value columns have no fixed text: fit them again once the first values are in,
    // so the gap column stays the narrow one.
    connect(this, &CPollingForm::TickPassed, this, [this] {
        if (fitted_ || Grid().GetItemText(2, 1).isEmpty()) return;
        fitted_ = true;
        Grid().Refit();
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear_);
    buttons->addStretch();
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(18, 13, 18, 12);
    top->addWidget(&Grid(), 1);
    top->addSpacing(12);
    top->addLayout(buttons);
}

void CDMDForm::SetUpGrid() {
    CGridCtrl& g = Grid();
    g.SetFixedRowCount(0);
    g.SetFixedColumnCount(0);
    g.SetReadOutOnly();
    g.SetScrollBarsVisible(false);
    g.SetColumnWidthPx(2, 20);
    g.ExpandToFit();
    for (int r = 0; r < DemandCycle::kRows; ++r)
        for (int c = 0; c < DemandCycle::kCols; ++c) {
            const bool value = c == 1 || c == 4;
            g.SetItemAlignment(r, c, Qt::AlignVCenter | (value ? Qt::AlignRight : Qt::AlignLeft));
            g.SetItemBold(r, c, r == 0 || r == 6);
        }
}

void CDMDForm::OnClear() {
    if (Context().sink.Show(kDemandClearQuestion, kDemandClearCaption, MsgIcon::Question,
                            MsgButtons::YesNo) != MsgResult::Yes)
        return;
    StopTimer();
    Demand().Clear();
    RestartTimer();
    Context().sink.Show(kDemandClearedText, "KVT40", MsgIcon::None, MsgButtons::Ok);
}
