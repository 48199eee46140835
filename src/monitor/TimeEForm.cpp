#include "monitor/TimeEForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "resources/Resources.h"
#include "widgets/GridCtrl.h"

CTimeEForm::CTimeEForm(FormContext& ctx, QWidget* parent)
    : CPollingForm(kFormId, ctx, std::make_unique<CircuitTotalsCycle>(ctx.link, ctx.clock), parent) {
    readData_ = new QPushButton(QStringLiteral("Read data"), this);
    readData_->setObjectName(QStringLiteral("button%1").arg(res::IDC_READ_DATA));
    connect(readData_, &QPushButton::clicked, this, &CTimeEForm::OnReadData);

    // Built and wired, but nothing shows or enables them.
    clearEnergy_ = new QPushButton(QStringLiteral("清除电度"), this);
    clearEnergy_->setObjectName(QStringLiteral("button%1").arg(kClearEnergyId));
    connect(clearEnergy_, &QPushButton::clicked, this, &CTimeEForm::OnClearEnergy);
    readCt_ = new QPushButton(QStringLiteral("读取CT模块"), this);
    readCt_->setObjectName(QStringLiteral("button%1").arg(kReadCtId));
    connect(readCt_, &QPushButton::clicked, this, &CTimeEForm::OnReadCtModules);
    ctLabel_ = new QLabel(QStringLiteral("CT地址"), this);
    ctList_ = new QComboBox(this);
    ctList_->setObjectName(QStringLiteral("list%1").arg(kCtListId));
    circuit_ = new QLineEdit(QString::number(circuitNumber_), this);
    circuit_->setObjectName(QStringLiteral("edit%1").arg(kCircuitId));
    for (QWidget* w :
         {static_cast<QWidget*>(clearEnergy_), static_cast<QWidget*>(readCt_),
          static_cast<QWidget*>(ctLabel_), static_cast<QWidget*>(ctList_), static_cast<QWidget*>(circuit_)}) {
        w->setVisible(false);
        w->setEnabled(false);
    }
    connect(this, &CPollingForm::TickPassed, this, [this] {
        RepaintTyped();
        TakeControls();
    });
    connect(&Grid(), &CGridCtrl::CellEdited, this, [this](int r, int c) { typed_.insert({r, c}); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(readData_);
    buttons->addStretch();
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(10, 10, 10, 6);
    top->addWidget(&Grid(), 1);
    top->addLayout(buttons);
}

void CTimeEForm::SetUpGrid() {
    CGridCtrl& g = Grid();
    g.SetFixedRowCount(0);
    g.SetFixedColumnCount(0);
    g.SetScrollBarsVisible(false);
    // A read-out that keeps its cells editable.
    g.SetReadOutOnly();
    g.SetEditable(true);
    g.SetColumnWidthPx(0, 50);
    g.ExpandToFit();
    for (int r = 0; r < CircuitTotalsCycle::kRows; ++r)
        for (int c = 0; c < CircuitTotalsCycle::kCols; ++c)
            g.SetItemAlignment(r, c, Qt::AlignVCenter | (r == 0 || c == 0 ? Qt::AlignLeft : Qt::AlignRight));
}

// A reading replaces what the user typed, even where the value did not change.
void CTimeEForm::RepaintTyped() {
    const CircuitTotalsCycle& t = Totals();
    if (t.Readings() == readings_) return;
    readings_ = t.Readings();
    for (auto it = typed_.begin(); it != typed_.end();) {
        const auto [r, c] = *it;
        if (r >= 1 && c >= 1) {
            Grid().SetItemText(r, c, QString::fromStdString(t.Cells().Text(r, c)));
            it = typed_.erase(it);
        } else {
            ++it;
        }
    }
}

void CTimeEForm::TakeControls() {
    circuitNumber_ = circuit_->text().toInt();
    ctSelection_ = ctList_->currentIndex();
}

void CTimeEForm::OnReadData() {
    StopTimer();
    Totals().Open();  // "Read data": the same request once more
    RestartTimer();
}

void CTimeEForm::OnClearEnergy() {
    StopTimer();
    TakeControls();
    // "Read data" starts the timer again.
    Totals().ClearEnergy(circuitNumber_, &Context().sink);
}

void CTimeEForm::OnReadCtModules() {
    Cycle().Settle();  // the totals' reply may still be coming: the list's reads must not take it
    ctList_->clear();
    for (int m : Totals().ReadCtModules()) ctList_->addItem(QString::number(m));
    ctList_->setCurrentIndex(ctList_->count() > 0 ? 0 : -1);
    TakeControls();
}
