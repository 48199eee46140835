#pragma once
// The virtual module offered in the port list: choosing it starts a simulated bus inside
// the tool on a pseudo-terminal, and the real serial port connects to that terminal.

#include <string>

inline constexpr const char* kVirtualModuleName = "Virtual module";

// Whether the simulated bus can be offered (always, in this build).
bool VirtualModuleAvailable();
// Starts the simulated bus once (later calls reuse it); the pty path, empty on failure.
std::string VirtualModulePortPath();
// Stops the simulated bus (at exit).
void StopVirtualModule();
// Registers the entry with the port list: first when the machine has no serial adapter,
// last otherwise.
void RegisterVirtualModulePort();
