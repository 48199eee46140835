#pragma once
// A run on the in-memory bus: a virtual clock, the bus with one module, the SimPort in
// front of it and the test's own RunState, whose link talks through that port.
//
//     class MyTest : public ::testing::Test, protected SimLink {};
//     ModbusSession(link, clock).ReadRegisters(0, 10, 200);  // module 1 answers

#include "run/RunState.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"

class SimLink {
public:
    enum class PortAtStart { Open, Closed };

    explicit SimLink(int address = 1, PortAtStart at = PortAtStart::Open) {
        bus.AddModule(address);
        if (at == PortAtStart::Open) port.Open(9600);
        link.port = &port;
    }

    VirtualClock clock;
    VirtualBus bus{clock};
    SimPort port{bus, clock};
    RunState run;
    LinkState& link = run.link;
};
