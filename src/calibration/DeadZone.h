#pragma once
// The dead-zone settings of the module (dialog 173) without widgets: a grid of 11 rows x 3
// columns (item, current value, set value), read from 10 registers at 1023 and written as
// 11 registers from 1023 (32 first, then rows 8, 9, 10, 1 to 7). kvt40ctl dead-zone prints
// the same grid.
//
//     DeadZone dz(link, clock);
//     if (!dz.Read(&sink)) ...;           // "无法读取仪表数据!", the grid as it was
//     dz.Cells().Set(1, DeadZone::kSetCol, "120");
//     dz.Set(&sink);                      // write, 200 ms, then read again

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "formkit/CellTable.h"
#include "link/MessageSink.h"
#include "link/ModbusSession.h"

class DeadZone {
public:
    static constexpr int kRows = 11;
    static constexpr int kCols = 3;
    static constexpr int kCurrentCol = 1;
    static constexpr int kSetCol = 2;
    static constexpr int kFirstRegister = 1023;
    static constexpr int kReadWaitMs = 200;
    static constexpr int kWriteWaitMs = 200;

    DeadZone(LinkState& link, Clock& clock);

    CellTable& Cells() { return cells_; }
    const CellTable& Cells() const { return cells_; }

    // 读取: the current values of rows 1 to 10; false (message shown when a sink is given)
    // on a missing or bad reply, with the cells as they were.
    bool Read(MessageSink* sink);
    // 设置: the set values of rows 1 to 10 written, 200 ms, then 读取. A set value that is
    // not a whole number from 0 to 65535 ("12.9", "12abc", blank) is refused with a message
    // before anything is sent.
    bool Set(MessageSink* sink);
    // After a Set that read back: why the module did not keep the set values (a refused
    // write with the exception's meaning, or the first register that differs); nothing when
    // it kept them all. The dialog shows the read-back instead.
    const std::optional<std::string>& WriteFault() const { return writeFault_; }

    // The set value of a row: its text as a whole number 0..65535 (spaces around allowed),
    // nothing for any other text.
    std::optional<int> SetValue(int row) const;
    // The 11 values of the write: 32, then rows 8, 9, 10, 1 .. 7.
    static std::array<std::int32_t, 11> WriteOrder(const std::array<long long, 10>& rows);
    // The row (1..10) that shows register 1023 + k (k = 0..9).
    static int RowOfRegister(int k) { return k < 3 ? 8 + k : k - 2; }

private:
    ModbusSession session_;
    CellTable cells_;
    RegisterValues lastRead_;
    std::optional<std::string> writeFault_;
};

inline constexpr const char* kDeadZoneOutOfRange = "设定值须为0到65535的整数！";
