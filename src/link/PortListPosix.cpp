#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "link/PortList.h"

namespace fs = std::filesystem;

namespace {

// The kernel makes ttyS0..ttyS31 whether or not a UART sits behind them; a real one has a
// driver bound to its device, the placeholders are claimed only by the generic serial8250
// platform device with no port (their `type` reads 0).
bool IsRealUart(const fs::path& sysTty) {
    std::error_code ec;
    if (!fs::exists(sysTty / "device" / "driver", ec)) return false;
    std::FILE* f = std::fopen((sysTty / "type").c_str(), "r");
    if (f == nullptr) return true;
    int type = -1;
    const int read = std::fscanf(f, "%d", &type);
    std::fclose(f);
    return read != 1 || type != 0;
}

std::vector<std::string> Matching(const fs::path& dir, const std::string& prefix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size()) out.push_back(name);
    }
    std::sort(out.begin(), out.end(), NaturalLess);
    return out;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& devRoot) {
    const fs::path dev(devRoot);
    // A fake tree for tests carries its own sys/ beside dev/.
    const fs::path sys = devRoot == "/dev" ? fs::path("/sys/class/tty") : dev.parent_path() / "sys/class/tty";
    std::vector<std::string> ports;
    for (const auto& name : Matching(dev, "ttyS")) {
        if (IsRealUart(sys / name)) ports.push_back((dev / name).string());
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const auto& name : Matching(dev, prefix)) ports.push_back((dev / name).string());
    }
    for (const auto& name : Matching(dev / "serial" / "by-id", "")) {
        ports.push_back((dev / "serial" / "by-id" / name).string());
    }
    return ports;
}
