#pragma once
// The test report: the comparison table as a text file with a header (model, serial
// number, rated and test values) and a footer (tester, date and time), in Chinese or in
// English, GBK bytes with CR LF line ends, appended to the chosen file.
//
//     ReportSettings s;                     // what the set-up dialog keeps between reports
//     s.serial = "20240305";
//     const auto bytes = ReportWriter::Compose({s, 3, 4, table, AdjustView::Circuit, wall.Now()});
//     std::string error;
//     if (!bytes || !ReportWriter::Append(path, *bytes, error)) show(error);
//
// A file that cannot be opened or written says so, and a failed write leaves the file as
// it was before.

#include <optional>
#include <string>

#include "calibration/AdjustTable.h"
#include "formkit/CellTable.h"
#include "link/WallClock.h"

// The report settings the form keeps between reports.
struct ReportSettings {
    std::string path;
    bool english = false;
    std::string serial;
    std::string model = "KVT40";
    int ratedVoltage = 1;  // "100V", "220V"
    int ratedCurrent = 1;  // "1A", "5A"
    int tester = 0;        // "检 00" .. "检 09"
    int di = 0;            // hidden lists: they travel with the settings, never into the file
    int analog = 0;
};

struct ReportContent {
    ReportSettings settings;
    int testVoltage = 3;  // "20%" .. "120%"
    int testCurrent = 4;  // "5%" .. "120%"
    CellTable table;      // the comparison table as shown
    AdjustView view = AdjustView::Circuit;
    LocalTime time;
};

class ReportWriter {
public:
    static constexpr int kCellBytes = 14;

    // The file's bytes; nothing when a text (model, serial number) has no GBK encoding.
    static std::optional<std::string> Compose(const ReportContent& content);
    // Appends to `path`, creating it; false with `error` set ("无法打开报告文件..." or
    // "报告文件写入失败...") when it cannot be opened or written; a short write is undone.
    static bool Append(const std::string& path, const std::string& bytes, std::string& error);
    // Whether Append could open `path` now, asked before a run changes a module: a regular
    // file it may append to, or a new file it may create (made and removed again). Anything
    // else (a directory, a device, a pipe) is refused unopened, with `error` set as Append
    // sets it.
    static bool CanAppend(const std::string& path, std::string& error);

    // List texts by index (empty outside the list).
    static std::string RatedVoltageText(int index);
    static std::string RatedCurrentText(int index);
    static std::string TesterText(int index);
    static std::string TestVoltageText(int index);
    static std::string TestCurrentText(int index);
    // The English label of table row r (1..19) in a view.
    static std::string EnglishLabel(AdjustView view, int row);
};

// The message when the report cannot be composed (a text without a GBK form).
inline constexpr const char* kReportNotEncodable = "报告内容含有GBK无法表示的字符，未保存！";
