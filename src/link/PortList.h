#pragma once
// The serial devices of this machine, each a name CSerialPort::Open accepts.

#include <functional>
#include <string>
#include <vector>

// Real UARTs among /dev/ttyS*, then /dev/ttyUSB*, /dev/ttyACM* and /dev/serial/by-id/*.
// devRoot lets tests point it at a fake tree.
std::vector<std::string> ListSerialPorts(const std::string& devRoot = "/dev");

// Extra entries offered before or after the devices (the virtual module registers one).
using PortListProvider = std::function<std::vector<std::string>()>;
void SetExtraPortProvider(PortListProvider provider);
// The devices plus the extra entries: the list the Connect dialog and `kvt40ctl ports` show.
std::vector<std::string> ListPorts();
