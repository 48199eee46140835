#include "link/PortAddress.h"

#include <charconv>
#include <string_view>

namespace {

constexpr std::string_view kRawScheme = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";

bool ParseNumber(std::string_view text, int lo, int hi, int& out) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// "gap=80&connect=5000" into the address; false with `error` set.
bool ParseQuery(std::string_view query, PortAddress& a, std::string& error) {
    bool gapSeen = false;
    bool connectSeen = false;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        const auto eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
        if (key == "gap" && !gapSeen) {
            gapSeen = true;
            if (ParseNumber(value, 0, 5000, a.gapMs)) continue;
            error = "bad gap '" + std::string(value) + "' (0..5000 ms)";
            return false;
        }
        if (key == "connect" && !connectSeen) {
            connectSeen = true;
            if (ParseNumber(value, 100, 60000, a.connectMs)) continue;
            error = "bad connect time-out '" + std::string(value) + "' (100..60000 ms)";
            return false;
        }
        error = "unknown or repeated setting '" + std::string(item) + "' (gap=MS, connect=MS)";
        return false;
    }
    return true;
}

}  // namespace

std::string PortAddress::Endpoint() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkAddress(const std::string& name) {
    return name.starts_with(kRawScheme) || name.starts_with(kRfc2217Scheme);
}

std::optional<PortAddress> ParsePortAddress(const std::string& name, std::string& error) {
    PortAddress a;
    std::string_view rest = name;
    if (rest.starts_with(kRawScheme)) {
        rest.remove_prefix(kRawScheme.size());
    } else if (rest.starts_with(kRfc2217Scheme)) {
        a.kind = PortAddress::Kind::Rfc2217;
        rest.remove_prefix(kRfc2217Scheme.size());
    } else {
        error = "not a network address: " + name + " (tcp://HOST:PORT or rfc2217://HOST:PORT)";
        return std::nullopt;
    }
    const auto q = rest.find('?');
    if (q != std::string_view::npos) {
        if (!ParseQuery(rest.substr(q + 1), a, error)) return std::nullopt;
        rest = rest.substr(0, q);
    }
    std::string_view portText;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            error = "no port in " + name + " (HOST:PORT, an IPv6 host as [ADDRESS]:PORT)";
            return std::nullopt;
        }
        a.host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string_view::npos || rest.substr(0, colon).find(':') != std::string_view::npos) {
            error = "no port in " + name + " (HOST:PORT, an IPv6 host as [ADDRESS]:PORT)";
            return std::nullopt;
        }
        a.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
    }
    if (a.host.empty() || a.host.find_first_of(" /@") != std::string::npos) {
        error = "no host in " + name;
        return std::nullopt;
    }
    if (!ParseNumber(portText, 1, 65535, a.port)) {
        error = "bad port '" + std::string(portText) + "' in " + name + " (1..65535)";
        return std::nullopt;
    }
    return a;
}
