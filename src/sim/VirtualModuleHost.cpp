#include "sim/VirtualModuleHost.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "link/NetworkPort.h"
#include "link/PortAddress.h"
#include "link/PortList.h"
#include "link/SerialPort.h"
#include "sim/StandardSource.h"
#include "sim/VirtualBus.h"

CNetworkPort& TheNetworkPort() {
    static CNetworkPort port;
    return port;
}

std::string LinkOpenFailureText(const CSerialPort& serial, const std::string& name) {
    return IsNetworkAddress(name) ? TheNetworkPort().OpenFailureText() : serial.OpenFailureText();
}

namespace {
// A network address opens the network port and leaves the serial port closed (and the other
// way round), so one link never holds both; nothing when `name` is not a network address.
std::optional<bool> OpenNetworkPort(CSerialPort& serial, const std::string& name, int baud, int dataBits,
                                    int parity, int stopBits) {
    if (!IsNetworkAddress(name)) {
        TheNetworkPort().Close();
        return std::nullopt;
    }
    serial.Close();
    return TheNetworkPort().Open(name, baud, dataBits, parity, stopBits);
}
}  // namespace

#if defined(_WIN32)
#include "link/Clock.h"
#include "sim/SimPort.h"
#include "sim/VirtualBus.h"

namespace {

struct MemoryModule {
    MemoryModule(int address, int baud) {
        bus.AddModule(address, VirtualModule::BaudIndexOf(baud).value_or(1));
    }
    RealClock clock;
    VirtualBus bus{clock};
    SimPort port{bus, clock};
};

// The built-in module's SimPort behind a lock, so that Ctrl-C's Close from the console's
// thread is safe; its calls never wait, so the lock is never held for long. The module is
// made by the first Open, at that connection's address.
class MemoryLinkPort final : public CCommPort {
public:
    bool Open(int address, int baud) {
        const std::lock_guard lock(mutex_);
        // Outside 1..247 nobody could be addressed; the module then sits at 1.
        if (!module_)
            module_ = std::make_unique<MemoryModule>(address >= 1 && address <= 247 ? address : 1, baud);
        return module_->port.Open(baud);
    }
    void Stop() {
        const std::lock_guard lock(mutex_);
        module_.reset();
    }
    bool WithBus(const std::function<void(VirtualBus&)>& f) {
        const std::lock_guard lock(mutex_);
        if (!module_) return false;
        f(module_->bus);
        return true;
    }
    void Close() override {
        const std::lock_guard lock(mutex_);
        if (module_) module_->port.Close();
    }
    bool IsOpen() const override {
        const std::lock_guard lock(mutex_);
        return module_ && module_->port.IsOpen();
    }
    int Write(std::span<const std::uint8_t> data) override {
        const std::lock_guard lock(mutex_);
        return module_ ? module_->port.Write(data) : 0;
    }
    int Read(std::span<std::uint8_t> buf) override {
        const std::lock_guard lock(mutex_);
        if (module_) return module_->port.Read(buf);
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        return 0;
    }

private:
    mutable std::mutex mutex_;
    std::unique_ptr<MemoryModule> module_;
};

MemoryLinkPort& TheMemoryPort() {
    static MemoryLinkPort port;
    return port;
}

}  // namespace

std::string VirtualModulePortPath(int, int) {
    return {};
}  // no pseudo-terminal to name

void StopVirtualModule() {
    TheMemoryPort().Stop();
}

// In memory there is no terminal to tell modules apart by: the one module is meant.
bool WithBuiltInBus(const std::string&, const std::function<void(VirtualBus&)>& f) {
    return TheMemoryPort().WithBus(f);
}

bool OpenLinkPort(CSerialPort& port, const std::string& name, int baud, int dataBits, int parity,
                  int stopBits, int address) {
    if (const auto network = OpenNetworkPort(port, name, baud, dataBits, parity, stopBits)) return *network;
    if (name != kVirtualModuleName) return port.Open(name, baud, dataBits, parity, stopBits);
    return TheMemoryPort().Open(address, baud);
}

namespace {
// The bus behind the link's port: in memory, only the built-in module's own port leads there.
bool WithLinkedBus(const CCommPort* linkPort, const std::function<void(VirtualBus&)>& f) {
    return linkPort == &TheMemoryPort() && linkPort->IsOpen() && TheMemoryPort().WithBus(f);
}
}  // namespace

CCommPort& LinkPortFor(CSerialPort& serial, const std::string& name) {
    if (IsNetworkAddress(name)) return TheNetworkPort();
    if (name != kVirtualModuleName) return serial;
    return TheMemoryPort();
}

#else
#include "sim/EmbeddedSim.h"

namespace {
std::mutex& SimMutex() {
    static std::mutex m;
    return m;
}
std::unique_ptr<EmbeddedSim>& Sim() {
    static std::unique_ptr<EmbeddedSim> sim;
    return sim;
}
}  // namespace

std::string VirtualModulePortPath(int address, int baud) {
    const std::lock_guard lock(SimMutex());
    auto& sim = Sim();
    if (!sim) {
        // Outside 1..247 nobody could be addressed; the module then sits at 1.
        auto fresh = std::make_unique<EmbeddedSim>(address >= 1 && address <= 247 ? address : 1, baud);
        if (!fresh->Start()) return {};
        sim = std::move(fresh);
    }
    return sim->PortPath();
}

bool WithBuiltInBus(const std::string& portPath, const std::function<void(VirtualBus&)>& f) {
    const std::lock_guard lock(SimMutex());
    auto& sim = Sim();
    if (!sim || portPath.empty() || sim->PortPath() != portPath) return false;
    f(sim->Bus());
    return true;
}

void StopVirtualModule() {
    const std::lock_guard lock(SimMutex());
    if (Sim()) {
        Sim()->Stop();
        Sim().reset();
    }
}

bool OpenLinkPort(CSerialPort& port, const std::string& name, int baud, int dataBits, int parity,
                  int stopBits, int address) {
    if (const auto network = OpenNetworkPort(port, name, baud, dataBits, parity, stopBits)) return *network;
    if (name != kVirtualModuleName) return port.Open(name, baud, dataBits, parity, stopBits);
    const std::string path = VirtualModulePortPath(address, baud);
    return !path.empty() && port.Open(path, baud, dataBits, parity, stopBits);
}

CCommPort& LinkPortFor(CSerialPort& serial, const std::string& name) {
    if (IsNetworkAddress(name)) return TheNetworkPort();
    return serial;
}

namespace {
// The bus behind the link's port: the serial port open on the built-in module's pty.
bool WithLinkedBus(const CCommPort* linkPort, const std::function<void(VirtualBus&)>& f) {
    const auto* serial = dynamic_cast<const CSerialPort*>(linkPort);
    return serial != nullptr && serial->IsOpen() && WithBuiltInBus(serial->Name(), f);
}
}  // namespace
#endif

bool ConnectBuiltInSource(const CCommPort* linkPort, int address, const StandardSource& source) {
    bool connected = false;
    WithLinkedBus(linkPort, [&](VirtualBus& bus) {
        connected = bus.WithModule(address, [&source](VirtualModule& m) { m.Bench().Connect(source); });
    });
    return connected;
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
