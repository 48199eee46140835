#pragma once
// A bus with module 1 on a virtual clock and one exchange helper, shared by the sim tests.

#include <vector>

#include "link/LinkState.h"
#include "sim/SimPort.h"

struct SimHarness {
    VirtualClock clock;
    VirtualBus bus{clock};
    SimPort port{bus, clock};

    SimHarness() {
        bus.AddModule(1);
        port.Open(9600);
    }
    // Writes the frame, waits `waitMs` on the virtual clock and returns what arrived.
    std::vector<std::uint8_t> Exchange(std::span<const std::uint8_t> req, int waitMs = 200) {
        port.Write(req);
        clock.sleep(waitMs);
        std::vector<std::uint8_t> rx(300);
        rx.resize(static_cast<std::size_t>(port.Read(rx)));
        return rx;
    }
    // A reply still arriving after waitMs is collected by the Read, as on the serial port.
    std::vector<std::uint8_t> Read(int addr, int start, int count, int waitMs = 200) {
        std::uint8_t req[8];
        CModbusRtu().BuildReadRegisters(req, addr, start, count);
        return Exchange(req, waitMs);
    }
    std::vector<std::uint8_t> Write(int addr, int start, std::vector<std::int32_t> values, int waitMs = 200) {
        std::vector<std::uint8_t> req(9 + 2 * values.size());
        CModbusRtu().BuildWriteRegisters(req, addr, start, static_cast<int>(values.size()), values);
        return Exchange(req, waitMs);
    }
    // Registers of a good function-03 reply; empty when the check fails.
    std::vector<std::int32_t> Regs(int addr, int start, int count, int waitMs = 200) {
        auto rx = Read(addr, start, count, waitMs);
        std::vector<std::int32_t> regs(128);
        rx.resize(300);
        if (!CModbusRtu().CheckReadRegistersReply(rx, regs)) return {};
        regs.resize(static_cast<std::size_t>(count));
        return regs;
    }
};
