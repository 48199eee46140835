#include "link/ConnectSequence.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "link/ModbusSession.h"

std::optional<int> ParseDeviceAddress(const std::string& text) {
    std::size_t b = text.find_first_not_of(' ');
    std::size_t e = text.find_last_not_of(' ');
    if (b == std::string::npos) return std::nullopt;
    int v = 0;
    for (std::size_t i = b; i <= e; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > 247) return std::nullopt;
    }
    if (v < 1) return std::nullopt;
    return v;
}

std::string CannotOpenText(const std::string& port) {
    return "Cannot open" + port + "!";
}

std::string LinkDescriptionText(const std::string& port, int baudIndex) {
    return port + " " + std::to_string(BaudRateOf(baudIndex)) + "bps ";
}

std::string ConnectedStatusText(int deviceAddress, const std::string& linkDescription) {
    return "\t[ Device ID : " + std::to_string(deviceAddress) + " ] " + linkDescription;
}

ConnectSequence::ConnectSequence(LinkState& link, CCommPort& port, PortOpener open, MessageSink& sink,
                                 Clock& clock)
    : link_(link), port_(port), open_(std::move(open)), sink_(sink), clock_(clock) {}

bool ConnectSequence::RunConnectButton(const CommSettings& s) {
    const int baud = BaudRateOf(s.baudIndex);
    CCommPort& port = resolve_ ? resolve_(s.port) : port_;
    for (;;) {
        port_.Close();
        if (&port != &port_) port.Close();
        if (open_(s.port, baud, s.dataBits, s.parityIndex, s.stopBitsIndex)) break;
        if (sink_.Show(CannotOpenText(s.port), "Error", MsgIcon::Exclamation, MsgButtons::RetryCancel) !=
            MsgResult::Retry) {
            return false;
        }
    }
    link_.port = &port;
    linkDescription_ = LinkDescriptionText(s.port, s.baudIndex);

    // The probe goes to the address typed, through a session, so a failure is noted where the
    // link keeps its last exchange.
    LinkState probe = link_;
    probe.deviceAddress = s.deviceAddress;
    for (;;) {
        if (ModbusSession(probe, clock_).ReadRegisters(0, 10, 200)) return true;
        if (sink_.Show(kCommFailedText, "Error", MsgIcon::Exclamation, MsgButtons::RetryCancel) !=
            MsgResult::Retry) {
            return false;
        }
    }
}

std::optional<std::string> ConnectSequence::FinishDialog(bool ok, const CommSettings& s) {
    if (!ok) return std::nullopt;
    link_.deviceAddress = s.deviceAddress;
    link_.baudIndex = s.baudIndex;
    link_.parityIndex = s.parityIndex;
    link_.dataBits = s.dataBits;
    link_.stopBitsIndex = s.stopBitsIndex;
    link_.portName = s.port;
    ++link_.connects;
    if (link_.port == nullptr || !link_.port->IsOpen()) return std::nullopt;
    return ConnectedStatusText(link_.deviceAddress, linkDescription_);
}

std::optional<std::string> StopLink(LinkState& link) {
    if (link.port == nullptr) return std::string(kNoConnectionStatus);
    link.port->Close();
    if (link.port->IsOpen()) return std::nullopt;
    return std::string(kNoConnectionStatus);
}
