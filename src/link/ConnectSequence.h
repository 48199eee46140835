#pragma once
// What the "Communication Setting" dialog does, without widgets: the opening loop, the
// probe loop and the status texts. The dialog (and kvt40ctl probe) supply the values
// and a message sink that answers Retry or Cancel.

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "link/Clock.h"
#include "link/LinkState.h"
#include "link/MessageSink.h"

inline constexpr const char* kNoConnectionStatus = "\tNo Connection";
inline constexpr const char* kCommFailedText = "Communication failed!";
inline constexpr const char* kBadAddressText = "Device address must be a number from 1 to 247.";

struct CommSettings {
    int deviceAddress = 1;  // any integer; only the low 8 bits reach the frames
    std::string port;
    int baudIndex = 1;
    int dataBits = 8;
    int parityIndex = 0;
    int stopBitsIndex = 0;
};

// Opens the chosen port by name (the real CSerialPort's Open, or a test double's).
using PortOpener =
    std::function<bool(const std::string& name, int baud, int dataBits, int parity, int stopBits)>;

// The device address typed into a box: decimal digits (spaces around allowed), 1 to 247.
// Anything else, the empty box included, is nothing: 0 would broadcast and 257 would
// reach module 1 while the status names 257.
std::optional<int> ParseDeviceAddress(const std::string& text);

// "Cannot open" + port + "!", no space before the name.
std::string CannotOpenText(const std::string& port);
// "%s %sbps ": port, baud text and one trailing space.
std::string LinkDescriptionText(const std::string& port, int baudIndex);
// "\t[ Device ID : %d ] %s".
std::string ConnectedStatusText(int deviceAddress, const std::string& linkDescription);

class ConnectSequence {
public:
    ConnectSequence(LinkState& link, CCommPort& port, PortOpener open, MessageSink& sink, Clock& clock);

    // The dialog's Connect button. True: the module answered and the dialog closes with OK.
    // False: the user cancelled a question; the dialog stays open (and the port may stay open).
    bool RunConnectButton(const CommSettings& settings);

    // After the dialog: on OK stores the settings into the link state; returns the new
    // status text when the port is open, nothing when the status must not change.
    std::optional<std::string> FinishDialog(bool ok, const CommSettings& settings);

    const std::string& LinkDescription() const { return linkDescription_; }

    // The port the link talks through once the opener opened `name`, when that is not always
    // the port given above (a network address opens the network port).
    using PortResolver = std::function<CCommPort&(const std::string& name)>;
    void SetPortResolver(PortResolver resolve) { resolve_ = std::move(resolve); }

private:
    LinkState& link_;
    CCommPort& port_;
    PortOpener open_;
    MessageSink& sink_;
    Clock& clock_;
    std::string linkDescription_;
    PortResolver resolve_;
};

// The Stop command: closes the current port; "\tNo Connection" once it is closed.
std::optional<std::string> StopLink(LinkState& link);
