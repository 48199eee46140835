#pragma once
// View 151, "设备设置", without widgets: the energy preset of one outlet (registers 9258
// to 9263) with its field checks, and the meter information grid (versions and the custom
// order number). CSetDeviceForm hands in its three fields and places the cells;
// kvt40ctl preset-energy and info run the same calls.
//
//     EnergyPresetInfo d(link, clock);
//     d.SetFields("1", "1234.5", "0");
//     d.PresetEnergy(sink);               // 999, 0, 12345, 0, 0, 0; the echo after 3000 ms
//     if (d.ReadInfo(sink)) print(d.Cells().Tsv());

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formkit/CellTable.h"
#include "link/MessageSink.h"
#include "link/ModbusSession.h"
#include "settings/WriteOutcome.h"

inline constexpr const char* kDataWrittenText = "写入数据成功!";
inline constexpr const char* kCannotWriteText = "无法写入数据，请确认是否连接正确!";
inline constexpr const char* kCannotReadMeterText = "无法读取仪表数据!";
inline constexpr const char* kOutletFieldText = "The outlet must be a whole number from 1 to 30.";
inline constexpr const char* kActiveFieldText = "The active energy must be a number from 0.0 to 99999999.9.";
inline constexpr const char* kReactiveFieldText =
    "The reactive energy must be a number from 0.0 to 99999999.9.";
// The caption of the field checks, as the framework's own field messages carry it.
inline constexpr const char* kFieldCheckCaption = "KVT40";

class EnergyPresetInfo {
public:
    static constexpr int kRows = 5;
    static constexpr int kCols = 3;
    static constexpr int kPresetStart = 9258;
    static constexpr int kPresetCommand = 999;
    static constexpr int kPresetWaitMs = 3000;
    static constexpr int kInfoWaitMs = 250;

    EnergyPresetInfo(LinkState& link, Clock& clock);

    // The texts of the edits 1100 (outlet), 1101 (active energy) and 1102 (reactive energy).
    void SetFields(std::string outlet, std::string active, std::string reactive);
    // The first field that fails its check, or nothing when all pass.
    std::optional<std::string> CheckFields() const;
    // "设置": the field checks (a fault is shown, nothing sent), the command, the 3000 ms
    // wait and the echo's check, then "写入数据成功!" or "无法写入数据...".
    WriteOutcome PresetEnergy(MessageSink& sink);
    // "读取": the four reads in order; the first failure stops them with "无法读取仪表数据!"
    // and rows already filled keep their new values.
    bool ReadInfo(MessageSink& sink);

    // The custom order number: low byte of each register first, up to the first zero
    // byte, "/" when empty. Bytes outside printable ASCII show as '?', so a stray tab or
    // line end never splits a grid line.
    static std::string OrderText(std::span<const std::int32_t> regs);

    CellTable& Cells() { return cells_; }
    const CellTable& Cells() const { return cells_; }
    ModbusSession& Session() { return session_; }

private:
    ModbusSession session_;
    CellTable cells_;
    std::string outlet_ = "1";
    std::string active_ = "0.0";
    std::string reactive_ = "0.0";
};
