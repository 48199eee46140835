#include "link/SerialPort.h"

// Placeholder until the termios back end lands.
CSerialPort::~CSerialPort() { Close(); }
bool CSerialPort::Open(const std::string&, int, int, int, int) { return false; }
void CSerialPort::Close() {
    const std::lock_guard lock(mutex_);
    CloseLocked();
}
void CSerialPort::CloseLocked() {
    fd_ = -1;
    name_.clear();
}
bool CSerialPort::IsOpen() const {
    const std::lock_guard lock(mutex_);
    return fd_ >= 0;
}
int CSerialPort::Write(std::span<const std::uint8_t>) { return 0; }
int CSerialPort::Read(std::span<std::uint8_t> buf) {
    for (auto& b : buf) b = 0;
    return 0;
}
std::string CSerialPort::Name() const {
    const std::lock_guard lock(mutex_);
    return name_;
}
int CSerialPort::CharTimeMs() const {
    const std::lock_guard lock(mutex_);
    return charMs_;
}
