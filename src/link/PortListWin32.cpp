#include <windows.h>

#include <cstring>

#include "link/PortList.h"

namespace {

// The data of each value under SERIALCOMM is a port name ("COM3"); values that fail to read
// are skipped.
void AddRegistryPorts(std::vector<std::string>& names) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    DWORD count = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS) {
        for (DWORD i = 0; i < count; ++i) {
            char valueName[256];
            DWORD nameLength = sizeof valueName;
            BYTE data[256] = {};
            DWORD dataLength = sizeof data - 1;  // room for a terminator the registry may not store
            DWORD type = 0;
            if (RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, data, &dataLength) !=
                    ERROR_SUCCESS ||
                type != REG_SZ)
                continue;
            const char* text = reinterpret_cast<const char*>(data);
            names.emplace_back(text, strnlen(text, dataLength));
        }
    }
    RegCloseKey(key);
}

void AddDosDevicePorts(std::vector<std::string>& names) {
    std::vector<char> buf(64 * 1024);
    DWORD n = 0;
    while ((n = QueryDosDeviceA(nullptr, buf.data(), static_cast<DWORD>(buf.size()))) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buf.size() >= (16u << 20)) return;
        buf.resize(buf.size() * 2);
    }
    // A list of zero-terminated names, ended by an empty one.
    for (std::size_t i = 0; i < n && buf[i] != '\0';) {
        const std::size_t len = strnlen(buf.data() + i, n - i);
        names.emplace_back(buf.data() + i, len);
        i += len + 1;
    }
}

}  // namespace

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> names;
    AddRegistryPorts(names);
    AddDosDevicePorts(names);
    return ComPortNames(names);
}
