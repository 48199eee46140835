#pragma once
// The cycle tests' fixture: a module that answers reads from a register map at once, and a
// link to it, on a virtual clock.

#include "link/LinkState.h"
#include "link/ModbusRtu.h"
#include "support/ScriptedPort.h"

struct ScriptedLink {
    ScriptedLink() {
        module.Open();
        module.answerReads = true;
        link.protocol = &rtu;
        link.port = &module;
    }
    CModbusRtu rtu;
    VirtualClock clock;
    ScriptedPort module{clock};
    LinkState link;
};
