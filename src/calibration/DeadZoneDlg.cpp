#include "calibration/DeadZoneDlg.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "calibration/AdjustIds.h"
#include "formkit/CellColours.h"
#include "formkit/CellPainter.h"
#include "widgets/GridCtrl.h"

CDeadZoneDlg::CDeadZoneDlg(LinkState& link, Clock& clock, MessageSink& sink, QWidget* parent)
    : QDialog(parent), zones_(link, clock), sink_(sink) {
    setObjectName(QStringLiteral("dialog%1").arg(adjust::kDeadZoneDlgId));
    setWindowTitle(QStringLiteral("死区设置"));
    grid_ = new CGridCtrl(this);
    grid_->setObjectName(QStringLiteral("grid%1").arg(adjust::IDC_GRID));
    grid_->SetDefaultBkColour(cellcolours::kNormal);
    grid_->SetRowCount(DeadZone::kRows);
    grid_->SetColumnCount(DeadZone::kCols);
    grid_->SetFixedRowCount(1);
    grid_->SetFixedColumnCount(1);
    grid_->SetScrollBarsVisible(false);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int c = 0; c < DeadZone::kCols; ++c) grid_->SetItemAlignment(0, c, Qt::AlignCenter);
    for (int r = 1; r < DeadZone::kRows; ++r) {
        grid_->SetItemReadOnly(r, DeadZone::kCurrentCol, true);
        grid_->SetCellType(r, DeadZone::kSetCol, CGridCtrl::CellType::Numeric);
    }
    grid_->ExpandToFit();
    connect(grid_, &CGridCtrl::CellEdited, this, [this](int row, int col) {
        if (col == DeadZone::kSetCol)
            zones_.Cells().Set(row, col, grid_->GetItemText(row, col).toStdString());
    });

    read_ = new QPushButton(QStringLiteral("读取"), this);
    read_->setObjectName(QStringLiteral("button%1").arg(adjust::IDC_DZ_READ));
    set_ = new QPushButton(QStringLiteral("设置"), this);
    set_->setObjectName(QStringLiteral("button%1").arg(adjust::IDC_DZ_SET));
    auto* exit = new QPushButton(QStringLiteral("退出"), this);
    exit->setObjectName(QStringLiteral("button%1").arg(adjust::IDCANCEL));
    connect(read_, &QPushButton::clicked, this, &CDeadZoneDlg::OnRead);
    connect(set_, &QPushButton::clicked, this, &CDeadZoneDlg::OnSet);
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(read_);
    buttons->addWidget(set_);
    buttons->addWidget(exit);
    auto* top = new QVBoxLayout(this);
    top->addWidget(grid_, 1);
    top->addLayout(buttons);
    resize(460, 380);
    Paint();
    OnRead();
}

void CDeadZoneDlg::Paint() {
    PaintChangedCells(*grid_, zones_.Cells(), FixedCellColours::KeepGrids);
    grid_->Refit();
}

void CDeadZoneDlg::OnRead() {
    zones_.Read(&sink_);
    Paint();
}

void CDeadZoneDlg::OnSet() {
    for (int r = 1; r < DeadZone::kRows; ++r)
        zones_.Cells().Set(r, DeadZone::kSetCol, grid_->GetItemText(r, DeadZone::kSetCol).toStdString());
    zones_.Set(&sink_);
    Paint();
}
