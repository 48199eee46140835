#pragma once
// The tool's built-in virtual module: one module on its own bus, served on a pseudo-terminal
// on the real clock, so the application connects to it through the real serial port exactly
// as it would to an adapter.
//
// Usage:
//     EmbeddedSim sim(1, 9600);         // module at address 1, 9600 bd (the defaults)
//     if (sim.Start()) port.Open(sim.PortPath(), 9600, 8, 0, 0);
//     ...
//     sim.Stop();                       // or let the destructor do it

#include <string>

#include "link/Clock.h"
#include "sim/PtyBusServer.h"
#include "sim/VirtualBus.h"

class EmbeddedSim {
public:
    // baud: the module's rate, 4800, 9600 or 19200; any other is taken as 9600.
    explicit EmbeddedSim(int address = 1, int baud = 9600);
    ~EmbeddedSim();
    EmbeddedSim(const EmbeddedSim&) = delete;
    EmbeddedSim& operator=(const EmbeddedSim&) = delete;

    // Starts serving; false when no pseudo-terminal can be made (or it already runs).
    bool Start();
    // The path to open (/dev/pts/N) while running; empty otherwise.
    std::string PortPath() const;
    void Stop();
    bool Running() const { return server_.Running(); }
    // The bus, for set-up and faults (it locks; safe while serving).
    VirtualBus& Bus() { return bus_; }
    // The server, for its counters.
    const PtyBusServer& Server() const { return server_; }

private:
    RealClock clock_;
    VirtualBus bus_;
    PtyBusServer server_;
};
