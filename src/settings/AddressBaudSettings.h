#pragma once
// View 149, "Device setting", without widgets: the module's own address and baud rate
// (registers 500 and 501), the address check, the write and the read-back, and the
// grid's cells. CSetParmForm hands in the typed address and the chosen baud option;
// kvt40ctl comm runs the same calls.
//
//     AddressBaudSettings p(link, clock);
//     p.Read(sink);                        // 7 registers from 500
//     p.SetTyped(1, "12");                 // row 1 column 2: the address
//     p.SetTyped(2, "19200 ");             // row 2 column 2: one of kBaudOptions
//     p.Set(sink, reopen);                 // writes 12, 2 at the old settings, then
//                                          // follows the module: the link takes address
//                                          // 12 at 19200 bps and the read-back is done there
//
// After a change the module answers only at its new settings, so the link follows it
// (a new baud rate through `reopen`, which opens the link's port again at that rate).
// When the module is not found there, the old settings are tried, the link keeps the
// ones the module answers at, and the message says which.

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "formkit/CellTable.h"
#include "link/MessageSink.h"
#include "link/ModbusSession.h"
#include "settings/WriteOutcome.h"

inline constexpr const char* kAddressRangeText = "Device address setting range:1~247!";
// A baud cell whose text is none of the options (a module reporting an unknown index):
// writing its position would send 0xFFFF to register 501.
inline constexpr const char* kBaudChoiceText = "Baudrate setting: choose 4800, 9600 or 19200!";
// After a change: "The module now answers at address 12, 19200 bps." (information).
std::string MovedText(int address, int baudIndex);
// The module answers at the old settings only: it did not take the new ones.
std::string NotMovedText(int address, int baudIndex);
// Neither at the new settings nor at the old ones.
std::string LostText(int newAddress, int newBaudIndex, int oldAddress, int oldBaudIndex);
// The port could not be opened again at the new rate.
std::string ReopenFailedText(int baudIndex);
// The options of both baud cells, each with its trailing space; the position is the index.
inline constexpr std::array<const char*, 3> kBaudOptions{"4800 ", "9600 ", "19200 "};

class AddressBaudSettings {
public:
    static constexpr int kRows = 3;
    static constexpr int kCols = 3;
    static constexpr int kBlockStart = 500;
    static constexpr int kBlockCount = 7;
    static constexpr int kReadWaitMs = 400;
    static constexpr int kWriteWaitMs = 300;

    AddressBaudSettings(LinkState& link, Clock& clock);

    // "Read" (and the first display): both columns of both rows, or "Communication
    // failed!" with the grid kept as it was.
    bool Read(MessageSink& sink);
    // What the user typed or chose in column 2 (row 1 the address, row 2 the baud option).
    void SetTyped(int row, std::string text);
    // The address of row 1 as the form takes it: its leading digits ("12abc" is 12).
    long long TypedAddress() const;
    // The position of row 2's option, -1 when its text is none of them.
    int TypedBaudIndex() const;
    // The first fault, or nothing when the address and the baud option pass.
    std::optional<std::string> Check() const;
    // Opens the link's port again at a baud index; false when it could not.
    using PortReopener = std::function<bool(int baudIndex)>;

    // "Set": the check (a fault is shown, nothing sent), the write of two registers from
    // 500 at the link's settings and the 300 ms wait. Unchanged settings are read back
    // there ("Communication failed!" when that fails). A change is followed: the link takes
    // the new address (and baud rate, through `reopen`; without one a new rate cannot be
    // followed) and reads back there; Done with MovedText, or Failed with a message that
    // says where the module answers, if anywhere.
    WriteOutcome Set(MessageSink& sink, const PortReopener& reopen = {});
    // True when the last Set left the link at other settings than it found (the status
    // bar's device id and rate change with it).
    bool LinkMoved() const { return moved_; }

    // The option text of a baud index; empty outside 0..2.
    static std::string BaudOptionText(int index);

    CellTable& Cells() { return cells_; }
    const CellTable& Cells() const { return cells_; }
    ModbusSession& Session() { return session_; }

private:
    // The block read into the cells; false (nothing shown, the cells kept) on failure.
    bool ReadBlock();
    // Points the link at an address and baud index; false when the port could not follow.
    bool MoveLink(int address, int baudIndex, const PortReopener& reopen);

    ModbusSession session_;
    CellTable cells_;
    bool moved_ = false;
};
