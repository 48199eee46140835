#pragma once
// The one link of the run: device address and line settings, the current protocol and
// the current port. Written only by a successful connect; read by every form and worker.
//
// Thread contract: written on the user-interface thread by the connect sequence (and the
// CLI's prologue) while no worker runs; read by forms on that thread and by an update
// worker, which copies nothing back. The run's link lives in RunState; code is handed a
// LinkState&, so tests build their own.

#include <array>
#include <string>

#include "link/CommPort.h"
#include "link/ModbusRtu.h"

struct ExchangeRecord;
class LinkMonitor;

struct LinkState {
    int deviceAddress = 1;
    int baudIndex = 1;  // 0 "4800", 1 "9600", 2 "19200"
    int dataBits = 8;
    int parityIndex = 0;    // 0 "N", 1 "O", 2 "E"
    int stopBitsIndex = 0;  // 0 "1", 1 "1.5", 2 "2"
    CProtocol* protocol = nullptr;
    CCommPort* port = nullptr;
    // Where every session on this link (and on copies of it) notes its last failure, cleared
    // by a reply that passes; nullptr: nowhere. One thread at a time, like the exchanges.
    ExchangeRecord* lastExchange = nullptr;
    // Where every session on this link (and on copies of it) notes the frames it sends and
    // reads and how each exchange ended; nullptr: nowhere.
    LinkMonitor* monitor = nullptr;
    // The port's name as the last connect opened it, and how many connects succeeded:
    // what was learnt about a module (a calibration's gains) holds for one connection only.
    std::string portName{};  // braces: brace-initialised link states may leave it out
    unsigned connects = 0;
};

inline constexpr std::array<const char*, 3> kBaudTexts{"4800", "9600", "19200"};
inline constexpr std::array<const char*, 5> kDataBitsTexts{"4", "5", "6", "7", "8"};
inline constexpr std::array<const char*, 3> kParityTexts{"N", "O", "E"};
inline constexpr std::array<const char*, 3> kStopBitsTexts{"1", "1.5", "2"};

// Bits per second of a baud index; 9600 for an index outside the list.
int BaudRateOf(int baudIndex);
// The baud index of 4800, 9600 or 19200; -1 for any other rate.
int BaudIndexOf(int baud);
