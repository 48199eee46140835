#pragma once
// The gains a meter calibration found, kept so that an angle calibration of the same
// circuit re-sends them (its block carries the current gain and power correction too).
// They belong to one module: an entry is keyed by the port's name, the device address
// and the circuit, and every connect forgets them all, since a module swapped at the same
// address must not receive its predecessor's gains.
//
//     CalibrationMemory memory;
//     memory.Keep(link, 3, {6314, 65210});   // after a meter calibration of circuit 3
//     memory.Find(link, 3);                  // {6314, 65210} until the next connect
//     memory.Find(link, 4);                  // nothing: an angle calibration sends the defaults

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "link/LinkState.h"

struct KeptGains {
    int currentGain = 0;
    int powerCorrection = 0;
    bool operator==(const KeptGains&) const = default;
};

struct CalibrationKey {
    std::string port;
    int address = 0;
    int circuit = 0;
    auto operator<=>(const CalibrationKey&) const = default;
};

class CalibrationMemory {
public:
    // The key of circuit n on the link as it is now.
    static CalibrationKey KeyOf(const LinkState& link, int circuit);

    void Keep(const LinkState& link, int circuit, KeptGains gains);
    // The gains kept for the circuit in this connection, or nothing.
    std::optional<KeptGains> Find(const LinkState& link, int circuit) const;
    // The circuit is back at its defaults (or its gains are unknown again).
    void Forget(const LinkState& link, int circuit);
    void ForgetAll();

private:
    // Entries kept under another connect are dropped before they are used.
    void Follow(const LinkState& link) const;

    mutable unsigned connection_ = 0;
    mutable std::map<CalibrationKey, KeptGains> kept_;
};
