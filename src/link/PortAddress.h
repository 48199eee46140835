#pragma once
// A port name that is a network address rather than a serial device: a serial device server
// reached over TCP, carrying the bus's raw bytes ("tcp://HOST:PORT") or the same behind the
// Telnet COM-port control of RFC 2217 ("rfc2217://HOST:PORT"), which also sets the remote
// line. HOST is a name, an IPv4 address or an IPv6 address in brackets ("[::1]").
//
// Two settings may follow as a query, each at most once:
//     tcp://10.0.0.7:4001?gap=80&connect=5000
//   gap      ms of silence raw traffic may keep between two network segments (0..5000,
//            default 10); added to the serial gap and to the serial total bound
//   connect  ms the connection (and the RFC 2217 negotiation) may take (100..60000,
//            default 3000)

#include <optional>
#include <string>

inline constexpr int kDefaultNetworkGapMs = 10;
inline constexpr int kDefaultConnectMs = 3000;

struct PortAddress {
    enum class Kind { Raw, Rfc2217 };
    Kind kind = Kind::Raw;
    std::string host;  // without the brackets of an IPv6 address
    int port = 0;      // 1..65535
    int gapMs = kDefaultNetworkGapMs;
    int connectMs = kDefaultConnectMs;

    // "HOST:PORT" as the messages name it (an IPv6 host in brackets again).
    std::string Endpoint() const;
};

// True for a name that starts like a network address (either scheme), well formed or not:
// such a name is never opened as a serial device.
bool IsNetworkAddress(const std::string& name);

// The address in `name`; nothing with `error` set to what is wrong ("no port in ...").
std::optional<PortAddress> ParsePortAddress(const std::string& name, std::string& error);
