#pragma once
// What a command has written to the module, told when it is interrupted: the port of the
// command's link, passing every call through to the real one and noting each request that
// changes a module (register and coil writes, the update's handshake, keys and blocks).
// Reads are not noted.
//
//     WriteRecorder rec;
//     rec.Wrap(env.port);
//     link.port = &rec;
//     ...
//     err << "kvt40ctl: " << rec.Summary() << "\n";
//     // "already written to the module: registers 5000-5002 at address 1"
//
// Thread contract: as the port it wraps; Close and IsOpen from any thread, the rest from
// the thread of the command. Any call the port interface gains must be passed through.

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "link/CommPort.h"

class WriteRecorder final : public CCommPort {
public:
    void Wrap(CCommPort* port) { port_ = port; }

    void Close() override {
        if (port_ != nullptr) port_->Close();
    }
    bool IsOpen() const override { return port_ != nullptr && port_->IsOpen(); }
    int Write(std::span<const std::uint8_t> data) override;
    int Read(std::span<std::uint8_t> buf) override { return port_ != nullptr ? port_->Read(buf) : 0; }
    std::string LostReason() const override { return port_ != nullptr ? port_->LostReason() : std::string(); }

    // True once anything that changes a module went out.
    bool Any() const { return !written_.empty(); }
    // "nothing was written to the module", or "already written to the module: " and the
    // writes in order, a run of the same one counted ("image block x12").
    std::string Summary() const;

    // What a request written to the bus does to a module, for the summary; empty for a read
    // (or anything that changes nothing).
    static std::string Describe(std::span<const std::uint8_t> frame);

private:
    CCommPort* port_ = nullptr;
    std::vector<std::pair<std::string, int>> written_;
};
