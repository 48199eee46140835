#include "calibration/ReportWriter.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "calibration/AdjustFormulas.h"
#include "link/TextEncoding.h"

namespace {

constexpr const char* kEnd = "\r\n";
constexpr std::array<const char*, 19> kEnglishLabels{"Ua", "Ub",  "Uc",  "Uab", "Ubc", "Ucc", "Ia",
                                                     "Ib", "Ic",  "Pa",  "Pb",  "Pc",  "Qa",  "Qb",
                                                     "Qc", "PFa", "PFb", "PFc", "Fre"};
// A circuit has one current, one active and one reactive power, one power factor and the
// frequency: no phase letter.
constexpr std::array<const char*, 5> kCircuitLabels{"I", "P", "Q", "PF", "Fre"};

std::string At(const auto& list, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size()
               ? std::string(list[static_cast<std::size_t>(index)])
               : std::string();
}

std::string Two(int v) {
    std::array<char, 16> b{};
    std::snprintf(b.data(), b.size(), "%02d", v);
    return b.data();
}

// Builds the file in GBK bytes; a text without a GBK form spoils the whole report.
class GbkText {
public:
    GbkText& operator<<(std::string_view utf8) {
        if (auto g = Utf8ToGbk(utf8))
            out_ += *g;
        else
            ok_ = false;
        return *this;
    }
    // A table cell: its GBK bytes, padded with spaces to 14; a longer text goes in whole.
    void Cell(std::string_view utf8) {
        const auto g = Utf8ToGbk(utf8);
        if (!g) {
            ok_ = false;
            return;
        }
        out_ += *g;
        if (g->size() < ReportWriter::kCellBytes) out_.append(ReportWriter::kCellBytes - g->size(), ' ');
    }
    std::optional<std::string> Take() {
        return ok_ ? std::optional<std::string>(std::move(out_)) : std::nullopt;
    }

private:
    std::string out_;
    bool ok_ = true;
};

void TableLine(GbkText& b, const CellTable& t, int row, const std::string& label, bool relabel) {
    b << "    ";
    for (int c = 0; c < AdjustTable::kCols; ++c)
        b.Cell(relabel && c == 1 ? std::string_view(label) : std::string_view(t.Text(row, c)));
    b << kEnd;
}

}  // namespace

std::string ReportWriter::RatedVoltageText(int index) {
    return At(std::array<const char*, 2>{"100V", "220V"}, index);
}
std::string ReportWriter::RatedCurrentText(int index) {
    return At(std::array<const char*, 2>{"1A", "5A"}, index);
}
std::string ReportWriter::TesterText(int index) {
    return index >= 0 && index <= 9 ? "检 " + Two(index) : std::string();
}
std::string ReportWriter::TestVoltageText(int index) {
    return At(AdjustFormulas::kVoltageStepTexts, index);
}
std::string ReportWriter::TestCurrentText(int index) {
    return At(AdjustFormulas::kCurrentStepTexts, index);
}

std::string ReportWriter::EnglishLabel(AdjustView view, int row) {
    if (view == AdjustView::Circuit && row >= 1 && row <= 5)
        return kCircuitLabels[static_cast<std::size_t>(row - 1)];
    return At(kEnglishLabels, row - 1);
}

std::optional<std::string> ReportWriter::Compose(const ReportContent& c) {
    const ReportSettings& s = c.settings;
    const LocalTime& t = c.time;
    const std::string rule(s.english ? 117 : 116, '-');
    GbkText b;
    b << kEnd;
    if (!s.english) {
        b << "                                                      仪表校对记录报告\r\n\r\n\r\n";
        b << "    型号:     " << s.model << "        S/N:" << s.serial << "\r\n\r\n";
        b << "    额定电压: " << RatedVoltageText(s.ratedVoltage)
          << "       额定电流:" << RatedCurrentText(s.ratedCurrent) << kEnd << kEnd;
        b << "    测试电压: " << TestVoltageText(c.testVoltage)
          << "    测试电流: " << TestCurrentText(c.testCurrent) << kEnd;
        b << "    " << rule << kEnd;
        for (int row = 0; row < 20; ++row) TableLine(b, c.table, row, {}, false);
        b << "    " << rule << kEnd << kEnd;
        b << "    测试员：  " << TesterText(s.tester) << kEnd;
        b << "    日  期：  " << std::to_string(t.year) << "年" << Two(t.month) << "月" << Two(t.day) << "日"
          << Two(t.hour) << "时" << Two(t.minute) << "分" << Two(t.second) << "秒";
    } else {
        b << "                                         Test Report\r\n\r\n\r\n";
        b << "    Model:     " << s.model << "        S/N:" << s.serial << "\r\n\r\n";
        b << "    Rated Voltage: " << RatedVoltageText(s.ratedVoltage)
          << "       Rated Current:" << RatedCurrentText(s.ratedCurrent) << kEnd << kEnd;
        b << "    Test Voltage: " << TestVoltageText(c.testVoltage)
          << "    Test Current: " << TestCurrentText(c.testCurrent) << kEnd;
        b << "    " << rule << kEnd;
        b << "    NO.          Item           Input         Meter        Unit        Accuracy(%)    "
             "Rel_Error(%)   Ref_Error(%)  Result"
          << kEnd;
        for (int row = 1; row < 20; ++row) TableLine(b, c.table, row, EnglishLabel(c.view, row), true);
        b << "    " << rule << kEnd << kEnd;
        const std::string tester = TesterText(s.tester);
        b << "    Tester：  Test " << (tester.size() >= 2 ? tester.substr(tester.size() - 2) : tester)
          << kEnd;
        b << "    Date：  " << std::to_string(t.year) << "-" << Two(t.month) << "-" << Two(t.day) << " "
          << Two(t.hour) << ":" << Two(t.minute) << ":" << Two(t.second);
    }
    return b.Take();
}

bool ReportWriter::Append(const std::string& path, const std::string& bytes, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A regular file's old length, so a failed write can be cut back to it.
    const bool regular = fs::is_regular_file(path, ec);
    const std::uintmax_t before = regular ? fs::file_size(path, ec) : 0;
    const bool canRestore = regular && !ec;
    const bool existed = fs::exists(path, ec);
    errno = 0;
    std::ofstream f(path, std::ios::binary | std::ios::app);
    if (!f) {
        error = "无法打开报告文件：" + path + " (" + std::strerror(errno != 0 ? errno : ENOENT) + ")";
        return false;
    }
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.flush();
    bool ok = f.good();
    const int why = errno;
    f.close();
    ok = ok && !f.fail();
    if (ok) return true;
    if (canRestore)
        fs::resize_file(path, before, ec);  // the old content, nothing half-written
    else if (!existed)
        fs::remove(path, ec);  // a file this write made
    error = "报告文件写入失败：" + path + " (" + std::strerror(why != 0 ? why : EIO) + ")";
    return false;
}

bool ReportWriter::CanAppend(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    const bool exists = fs::exists(status);
    // A pipe would block the open and a device may take the bytes or drop them: only files.
    if (exists && !fs::is_regular_file(status)) {
        error = "无法打开报告文件：" + path + " (" +
                (fs::is_directory(status) ? "a directory" : "not a regular file") + ")";
        return false;
    }
    errno = 0;
    std::ofstream f(path, std::ios::binary | std::ios::app);
    if (!f) {
        error = "无法打开报告文件：" + path + " (" + std::strerror(errno != 0 ? errno : ENOENT) + ")";
        return false;
    }
    f.close();
    // Only a file this check made goes again (a dangling link's new target stays).
    if (!exists && !fs::is_symlink(fs::symlink_status(path, ec))) fs::remove(path, ec);
    return true;
}
