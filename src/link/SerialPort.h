#pragma once
// A POSIX serial device (or pseudo-terminal) behind CCommPort.
//
// Ownership: the port owns its descriptor and closes it in Close and in the destructor.
// Thread safety: every call takes the descriptor lock, so Close from the user-interface
// thread never races a worker inside Read or Write; the worker's next calls return 0.

#include <mutex>
#include <string>

#include "link/CommPort.h"

class CSerialPort final : public CCommPort {
public:
    CSerialPort() = default;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;
    ~CSerialPort() override;

    // Opens `name` exclusively (TIOCEXCL and flock) in raw mode, or reconfigures it when
    // it is the name already open. baud in bits per second (> 0), dataBits 4..8,
    // parity 0 none / 1 odd / 2 even, stopBits 0 one / 1 one and a half / 2 two.
    // Another name is opened first and the old port closed only after; if the new one
    // fails, false is returned and the old one stays open.
    bool Open(const std::string& name, int baud, int dataBits, int parity, int stopBits);

    void Close() override;
    bool IsOpen() const override;
    int Write(std::span<const std::uint8_t> data) override;
    int Read(std::span<std::uint8_t> buf) override;

    // The name last opened, whole (no length limit); empty while closed.
    std::string Name() const;
    // One character time in ms as the read time-outs use it: 10000 / baud + 1.
    int CharTimeMs() const;

private:
    void CloseLocked();

    mutable std::mutex mutex_;
    std::string name_;
    int fd_ = -1;
    int charMs_ = 2;
};
