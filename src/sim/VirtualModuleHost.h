#pragma once
// "Virtual module", the port name that stands for the built-in virtual module: a simulated
// bus started inside the program on a pseudo-terminal and reached through the real serial
// port. The Connect dialog, kvt40 --sim and kvt40ctl --sim all resolve the name here.
//
//     OpenLinkPort(run.port, "Virtual module", 9600, 8, 0, 0, /*address*/ 5);
//
// The module is created once, at the address and baud rate of the first connection; later
// connections reach the same module (which may have been re-addressed since).

#include <functional>
#include <string>

class CCommPort;
class CNetworkPort;
class CSerialPort;
class VirtualBus;
struct StandardSource;

inline constexpr const char* kVirtualModuleName = "Virtual module";

// Starts the built-in module once (later calls reuse it); the pty path, empty on failure.
std::string VirtualModulePortPath(int address = 1, int baud = 9600);
// Runs `f` on the built-in module's bus while it runs and `portPath` is the pty it is
// served on; false (f not called) otherwise. Never starts the module.
bool WithBuiltInBus(const std::string& portPath, const std::function<void(VirtualBus&)>& f);
// Connects the built-in module's bench to `source` when `linkPort` is the port a link
// reaches it through (its pty on a CSerialPort, or its in-memory port) and a module sits
// at `address`; false (nothing changes) otherwise. The virtual bench's follower of each
// program calls this.
bool ConnectBuiltInSource(const CCommPort* linkPort, int address, const StandardSource& source);
// Stops the built-in module (at exit).
void StopVirtualModule();
// Opens `name` on `port` as CSerialPort::Open does, "Virtual module" being resolved first.
// A network address ("tcp://HOST:PORT", "rfc2217://HOST:PORT") opens TheNetworkPort() instead
// and closes `port`; a serial name closes the network port.
bool OpenLinkPort(CSerialPort& port, const std::string& name, int baud, int dataBits, int parity,
                  int stopBits, int address);
// The port the link talks through once OpenLinkPort opened `name`: `serial` itself, except
// for a network address (TheNetworkPort()) and for "Virtual module" on Windows, which has no
// pseudo-terminal: there the module is served in memory (an in-memory port on a bus on the
// real clock; Close from any thread).
CCommPort& LinkPortFor(CSerialPort& serial, const std::string& name);
// The run's network port, which a network address opens (see OpenLinkPort).
CNetworkPort& TheNetworkPort();
// Why the last OpenLinkPort of `name` failed, in one line: the network port's reason for a
// network address, `serial`'s otherwise.
std::string LinkOpenFailureText(const CSerialPort& serial, const std::string& name);
// Registers the entry with the port list: first when the machine has no serial adapter,
// last otherwise.
void RegisterVirtualModulePort();
