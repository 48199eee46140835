#pragma once
// Everything one run of a program keeps from start to end: the protocol, the port, the
// link monitor, the link pointed at them, the bootloader's text, what the update form and its workers share,
// the gains a calibration keeps, the io view's poll phase and the program's clocks. Each
// program's main owns one and hands it down (FormContext, CliEnv); tests build their own.
//
// Members are built in the order written (protocol, port, monitor, link, update log, the rest) and
// destroyed in reverse, so the link never outlives what it points at and the port closes
// when the run ends.
//
//     RunState run;
//     CMainFrame frame(FormContext{run, run.link, run.clock, sink, run.wall});

#include "calibration/CalibrationMemory.h"
#include "link/Clock.h"
#include "link/LinkMonitor.h"
#include "link/LinkState.h"
#include "link/ModbusRtu.h"
#include "link/SerialPort.h"
#include "link/UpdateLog.h"
#include "link/WallClock.h"
#include "update/UpdateShared.h"

class RunState {
public:
    RunState() = default;
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    CModbusRtu protocol;
    CSerialPort port;
    // Every frame of the run and how each exchange ended (the traffic window, --trace, --stats).
    LinkMonitor monitor;
    // Starts on the run's protocol and port; a connect changes the settings, never the owner.
    LinkState link{.protocol = &protocol, .port = &port, .monitor = &monitor};
    UpdateLog updateLog;
    UpdateShared update;
    CalibrationMemory calibration;
    // The io view asks for relays and inputs in turn; a view opened again goes on where the
    // last one stopped. The first tick ever flips it to 0.
    int statusPollPhase = 1;
    RealClock clock;
    SystemWallClock wall;
};
