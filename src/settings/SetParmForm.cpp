#include "settings/SetParmForm.h"

#include <QHBoxLayout>
#include <QStringList>
#include <QVBoxLayout>

#include "run/RunState.h"
#include "settings/SettingsGrid.h"
#include "widgets/GridCtrl.h"

namespace {
constexpr int kGridId = 1036;
constexpr int kReadId = 1037;
constexpr int kSetId = 1038;

QStringList BaudOptions() {
    QStringList options;
    for (const char* o : kBaudOptions) options << QString::fromLatin1(o);
    return options;
}
}  // namespace

CSetParmForm::CSetParmForm(FormContext& ctx, QWidget* parent)
    : CFormView(kFormId, parent), ctx_(ctx), params_(ctx.link, ctx.clock) {
    group_ = new QGroupBox(QStringLiteral("System info"), this);
    grid_ = new CGridCtrl(group_);
    grid_->setObjectName(QStringLiteral("grid%1").arg(kGridId));
    read_ = new QPushButton(QStringLiteral("Read"), group_);
    read_->setObjectName(QStringLiteral("button%1").arg(kReadId));
    set_ = new QPushButton(QStringLiteral("Set"), group_);
    set_->setObjectName(QStringLiteral("button%1").arg(kSetId));
    connect(read_, &QPushButton::clicked, this, &CSetParmForm::OnRead);
    connect(set_, &QPushButton::clicked, this, &CSetParmForm::OnSet);

    QHBoxLayout* buttons = settingsgrid::ButtonRow(read_, set_);
    auto* inside = new QVBoxLayout(group_);
    inside->addWidget(grid_, 0, Qt::AlignHCenter);
    inside->addLayout(buttons);

    auto* row = new QHBoxLayout;
    row->addWidget(group_);
    row->addStretch();
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(16, 16, 16, 16);
    top->addLayout(row);
    top->addStretch();
}

void CSetParmForm::OnInitialUpdate() {
    CGridCtrl& g = *grid_;
    settingsgrid::SetUp(g, AddressBaudSettings::kRows, AddressBaudSettings::kCols);
    g.SetItemReadOnly(1, 1, true);
    g.SetItemReadOnly(2, 1, true);
    g.SetCellType(1, 2, CGridCtrl::CellType::Numeric);
    for (int c : {1, 2}) {
        g.SetCellType(2, c, CGridCtrl::CellType::Combo);
        g.SetCellOptions(2, c, BaudOptions());
    }
    Paint();
    params_.Read(ctx_.sink);
    Paint();
    settingsgrid::FitToContents(g);
}

void CSetParmForm::OnRead() {
    params_.Read(ctx_.sink);
    Paint();
}

void CSetParmForm::OnSet() {
    // An open cell editor has committed by now: the click took the focus from it.
    params_.SetTyped(1, grid_->GetItemText(1, 2).toStdString());
    params_.SetTyped(2, grid_->GetItemText(2, 2).toStdString());
    params_.Set(
        ctx_.sink,
        reopen_ ? reopen_ : [this](int baudIndex) { return ctx_.reopenPort && ctx_.reopenPort(baudIndex); });
    Paint();
    if (params_.LinkMoved()) emit LinkSettingsChanged();
}

void CSetParmForm::Paint() {
    settingsgrid::Paint(*grid_, params_.Cells());
}
