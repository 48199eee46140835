#pragma once
// View 101, "Single-phase": the line and the 30 outlets, refreshed by MeasuresCycle on a
// 600 ms timer. The form only places the cycle's cells; all decoding lives in the cycle.

#include "formkit/PollingForm.h"
#include "monitor/MeasuresCycle.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CMeasuresForm : public CPollingForm {
    Q_OBJECT
public:
    static constexpr int kFormId = 101;

    CMeasuresForm(FormContext& ctx, QWidget* parent = nullptr);

    void OnReadData();
    void OnClearEnergy();

    QPushButton* ReadDataButton() const { return readData_; }
    QPushButton* ClearEnergyButton() const { return clearEnergy_; }
    MeasuresCycle& Measures() const { return static_cast<MeasuresCycle&>(Cycle()); }

signals:
    // A tick decoded the last block: all six requests of a cycle were answered.
    void CycleCompleted();

protected:
    void SetUpGrid() override;

private:
    QPushButton* readData_;
    QPushButton* clearEnergy_;
    QComboBox* ctAddress_;
    QLineEdit* circuit_;
    QLabel* ctLabel_;
    int ctAddressSel_ = 1;
    int circuitNumber_ = 1;
};
