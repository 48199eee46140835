#include "settings/SetDeviceForm.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/SettingsGrid.h"
#include "widgets/GridCtrl.h"

namespace {
constexpr int kOutletId = 1100;
constexpr int kActiveId = 1101;
constexpr int kReactiveId = 1102;
constexpr int kPresetId = 1052;
constexpr int kGridId = 1053;
constexpr int kReadId = 1057;

QLineEdit* Edit(int id, const QString& text, QWidget* parent) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QStringLiteral("edit%1").arg(id));
    e->setMinimumWidth(140);
    return e;
}
}  // namespace

CSetDeviceForm::CSetDeviceForm(FormContext& ctx, QWidget* parent)
    : CFormView(kFormId, parent), ctx_(ctx), settings_(ctx.link, ctx.clock) {
    energyGroup_ = new QGroupBox(QStringLiteral("写电度"), this);
    outlet_ = Edit(kOutletId, QStringLiteral("1"), energyGroup_);
    active_ = Edit(kActiveId, QStringLiteral("0.0"), energyGroup_);
    reactive_ = Edit(kReactiveId, QStringLiteral("0.0"), energyGroup_);
    preset_ = new QPushButton(QStringLiteral("设置"), energyGroup_);
    preset_->setObjectName(QStringLiteral("button%1").arg(kPresetId));
    connect(preset_, &QPushButton::clicked, this, &CSetDeviceForm::OnPresetEnergy);
    auto* fields = new QGridLayout(energyGroup_);
    const QString labels[] = {QStringLiteral("写入模块地址："), QStringLiteral("有功电度值："),
                              QStringLiteral("无功电度值：")};
    const QString hints[] = {QStringLiteral("（1-30）"), QStringLiteral("（0.0-99999999.9）"),
                             QStringLiteral("（0.0-99999999.9）")};
    QLineEdit* edits[] = {outlet_, active_, reactive_};
    for (int i = 0; i < 3; ++i) {
        fields->addWidget(new QLabel(labels[i], energyGroup_), i, 0, Qt::AlignRight);
        fields->addWidget(edits[i], i, 1);
        fields->addWidget(new QLabel(hints[i], energyGroup_), i, 2);
    }
    fields->addWidget(preset_, 3, 1);

    infoGroup_ = new QGroupBox(QStringLiteral("仪表信息"), this);
    grid_ = new CGridCtrl(infoGroup_);
    grid_->setObjectName(QStringLiteral("grid%1").arg(kGridId));
    read_ = new QPushButton(QStringLiteral("读取"), infoGroup_);
    read_->setObjectName(QStringLiteral("button%1").arg(kReadId));
    connect(read_, &QPushButton::clicked, this, &CSetDeviceForm::OnReadInfo);
    auto* info = new QVBoxLayout(infoGroup_);
    info->addWidget(grid_, 0, Qt::AlignHCenter);
    info->addWidget(read_, 0, Qt::AlignHCenter);

    // One above the other: side by side they would widen the main window.
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(16, 16, 16, 16);
    top->addWidget(energyGroup_, 0, Qt::AlignLeft);
    top->addSpacing(16);
    top->addWidget(infoGroup_, 0, Qt::AlignLeft);
    top->addStretch();
}

void CSetDeviceForm::OnInitialUpdate() {
    CGridCtrl& g = *grid_;
    settingsgrid::SetUp(g, EnergyPresetInfo::kRows, EnergyPresetInfo::kCols);
    for (int r = 1; r < EnergyPresetInfo::kRows; ++r) g.SetItemReadOnly(r, 1, true);
    Paint();
    // Room for an order number of twelve characters before anything is read.
    settingsgrid::FitToContents(g, 12);
}

void CSetDeviceForm::OnPresetEnergy() {
    settings_.SetFields(outlet_->text().toStdString(), active_->text().toStdString(),
                        reactive_->text().toStdString());
    settings_.PresetEnergy(ctx_.sink);
}

void CSetDeviceForm::OnReadInfo() {
    settings_.ReadInfo(ctx_.sink);
    Paint();
}

void CSetDeviceForm::Paint() {
    settingsgrid::Paint(*grid_, settings_.Cells());
}
