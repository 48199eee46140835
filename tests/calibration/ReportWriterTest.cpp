// The report file byte for byte against golden files laid out by hand (GBK, CR LF, 14-byte
// cells, no final line end), appending, and files that cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "calibration/ReportWriter.h"
#include "link/TextEncoding.h"

namespace {

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The circuit-view table the golden files show.
ReportContent Content(bool english) {
    ReportContent c;
    c.settings.english = english;
    c.settings.serial = "20240305001";
    c.settings.tester = 7;
    c.time = LocalTime{2024, 3, 5, 8, 7, 9};
    AdjustTable::Build(c.table, AdjustView::Circuit);
    const char* rows[5][4] = {{"5.0000", "5.03", "0.600", "NG"},
                              {"1100.00", "1105.50", "0.500", "OK"},
                              {"-0.00", "6.70", "\\", "\\"},
                              {"1.000", "1.000", "0.000", "OK"},
                              {"50.00", "50.01", "0.020", "OK"}};
    for (int r = 0; r < 5; ++r) {
        c.table.Set(r + 1, 2, rows[r][0]);
        c.table.Set(r + 1, 3, rows[r][1]);
        c.table.Set(r + 1, 6, rows[r][2]);
        c.table.Set(r + 1, 8, rows[r][3]);
    }
    return c;
}

class ReportFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("kvt40-report-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

}  // namespace

TEST(ReportWriterTest, ChineseLayoutMatchesTheGoldenFile) {
    const auto bytes = ReportWriter::Compose(Content(false));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, ReadFile(KVT40_CAL_GOLDEN_DIR "/report_cn.txt"));
}

TEST(ReportWriterTest, EnglishLayoutMatchesTheGoldenFile) {
    const auto bytes = ReportWriter::Compose(Content(true));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, ReadFile(KVT40_CAL_GOLDEN_DIR "/report_en.txt"));
}

TEST(ReportWriterTest, CellsLabelsAndFooters) {
    ReportContent c = Content(false);
    c.table.Set(1, 3, "123456789012345");  // 15 bytes: written whole, the rest shifts right
    std::string b = *ReportWriter::Compose(c);
    EXPECT_NE(b.find("5.0000        123456789012345A             "), std::string::npos);
    // "电流" is 4 GBK bytes and gets 10 spaces.
    EXPECT_NE(b.find(*Utf8ToGbk("电流") + std::string(10, ' ') + "5.0000"), std::string::npos);
    EXPECT_EQ(b.find('\n'), b.find("\r\n") + 1);
    EXPECT_EQ(b.find("\r\n\r\n\r\n", 1), b.find(*Utf8ToGbk("仪表校对记录报告")) + 16);

    c.settings.english = true;
    c.view = AdjustView::IncomingLine;
    AdjustTable::Build(c.table, AdjustView::IncomingLine);
    b = *ReportWriter::Compose(c);
    EXPECT_NE(b.find("    1             Ua            "), std::string::npos);
    EXPECT_NE(b.find("    3             Uc            "), std::string::npos);
    EXPECT_NE(b.find("    4             Uab           "), std::string::npos);
    EXPECT_EQ(b.substr(b.size() - 31), *Utf8ToGbk("    Date：  2024-03-05 08:07:09"));

    EXPECT_EQ(ReportWriter::TesterText(0), "检 00");
    EXPECT_EQ(ReportWriter::TesterText(9), "检 09");
    EXPECT_EQ(ReportWriter::EnglishLabel(AdjustView::Circuit, 5), "Fre");
    EXPECT_EQ(ReportWriter::EnglishLabel(AdjustView::IncomingLine, 19), "Fre");
    EXPECT_EQ(ReportWriter::TestCurrentText(0), "5%");
    EXPECT_EQ(ReportWriter::RatedVoltageText(0), "100V");

    // A model GBK has no bytes for spoils nothing: no report at all.
    c.settings.model = "KVT40 \xF0\x9F\x98\x80";
    EXPECT_FALSE(ReportWriter::Compose(c));
}

TEST_F(ReportFileTest, AnExistingFileKeepsItsContentAndTheReportFollows) {
    const auto path = (dir / "20240305001.txt").string();
    {
        std::ofstream old(path, std::ios::binary);
        old << "earlier report";
    }
    const std::string bytes = *ReportWriter::Compose(Content(false));
    std::string error;
    ASSERT_TRUE(ReportWriter::Append(path, bytes, error)) << error;
    ASSERT_TRUE(ReportWriter::Append(path, bytes, error)) << error;
    EXPECT_EQ(ReadFile(path), "earlier report" + bytes + bytes);  // each begins with its empty line

    const auto fresh = (dir / "new.txt").string();
    ASSERT_TRUE(ReportWriter::Append(fresh, bytes, error));
    EXPECT_EQ(ReadFile(fresh), bytes);
}

TEST_F(ReportFileTest, AFileThatCannotBeOpenedOrWrittenSaysSo) {
    std::string error;
    EXPECT_FALSE(ReportWriter::Append((dir / "no-such-dir" / "r.txt").string(), "x", error));
    EXPECT_EQ(error.rfind("无法打开报告文件：", 0), 0u) << error;
    EXPECT_NE(error.find("no-such-dir"), std::string::npos);

    EXPECT_FALSE(ReportWriter::Append(dir.string(), "x", error));  // a directory
    EXPECT_EQ(error.rfind("无法打开报告文件：", 0), 0u) << error;

    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(ReportWriter::Append("/dev/full", "report", error));
        EXPECT_EQ(error.rfind("报告文件写入失败：/dev/full", 0), 0u) << error;
    }
}

// Asked before a run changes a module: only a file Append can open passes, and the check
// leaves no file behind nor touches one that is there.
TEST_F(ReportFileTest, CanAppendOnlyWhatAppendCouldOpenAndLeavesNoTrace) {
    std::string error;
    const auto fresh = dir / "fresh.txt";
    EXPECT_TRUE(ReportWriter::CanAppend(fresh.string(), error)) << error;
    EXPECT_FALSE(std::filesystem::exists(fresh));
    const auto old = (dir / "old.txt").string();
    std::ofstream(old, std::ios::binary) << "earlier report";
    EXPECT_TRUE(ReportWriter::CanAppend(old, error)) << error;
    EXPECT_EQ(ReadFile(old), "earlier report");

    EXPECT_FALSE(ReportWriter::CanAppend((dir / "no-such-dir" / "r.txt").string(), error));
    EXPECT_EQ(error.rfind("无法打开报告文件：" + (dir / "no-such-dir" / "r.txt").string() + " (", 0), 0u)
        << error;
    EXPECT_FALSE(ReportWriter::CanAppend(dir.string(), error));
    EXPECT_EQ(error, "无法打开报告文件：" + dir.string() + " (a directory)");
    // A device may swallow or refuse the bytes only at the end, a pipe would block the open.
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/full"), std::string("/dev/null"), fifo.string()}) {
        EXPECT_FALSE(ReportWriter::CanAppend(path, error)) << path;
        EXPECT_EQ(error, "无法打开报告文件：" + path + " (not a regular file)");
    }
}
