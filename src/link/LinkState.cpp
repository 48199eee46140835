#include "link/LinkState.h"

#include "link/SerialPort.h"

int BaudRateOf(int baudIndex) {
    switch (baudIndex) {
    case 0: return 4800;
    case 2: return 19200;
    default: return 9600;
    }
}

int BaudIndexOf(int baud) {
    switch (baud) {
    case 4800: return 0;
    case 9600: return 1;
    case 19200: return 2;
    default: return -1;
    }
}

CModbusRtu& TheModbusRtu() {
    static CModbusRtu rtu;
    return rtu;
}

CSerialPort& TheSerialPort() {
    static CSerialPort port;
    return port;
}

namespace {
LinkState MakeStartState() {
    LinkState s;
    s.protocol = &TheModbusRtu();
    s.port = &TheSerialPort();
    return s;
}
}  // namespace

LinkState& TheLink() {
    static LinkState state = MakeStartState();
    return state;
}

void ResetTheLink() { TheLink() = MakeStartState(); }
