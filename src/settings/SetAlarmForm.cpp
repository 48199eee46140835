#include "settings/SetAlarmForm.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "settings/SettingsGrid.h"
#include "widgets/GridCtrl.h"

namespace {
constexpr int kGridId = 1002;
constexpr int kReadId = 1037;
constexpr int kSetId = 1038;
}  // namespace

CSetAlarmForm::CSetAlarmForm(FormContext& ctx, QWidget* parent)
    : CFormView(kFormId, parent), ctx_(ctx), settings_(ctx.link, ctx.clock) {
    grid_ = new CGridCtrl(this);
    grid_->setObjectName(QStringLiteral("grid%1").arg(kGridId));
    read_ = new QPushButton(QStringLiteral("Read"), this);
    read_->setObjectName(QStringLiteral("button%1").arg(kReadId));
    set_ = new QPushButton(QStringLiteral("Set"), this);
    set_->setObjectName(QStringLiteral("button%1").arg(kSetId));
    connect(read_, &QPushButton::clicked, this, &CSetAlarmForm::OnRead);
    connect(set_, &QPushButton::clicked, this, &CSetAlarmForm::OnSet);

    QHBoxLayout* buttons = settingsgrid::ButtonRow(read_, set_);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 4);
    top->addWidget(grid_, 1);
    top->addLayout(buttons);
}

void CSetAlarmForm::OnInitialUpdate() {
    CGridCtrl& g = *grid_;
    settingsgrid::SetUp(g, AlarmLimitSettings::kRows, AlarmLimitSettings::kCols);
    for (int r = 1; r < AlarmLimitSettings::kRows; ++r) g.SetItemReadOnly(r, 1, true);
    // 33 rows share the form's height; the columns stretch to its width.
    g.ExpandToFit();
    Paint();
    settings_.Open(ctx_.sink);
    Paint();
    g.Refit();
}

void CSetAlarmForm::OnRead() {
    settings_.Read(ctx_.sink);
    Paint();
}

void CSetAlarmForm::OnSet() {
    // An open cell editor has committed by now: the click took the focus from it.
    for (int r = 1; r < AlarmLimitSettings::kRows; ++r)
        settings_.SetTyped(r, grid_->GetItemText(r, 2).toStdString());
    settings_.Set(ctx_.sink);
    Paint();
}

void CSetAlarmForm::Paint() {
    settingsgrid::Paint(*grid_, settings_.Cells());
}
