#pragma once
// View 101, "Single-phase": the line and the 30 outlets, refreshed by MeasuresCycle on a
// 600 ms timer. The form only places the cycle's texts; all decoding lives in the cycle.

#include <QTimer>
#include <QWidget>

#include "monitor/MeasuresCycle.h"

class CGridCtrl;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CMeasuresForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFormId = 101;
    inline static const QColor kCellColour{255, 255, 213};

    CMeasuresForm(LinkState& link, Clock& clock, MessageSink& sink, QWidget* parent = nullptr);

    // Grid set-up, the first request and the timer.
    void OnInitialUpdate();
    // One polling step (what the timer runs).
    void OnTimer();
    void OnReadData();
    void OnClearEnergy();

    bool TimerActive() const { return timer_.isActive(); }
    int TimerIntervalMs() const { return timer_.interval(); }
    CGridCtrl& Grid() { return *grid_; }
    QPushButton* ReadDataButton() const { return readData_; }
    QPushButton* ClearEnergyButton() const { return clearEnergy_; }
    const MeasuresCycle& Cycle() const { return cycle_; }

signals:
    // A tick decoded the last block: all six requests of a cycle were answered.
    void CycleCompleted();

private:
    void ShowCells();

    MeasuresCycle cycle_;
    MessageSink& sink_;
    QTimer timer_;
    CGridCtrl* grid_;
    QPushButton* readData_;
    QPushButton* clearEnergy_;
    QComboBox* ctAddress_;
    QLineEdit* circuit_;
    QLabel* ctLabel_;
    int ctAddressSel_ = 1;
    int circuitNumber_ = 1;
};
