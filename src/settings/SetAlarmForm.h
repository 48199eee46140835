#pragma once
// View 150, "Alarm setting": the voltage and outlet current limits in a 33 x 3 grid with
// "Read" and "Set". The form reads what the user typed in column 2 and hands it to
// AlarmLimitSettings, which checks, writes and reads back; the form only places cells.

#include <QPushButton>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "settings/AlarmLimitSettings.h"

class CGridCtrl;

class CSetAlarmForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = 150;

    explicit CSetAlarmForm(FormContext& ctx, QWidget* parent = nullptr);

    // Grid set-up, then the first read.
    void OnInitialUpdate() override;
    void OnRead();
    void OnSet();

    CGridCtrl& Grid() const { return *grid_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* SetButton() const { return set_; }
    AlarmLimitSettings& Settings() { return settings_; }

private:
    void Paint();

    FormContext& ctx_;
    AlarmLimitSettings settings_;
    CGridCtrl* grid_;
    QPushButton* read_;
    QPushButton* set_;
};
