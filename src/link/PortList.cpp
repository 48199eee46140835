#include "link/PortList.h"

#include <mutex>
#include <utility>

namespace {
std::mutex g_mutex;
PortListProvider g_extra;
}  // namespace

std::vector<std::string> ListSerialPorts(const std::string&) { return {}; }

void SetExtraPortProvider(PortListProvider provider) {
    const std::lock_guard lock(g_mutex);
    g_extra = std::move(provider);
}

std::vector<std::string> ListPorts() {
    std::vector<std::string> ports;
    {
        const std::lock_guard lock(g_mutex);
        if (g_extra) ports = g_extra();
    }
    for (auto& p : ListSerialPorts()) ports.push_back(std::move(p));
    return ports;
}
