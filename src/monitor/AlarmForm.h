#pragma once
// View 147, "Alarm": every alarm condition of the module as a fixed cell that turns red
// while the condition is active, polled every 500 ms.

#include "formkit/PollingForm.h"
#include "monitor/AlarmCycle.h"

class QLabel;

class CAlarmForm : public CPollingForm {
    Q_OBJECT
public:
    static constexpr int kFormId = 147;

    CAlarmForm(FormContext& ctx, QWidget* parent = nullptr);

    AlarmCycle& Alarms() const { return static_cast<AlarmCycle&>(Cycle()); }
    QLabel* Legend() const { return legend_; }

protected:
    void SetUpGrid() override;

private:
    QLabel* legend_;
};
