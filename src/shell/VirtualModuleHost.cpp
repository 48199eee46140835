#include "shell/VirtualModuleHost.h"

#include <memory>
#include <vector>

#include "link/PortList.h"

#if __has_include("sim/EmbeddedSim.h")
#include "sim/EmbeddedSim.h"
#define KVT40_HAVE_EMBEDDED_SIM 1
#endif

namespace {
#ifdef KVT40_HAVE_EMBEDDED_SIM
std::unique_ptr<EmbeddedSim>& Sim() {
    static std::unique_ptr<EmbeddedSim> sim;
    return sim;
}
#endif
}  // namespace

bool VirtualModuleAvailable() {
#ifdef KVT40_HAVE_EMBEDDED_SIM
    return true;
#else
    return false;
#endif
}

std::string VirtualModulePortPath() {
#ifdef KVT40_HAVE_EMBEDDED_SIM
    auto& sim = Sim();
    if (!sim) {
        auto fresh = std::make_unique<EmbeddedSim>();
        if (!fresh->Start()) return {};
        sim = std::move(fresh);
    }
    return sim->PortPath();
#else
    return {};
#endif
}

void StopVirtualModule() {
#ifdef KVT40_HAVE_EMBEDDED_SIM
    if (Sim()) {
        Sim()->Stop();
        Sim().reset();
    }
#endif
}

void RegisterVirtualModulePort() {
    if (!VirtualModuleAvailable()) return;
    // The provider's entries come first in ListPorts(); with a real adapter present the
    // virtual module would push it off the first place, so only offer it first when alone.
    SetExtraPortProvider([] {
        std::vector<std::string> extra;
        if (ListSerialPorts().empty()) extra.emplace_back(kVirtualModuleName);
        return extra;
    });
}
