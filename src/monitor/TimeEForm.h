#pragma once
// View 140, "Three-phase circuit": the totals of ten circuits, read once at opening and on
// each "Read data"; the 600 ms timer only collects. The cells stay editable: a typed text
// stands until the next reading replaces it.

#include <QSet>
#include <utility>

#include "formkit/PollingForm.h"
#include "monitor/CircuitTotalsCycle.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CTimeEForm : public CPollingForm {
    Q_OBJECT
public:
    static constexpr int kFormId = 140;
    static constexpr int kClearEnergyId = 1004;
    static constexpr int kReadCtId = 1086;
    static constexpr int kCtListId = 1085;
    static constexpr int kCircuitId = 1091;

    CTimeEForm(FormContext& ctx, QWidget* parent = nullptr);

    void OnReadData();
    // The hidden buttons' handlers (built and wired; nothing shows them).
    void OnClearEnergy();
    void OnReadCtModules();

    QPushButton* ReadDataButton() const { return readData_; }
    QPushButton* ClearEnergyButton() const { return clearEnergy_; }
    QPushButton* ReadCtButton() const { return readCt_; }
    QComboBox* CtList() const { return ctList_; }
    QLineEdit* CircuitEdit() const { return circuit_; }
    CircuitTotalsCycle& Totals() const { return static_cast<CircuitTotalsCycle&>(Cycle()); }

protected:
    void SetUpGrid() override;

private:
    void TakeControls();
    void RepaintTyped();

    QPushButton* readData_;
    QPushButton* clearEnergy_;
    QPushButton* readCt_;
    QComboBox* ctList_;
    QLineEdit* circuit_;
    QLabel* ctLabel_;
    int ctSelection_ = -1;
    int circuitNumber_ = 1;
    int readings_ = 0;
    QSet<std::pair<int, int>> typed_;
};
