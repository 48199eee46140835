#pragma once
// View 151, "设备设置" (internal): the energy preset of one outlet in the group "写电度"
// and the meter information grid in the group "仪表信息". The form hands its three edits
// to EnergyPresetInfo, which checks them and talks to the module; no module access until a
// button is pressed.

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "settings/EnergyPresetInfo.h"

class CGridCtrl;

class CSetDeviceForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = 151;

    explicit CSetDeviceForm(FormContext& ctx, QWidget* parent = nullptr);

    // Builds the grid; nothing is sent.
    void OnInitialUpdate() override;
    void OnPresetEnergy();
    void OnReadInfo();

    CGridCtrl& Grid() const { return *grid_; }
    QLineEdit* OutletEdit() const { return outlet_; }
    QLineEdit* ActiveEdit() const { return active_; }
    QLineEdit* ReactiveEdit() const { return reactive_; }
    QPushButton* PresetButton() const { return preset_; }
    QPushButton* ReadButton() const { return read_; }
    QGroupBox* EnergyGroup() const { return energyGroup_; }
    QGroupBox* InfoGroup() const { return infoGroup_; }
    EnergyPresetInfo& Settings() { return settings_; }

private:
    void Paint();

    FormContext& ctx_;
    EnergyPresetInfo settings_;
    QGroupBox* energyGroup_;
    QGroupBox* infoGroup_;
    QLineEdit* outlet_;
    QLineEdit* active_;
    QLineEdit* reactive_;
    QPushButton* preset_;
    CGridCtrl* grid_;
    QPushButton* read_;
};
