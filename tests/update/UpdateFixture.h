#pragma once
// What the update tests share: image files in the test's temporary folder (removed with the
// fixture), and a bus of virtual modules on the virtual clock behind the in-memory port.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "link/LinkState.h"
#include "link/UpdateLog.h"
#include "run/RunState.h"
#include "sim/Bootloader.h"
#include "sim/SimPort.h"
#include "update/UpdateSequences.h"

// Image files that exist for the life of the object.
class ImageFiles {
public:
    ImageFiles() = default;
    ImageFiles(const ImageFiles&) = delete;
    ImageFiles& operator=(const ImageFiles&) = delete;
    ~ImageFiles() {
        for (const auto& p : paths_) (void)::unlink(p.c_str());
    }
    std::string Write(const std::vector<std::uint8_t>& bytes, const std::string& stem = "fw") {
        const std::string path = ::testing::TempDir() + "kvt40-" + std::to_string(::getpid()) + "-" + stem +
                                 "-" + std::to_string(paths_.size()) + ".bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        paths_.push_back(path);
        return path;
    }

private:
    std::vector<std::string> paths_;
};

// An image of n bytes counting up, with a version tag the virtual module takes.
inline std::vector<std::uint8_t> TaggedImage(std::size_t n, const std::string& tag = "VER=105") {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 13 + 1);
    if (n > 64 + tag.size()) std::copy(tag.begin(), tag.end(), v.begin() + 64);
    return v;
}

template <typename ClockType>
struct BusRig {
    ClockType clock;
    VirtualBus bus{clock};
    SimPort port{bus, clock};
    RunState run;
    LinkState& link = run.link;
    UpdateLog log;
    std::atomic<std::uint32_t> progress{0};
    UpdateSequences sequences{link, clock, progress};

    explicit BusRig(std::initializer_list<int> addresses, int baud = 9600) {
        for (int a : addresses) bus.AddModule(a, *VirtualModule::BaudIndexOf(baud));
        port.Open(baud);
        link.port = &port;
        link.baudIndex = BaudIndexOf(baud);
    }
    // Runs f on the bootloader of the module at address (locked).
    template <typename F>
    void Loader(int address, F f) {
        bus.WithModule(address, [&](VirtualModule& m) { f(*BootloaderOf(m), m); });
    }
    void Faults(int address, const Bootloader::Faults& faults) {
        Loader(address, [&](Bootloader& b, VirtualModule&) { b.SetFaults(faults); });
    }
    // Frames written since the port opened whose first byte is b (SOH: headers and closing blocks).
    std::size_t SentStartingWith(std::uint8_t b) const {
        std::size_t n = 0;
        for (const auto& f : port.Sent())
            if (!f.empty() && f[0] == b) ++n;
        return n;
    }
};
