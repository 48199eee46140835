#pragma once
// View 150, "Alarm setting", without widgets: the voltage limits and the 30 outlet
// current limits (registers 504 to 536), their checks, their writes and the grid's cells.
// CSetAlarmForm places the cells and hands in what the user typed; kvt40ctl limits runs
// the same calls.
//
//     AlarmLimitSettings s(link, clock);
//     s.Open(sink);                          // first read, " V" units, column 2 the module's values
//     s.SetTyped(1, "230.00");               // column 2 of row 1 (voltage upper limit)
//     if (s.Set(sink) == WriteOutcome::Done) print(s.Cells().Tsv());

#include <optional>
#include <string>

#include "formkit/CellTable.h"
#include "link/MessageSink.h"
#include "link/ModbusSession.h"
#include "settings/WriteOutcome.h"

inline constexpr const char* kUnableToReadMeterText = "Unable to read meter data!";
inline constexpr const char* kVoltageUpperRangeText = "Voltage Upper limit setting range:0.00V ~ 380.00V!";
inline constexpr const char* kVoltageLowerRangeText = "Voltage Lower limit setting range:0.00V ~ 380.00V!";
inline constexpr const char* kVoltageOrderText =
    "The lower voltage limit must be less than the voltage limit!";
inline constexpr const char* kCurrentRangeText = "Current Upper limit setting range:0.0A ~ 63.0A!";

// "<row item>: \"<text>\" is not a number!", or "<row item>: no setting value!" for a blank cell.
std::string NotANumberText(const std::string& item, const std::string& text);

class AlarmLimitSettings {
public:
    static constexpr int kRows = 33;
    static constexpr int kCols = 3;
    static constexpr int kOutlets = 30;
    static constexpr int kBlockStart = 504;
    static constexpr int kBlockCount = 33;
    static constexpr int kOutletStart = 507;
    static constexpr int kReadWaitMs = 400;
    static constexpr int kWriteWaitMs = 300;

    AlarmLimitSettings(LinkState& link, Clock& clock);

    // First display: the read with the units " V". Every read that succeeds also puts the
    // module's values ("%0.2f", no unit) into column 2. On failure the warning is shown,
    // false returned and the grid left as it was.
    bool Open(MessageSink& sink);
    // "Read": as Open, with the units "V".
    bool Read(MessageSink& sink);
    // What the user typed into column 2 of a row (1 voltage upper, 2 lower, 2 + n outlet n).
    void SetTyped(int row, std::string text);
    // The first fault of column 2, or nothing when all pass: first a row that is not a
    // plain number (NotANumberText names the row), then the ranges in the form's order.
    std::optional<std::string> Check() const;
    // "Set": the checks (a fault is shown and nothing sent), the two writes with their
    // waits, then the read-back.
    WriteOutcome Set(MessageSink& sink);
    // After a Set that read back: why the module did not keep what was written (a refused
    // write with the exception's meaning, or the first register that differs); nothing
    // when it kept every value. The form shows the read-back instead.
    const std::optional<std::string>& WriteFault() const { return writeFault_; }

    CellTable& Cells() { return cells_; }
    const CellTable& Cells() const { return cells_; }
    ModbusSession& Session() { return session_; }

private:
    bool ReadInto(MessageSink& sink, const char* voltageUnit);

    ModbusSession session_;
    CellTable cells_;
    RegisterValues lastRead_;
    std::optional<std::string> writeFault_;
};
