#include "shell/VirtualModuleHost.h"

#include <memory>
#include <vector>

#include "link/PortList.h"
#include "sim/EmbeddedSim.h"

namespace {
std::unique_ptr<EmbeddedSim>& Sim() {
    static std::unique_ptr<EmbeddedSim> sim;
    return sim;
}
}  // namespace

bool VirtualModuleAvailable() { return true; }

std::string VirtualModulePortPath() {
    auto& sim = Sim();
    if (!sim) {
        auto fresh = std::make_unique<EmbeddedSim>();
        if (!fresh->Start()) return {};
        sim = std::move(fresh);
    }
    return sim->PortPath();
}

void StopVirtualModule() {
    if (Sim()) {
        Sim()->Stop();
        Sim().reset();
    }
}

void RegisterVirtualModulePort() {
    // ListPorts() puts these entries before the devices, so the virtual module is only
    // offered there when the machine has no adapter; otherwise the dialog appends it.
    SetExtraPortProvider([] {
        std::vector<std::string> extra;
        if (ListSerialPorts().empty()) extra.emplace_back(kVirtualModuleName);
        return extra;
    });
}
