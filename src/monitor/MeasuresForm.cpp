#include "monitor/MeasuresForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "resources/Resources.h"
#include "widgets/GridCtrl.h"

CMeasuresForm::CMeasuresForm(LinkState& link, Clock& clock, MessageSink& sink, QWidget* parent)
    : QWidget(parent), cycle_(link, clock), sink_(sink) {
    setObjectName(QStringLiteral("form%1").arg(kFormId));
    // A coarse timer may fire 5 % late; the cycle must keep to 6 x 600 ms.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(MeasuresCycle::kPollMs);
    connect(&timer_, &QTimer::timeout, this, &CMeasuresForm::OnTimer);

    grid_ = new CGridCtrl(this);
    grid_->setObjectName(QStringLiteral("grid%1").arg(res::IDC_GRID));
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

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(readData_);
    buttons->addStretch();
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 4);
    top->addWidget(grid_, 1);
    top->addLayout(buttons);
}

void CMeasuresForm::OnInitialUpdate() {
    grid_->SetRowCount(MeasuresCycle::kRows);
    grid_->SetColumnCount(MeasuresCycle::kCols);
    grid_->SetFixedRowCount(0);
    grid_->SetFixedColumnCount(0);
    grid_->SetDefaultBkColour(kCellColour);
    grid_->SetReadOutOnly();
    grid_->SetScrollBarsVisible(false);
    grid_->SetColumnWidthPx(0, 50);
    grid_->SetColumnWidthPx(1, 80);
    grid_->ExpandToFit();
    // Readings right-aligned so their decimals line up; the line header in bold.
    for (int r = 0; r < MeasuresCycle::kRows; ++r)
        for (int c = 0; c < MeasuresCycle::kCols; ++c) {
            const bool header = r == 0 || r == 2;
            grid_->SetItemBold(r, c, r == 0);
            grid_->SetItemAlignment(r, c, Qt::AlignVCenter | (header || c == 0 ? Qt::AlignLeft : Qt::AlignRight));
        }
    cycle_.Start();  // fixed texts, the first request, step 0
    ShowCells();
    timer_.start(MeasuresCycle::kPollMs);
}

void CMeasuresForm::OnTimer() {
    timer_.stop();
    const bool last = MeasuresCycle::PollStep() == 5;
    if (!cycle_.Tick()) return;  // silent: the grid keeps its values, the cycle stays stopped
    ShowCells();
    circuitNumber_ = circuit_->text().toInt();
    ctAddressSel_ = ctAddress_->currentIndex();
    timer_.start(MeasuresCycle::kPollMs);
    if (last) emit CycleCompleted();
}

void CMeasuresForm::OnReadData() {
    timer_.stop();
    if (cycle_.ReadData(&sink_)) timer_.start(MeasuresCycle::kPollMs);
}

void CMeasuresForm::OnClearEnergy() {
    timer_.stop();
    if (cycle_.ClearEnergy(&sink_)) timer_.start(MeasuresCycle::kPollMs);
    ShowCells();
}

void CMeasuresForm::ShowCells() {
    // Only the cells whose text changed are repainted (one coalesced paint); repainting
    // the whole grid every tick was most of the polling CPU.
    for (int r = 0; r < MeasuresCycle::kRows; ++r)
        for (int c = 0; c < MeasuresCycle::kCols; ++c)
            grid_->SetItemText(r, c, QString::fromStdString(cycle_.Cell(r, c)));
}
