#include "link/PortList.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

namespace {
std::mutex g_mutex;
PortListProvider g_extra;

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ie = i;
            std::size_t je = j;
            while (ie < a.size() && IsDigit(a[ie])) ++ie;
            while (je < b.size() && IsDigit(b[je])) ++je;
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

std::vector<std::string> ComPortNames(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (std::string n : names) {
        std::transform(n.begin(), n.end(), n.begin(),
                       [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
        // COM0 and leading zeros name no port; CreateFile would not find them by that text.
        const bool com = n.size() > 3 && n.compare(0, 3, "COM") == 0 && n[3] != '0' &&
                         std::all_of(n.begin() + 3, n.end(), IsDigit);
        if (com && std::find(out.begin(), out.end(), n) == out.end()) out.push_back(std::move(n));
    }
    std::sort(out.begin(), out.end(), NaturalLess);
    return out;
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
