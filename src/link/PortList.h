#pragma once
// The serial devices of this machine, each a name CSerialPort::Open accepts.

#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
// The COM ports of the registry's SERIALCOMM key and of the DOS device names (a driver
// that does not register, and Wine's mapped ports, show only there), in ComPortNames' order.
std::vector<std::string> ListSerialPorts();
#else
// Real UARTs among /dev/ttyS*, then /dev/ttyUSB*, /dev/ttyACM* and /dev/serial/by-id/*.
// devRoot lets tests point it at a fake tree.
std::vector<std::string> ListSerialPorts(const std::string& devRoot = "/dev");
#endif

// ttyUSB2 before ttyUSB10: digit runs compare by value.
bool NaturalLess(const std::string& a, const std::string& b);
// The names that are COM ports ("COM" and a number, any case), upper-cased, each once, in
// natural order: COM2 before COM10.
std::vector<std::string> ComPortNames(const std::vector<std::string>& names);

// Extra entries offered before or after the devices (the virtual module registers one).
using PortListProvider = std::function<std::vector<std::string>()>;
void SetExtraPortProvider(PortListProvider provider);
// The devices plus the extra entries: the list the Connect dialog and `kvt40ctl ports` show.
std::vector<std::string> ListPorts();
