#include "link/PortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
PortListProvider g_extra;

// ttyUSB2 before ttyUSB10: compare digit runs by value.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ie = i;
            std::size_t je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            const std::string da = a.substr(i, ie - i);
            const std::string db = b.substr(j, je - j);
            if (da.size() != db.size()) return da.size() < db.size();
            if (da != db) return da < db;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

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
