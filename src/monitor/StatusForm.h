#pragma once
// View 148: the two digital inputs and the two relays as lamps, polled alternately every
// 500 ms, and "测试", which sends both relay settings chosen with the "分"/"合" boxes.

#include <QTimer>
#include <array>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "monitor/InputRelayCycle.h"

class CLamp;
class QCheckBox;
class QPushButton;

class CStatusForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = 148;
    static constexpr int kTestId = 1025;
    static constexpr int kFirstLampId = 1019;  // DI1, DI2, DO1, DO2
    static constexpr int kLegendOnId = 1027;
    static constexpr int kLegendOffId = 1028;
    static constexpr int kRelay1BoxId = 1023;
    static constexpr int kRelay2BoxId = 1024;

    CStatusForm(FormContext& ctx, QWidget* parent = nullptr);
    ~CStatusForm() override;

    void OnInitialUpdate() override;
    // One timer shot (tests call it with the time passed on their clock).
    void OnTimer();
    void OnRelayBoxClicked(int relay);
    void OnTest();

    bool TimerActive() const { return timer_.isActive(); }
    int TimerIntervalMs() const { return timer_.interval(); }
    CLamp* Lamp(int lamp) const { return lamps_[static_cast<std::size_t>(lamp)]; }
    CLamp* LegendOn() const { return legendOn_; }
    CLamp* LegendOff() const { return legendOff_; }
    QCheckBox* RelayBox(int relay) const { return boxes_[static_cast<std::size_t>(relay)]; }
    QPushButton* TestButton() const { return test_; }
    InputRelayCycle& Status() { return cycle_; }

private:
    void ShowLamps();

    InputRelayCycle cycle_;
    QTimer timer_;
    std::array<CLamp*, InputRelayCycle::kLamps> lamps_{};
    CLamp* legendOn_;
    CLamp* legendOff_;
    std::array<QCheckBox*, 2> boxes_{};
    std::array<int, 2> relayClosed_{};
    QPushButton* test_;
};
