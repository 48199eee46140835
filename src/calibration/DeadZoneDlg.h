#pragma once
// "死区设置" (template 173): the dead-zone grid with 读取, 设置 and 退出. It reads once when it
// opens; the set-value cells take numbers only.

#include <QDialog>

#include "calibration/DeadZone.h"

class CGridCtrl;
class QPushButton;

class CDeadZoneDlg : public QDialog {
    Q_OBJECT
public:
    CDeadZoneDlg(LinkState& link, Clock& clock, MessageSink& sink, QWidget* parent = nullptr);

    void OnRead();
    void OnSet();

    CGridCtrl& Grid() const { return *grid_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* SetButton() const { return set_; }
    const DeadZone& Zones() const { return zones_; }

private:
    void Paint();

    DeadZone zones_;
    MessageSink& sink_;
    CGridCtrl* grid_;
    QPushButton* read_;
    QPushButton* set_;
};
