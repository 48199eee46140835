#pragma once
// View 139, the demand: real-time and maximum demand of the three phases and the total,
// scaled by the module's multiplier, refreshed every 500 ms; "清除" resets the module's
// demand.

#include "formkit/PollingForm.h"
#include "monitor/DemandCycle.h"

class QPushButton;

class CDMDForm : public CPollingForm {
    Q_OBJECT
public:
    static constexpr int kFormId = 139;
    static constexpr int kClearId = 1004;

    CDMDForm(FormContext& ctx, QWidget* parent = nullptr);

    void OnClear();

    QPushButton* ClearButton() const { return clear_; }
    DemandCycle& Demand() const { return static_cast<DemandCycle&>(Cycle()); }

protected:
    void SetUpGrid() override;

private:
    QPushButton* clear_;
    bool fitted_ = false;
};
