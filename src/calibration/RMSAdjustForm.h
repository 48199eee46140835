#pragma once
// View 164, "仪表校准": calibration and accuracy test of one circuit or of the incoming line
// against a standard source. The rules live in CalibrationCycle; the form places its table,
// mirrors its buttons, runs its 800 ms timer and opens the side dialogs.

#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "calibration/CalibrationCycle.h"
#include "calibration/ReportWriter.h"
#include "formkit/FormContext.h"
#include "formkit/FormView.h"

class CGridCtrl;
class QButtonGroup;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CRMSAdjustForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = adjust::kFormId;

    explicit CRMSAdjustForm(FormContext& ctx, QWidget* parent = nullptr);
    ~CRMSAdjustForm() override;

    // Showing the form: the circuit view, the action buttons off.
    void OnInitialUpdate() override;
    // One shot of timer 1 (tests call it with the time passed on their clock).
    void OnTimer();

    void OnIncomingLine();
    void OnOutgoingLine();
    void OnReadCtModules();
    void OnStartRun(AdjustMode mode);
    void OnStop();
    void OnRestoreDefaults();
    void OnStdSource();
    void OnTestReport();
    void OnDeadZone();
    void OnHelp();

    // How a modal dialog is run (exec by default; tests fill and accept it themselves).
    using DialogRunner = std::function<bool(QDialog&)>;
    void SetDialogRunner(DialogRunner runner) { runner_ = std::move(runner); }
    // Where the report goes: the save-file dialog by default; an empty name cancels.
    using FileChooser = std::function<QString(const QString& suggested)>;
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    QPushButton* Button(int id) const;
    QRadioButton* Radio(int id) const;
    QComboBox* CircuitList() const { return circuits_; }
    QLineEdit* CtRatioEdit() const { return ctRatio_; }
    CGridCtrl& Grid() const { return *grid_; }
    bool TimerActive() const { return timer_.isActive(); }
    int TimerIntervalMs() const { return timer_.interval(); }
    CalibrationCycle& Cycle() { return cycle_; }
    const ReportSettings& Report() const { return report_; }

private:
    void Build();
    void SetUpGrid();
    // The control values into the cycle (the CT ratio only when it is a number) and back.
    void PullControls();
    void PushControls();
    // Buttons, circuit list, timer and changed cells as the cycle has them now.
    void Sync();
    void Paint();
    bool RunDialog(QDialog& dlg);
    QString ChooseFile(const QString& suggested);

    FormContext& ctx_;
    CalibrationCycle cycle_;
    QTimer timer_;
    int timerStarts_ = 0;
    bool ticking_ = false;
    CGridCtrl* grid_ = nullptr;
    std::map<int, QPushButton*> buttons_;
    std::map<int, QRadioButton*> radios_;
    QButtonGroup* voltageSteps_ = nullptr;
    QButtonGroup* currentSteps_ = nullptr;
    QButtonGroup* pfSteps_ = nullptr;
    QComboBox* circuits_ = nullptr;
    QLineEdit* ctRatio_ = nullptr;
    QComboBox* currentClass_ = nullptr;
    QLineEdit* hiddenNumber_ = nullptr;
    std::vector<int> listed_;
    ReportSettings report_;
    DialogRunner runner_;
    FileChooser chooser_;
};
