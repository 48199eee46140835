#include "monitor/MeasuresForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "resources/Resources.h"
#include "widgets/GridCtrl.h"

CMeasuresForm::CMeasuresForm(FormContext& ctx, QWidget* parent)
    : CPollingForm(kFormId, ctx, std::make_unique<MeasuresCycle>(ctx.link, ctx.clock), parent) {
    readData_ = new QPushButton(QStringLiteral("Read data"), this);
    readData_->setObjectName(QStringLiteral("button%1").arg(res::IDC_READ_DATA));
    connect(readData_, &QPushButton::clicked, this, &CMeasuresForm::OnReadData);

    // Built and wired, but nothing shows or enables them.
    clearEnergy_ = new QPushButton(QStringLiteral("清除电度"), this);
    clearEnergy_->setObjectName(QStringLiteral("button%1").arg(res::IDC_CLEAR_ENERGY));
    connect(clearEnergy_, &QPushButton::clicked, this, &CMeasuresForm::OnClearEnergy);
    ctLabel_ = new QLabel(QStringLiteral("CT地址"), this);
    ctAddress_ = new QComboBox(this);
    ctAddress_->setObjectName(QStringLiteral("list%1").arg(res::IDC_CT_ADDRESS));
    circuit_ = new QLineEdit(QString::number(circuitNumber_), this);
    circuit_->setObjectName(QStringLiteral("edit%1").arg(res::IDC_CIRCUIT));
    for (QWidget* w : {static_cast<QWidget*>(clearEnergy_), static_cast<QWidget*>(ctLabel_),
                       static_cast<QWidget*>(ctAddress_), static_cast<QWidget*>(circuit_)}) {
        w->setVisible(false);
        w->setEnabled(false);
    }
    // Every tick keeps the hidden controls' values, as the form exchanges them.
    connect(this, &CPollingForm::TickPassed, this, [this] {
        circuitNumber_ = circuit_->text().toInt();
        ctAddressSel_ = ctAddress_->currentIndex();
        if (Measures().PollStep() == 0) emit CycleCompleted();
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(readData_);
    buttons->addStretch();
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 4);
    top->addWidget(&Grid(), 1);
    top->addLayout(buttons);
}

void CMeasuresForm::SetUpGrid() {
    CGridCtrl& g = Grid();
    g.SetFixedRowCount(0);
    g.SetFixedColumnCount(0);
    g.SetReadOutOnly();
    g.SetScrollBarsVisible(false);
    g.SetColumnWidthPx(0, 50);
    g.SetColumnWidthPx(1, 80);
    g.ExpandToFit();
    // Readings right-aligned so their decimals line up; the line header in bold.
    for (int r = 0; r < MeasuresCycle::kRows; ++r)
        for (int c = 0; c < MeasuresCycle::kCols; ++c) {
            const bool header = r == 0 || r == 2;
            g.SetItemBold(r, c, r == 0);
            g.SetItemAlignment(r, c, Qt::AlignVCenter | (header || c == 0 ? Qt::AlignLeft : Qt::AlignRight));
        }
}

void CMeasuresForm::OnReadData() {
    StopTimer();
    if (Measures().ReadData(&Context().sink)) RestartTimer();
}

void CMeasuresForm::OnClearEnergy() {
    StopTimer();
    if (Measures().ClearEnergy(&Context().sink)) RestartTimer();
    PaintChanged();
}
