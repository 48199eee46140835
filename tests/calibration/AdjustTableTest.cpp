// The comparison table: its texts, formats and the verdicts read back from the shown texts.
#include <gtest/gtest.h>

#include "calibration/AdjustFormulas.h"
#include "calibration/AdjustTable.h"

namespace {

// A one-row incoming-line table with the texts given, evaluated.
CellTable LineRow(const std::string& standard, const std::string& meter) {
    CellTable t;
    AdjustTable::Build(t, AdjustView::IncomingLine);
    t.Set(1, AdjustTable::kStandardCol, standard);
    t.Set(1, AdjustTable::kMeterCol, meter);
    AdjustTable::Evaluate(t, AdjustView::IncomingLine);
    return t;
}

}  // namespace

TEST(AdjustTableTest, HeadingsRowsAndViews) {
    CellTable t;
    AdjustTable::Build(t, AdjustView::Circuit);
    ASSERT_EQ(t.Rows(), 10);
    ASSERT_EQ(t.Cols(), 9);
    EXPECT_EQ(t.Tsv(0, 1), "编号\t项目\t标准源\t仪表\t单位\t允许误差(%)\t相对误差(%)\t引用误差(%)\t结果\n");
    EXPECT_EQ(t.Tsv(1, 6),
              "1\t电流\t\t\tA\t0.5\t\t\t\n"
              "2\t有功功率\t\t\tW\t1.0\t\t\t\n"
              "3\t无功功率\t\t\tvar\t2.0\t\t\t\n"
              "4\t功率因数\t\t\t\t0.5\t\t\t\n"
              "5\t频率\t\t\tHz\t0.5\t\t\t\n");
    EXPECT_EQ(t.Tsv(6, 10), "6\t\t\t\t\t\t\t\t\n7\t\t\t\t\t\t\t\t\n8\t\t\t\t\t\t\t\t\n9\t\t\t\t\t\t\t\t\n");

    AdjustTable::Build(t, AdjustView::IncomingLine);  // a rebuild empties every cell first
    EXPECT_EQ(t.Tsv(1, 5),
              "1\tA相电压\t\t\tV\t0.5\t\t\t\n"
              "2\tB相电压\t\t\tV\t0.5\t\t\t\n"
              "3\tC相电压\t\t\tV\t0.5\t\t\t\n"
              "4\t\t\t\t\t\t\t\t\n");
}

TEST(AdjustTableTest, StandardAndMeterFormats) {
    CellTable t;
    AdjustTable::Build(t, AdjustView::Circuit);
    // CT ratio 10, Ia = 5 A, current step 20 %.
    StandardValues s = AdjustFormulas::Standard(SourceSettings{}, StepChoice{3, 1, 0}, 10);
    AdjustTable::FillStandard(t, AdjustView::Circuit, s);
    EXPECT_EQ(t.Text(1, 2), "10.0000");
    EXPECT_EQ(t.Text(2, 2), "2200.00");
    EXPECT_EQ(t.Text(3, 2), "-0.00");  // cos of the float nearest 90 degrees is a tiny negative
    EXPECT_EQ(t.Text(4, 2), "1.000");
    EXPECT_EQ(t.Text(5, 2), "50.00");

    AdjustTable::FillMeter(t, CircuitReading{4.996f, -1234.56f, 0.004f, 0.99949f, 49.995f});
    EXPECT_EQ(t.Text(1, 3), "5.00");
    EXPECT_EQ(t.Text(2, 3), "-1234.56");
    EXPECT_EQ(t.Text(3, 3), "0.00");
    EXPECT_EQ(t.Text(4, 3), "0.999");
    EXPECT_EQ(t.Text(5, 3), "49.99");  // the float nearest 49.995 lies below it

    for (int step : {1, 3}) {  // 0.866L, 0.866C
        s = AdjustFormulas::Standard(SourceSettings{}, StepChoice{3, 4, step}, 1);
        AdjustTable::FillStandard(t, AdjustView::Circuit, s);
        EXPECT_EQ(t.Text(4, 2), "0.866");
        EXPECT_EQ(t.Text(3, 2), step == 1 ? "550.00" : "-550.00");
    }
    for (int step : {2, 4}) {  // 0.5L, 0.5C
        s = AdjustFormulas::Standard(SourceSettings{}, StepChoice{3, 4, step}, 1);
        AdjustTable::FillStandard(t, AdjustView::Circuit, s);
        EXPECT_EQ(t.Text(4, 2), "0.500");
        EXPECT_EQ(t.Text(2, 2), "550.05");  // arccos(0.866) is not quite 30 degrees
        EXPECT_EQ(t.Text(3, 2).front() == '-', step == 4);
    }
}

TEST(AdjustTableTest, RelativeErrorFromTheShownTextsInSinglePrecision) {
    CellTable t = LineRow("200.00", "201.00");
    EXPECT_EQ(t.Text(1, 6), "0.500");
    EXPECT_EQ(t.Text(1, 8), "OK");  // exactly at the limit
    EXPECT_EQ(t.Role(1, 8), CellRole::Normal);

    t = LineRow("200.00", "201.02");
    EXPECT_EQ(t.Text(1, 6), "0.510");
    EXPECT_EQ(t.Text(1, 8), "NG");
    EXPECT_EQ(t.Role(1, 8), CellRole::Ng);

    // A decimal tie that single precision cannot hold: 0.5000028 %.
    t = LineRow("220.00", "221.10");
    EXPECT_EQ(t.Text(1, 6), "0.500");
    EXPECT_EQ(t.Text(1, 8), "NG");

    t = LineRow("220.00", "218.90");  // -0.5 % the other way
    EXPECT_EQ(t.Text(1, 6), "-0.500");

    // An NG row that comes back into class loses its red.
    t.Set(1, 3, "230.00");
    AdjustTable::Evaluate(t, AdjustView::IncomingLine);
    EXPECT_EQ(t.Role(1, 8), CellRole::Ng);
    t.Set(1, 3, "220.00");
    AdjustTable::Evaluate(t, AdjustView::IncomingLine);
    EXPECT_EQ(t.Text(1, 8), "OK");
    EXPECT_EQ(t.Role(1, 8), CellRole::Normal);
}

TEST(AdjustTableTest, AStandardOfZeroIsNotJudged) {
    for (const char* standard : {"-0.00", "0.00", ""}) {
        CellTable t = LineRow(standard, "6.70");
        EXPECT_EQ(t.Text(1, 6), "\\") << standard;
        EXPECT_EQ(t.Text(1, 8), "\\") << standard;
        EXPECT_EQ(t.Role(1, 8), CellRole::Normal);
    }
    // The reference error is never computed; other rows stay as built.
    CellTable t = LineRow("220.00", "220.00");
    EXPECT_EQ(t.Text(1, 7), "");
    EXPECT_EQ(t.Text(2, 8), "\\");  // rows 2 and 3 had no texts: standard 0
    EXPECT_EQ(t.Text(4, 8), "");
    EXPECT_FALSE(AdjustTable::AnyNg(t, AdjustView::IncomingLine));
}

TEST(AdjustTableTest, LeadingNumberAsAtofReadsIt) {
    EXPECT_EQ(AdjustTable::LeadingFloat("221.10"), 221.1f);
    EXPECT_EQ(AdjustTable::LeadingFloat("  -3.5V"), -3.5f);
    EXPECT_EQ(AdjustTable::LeadingFloat("+2"), 2.0f);
    EXPECT_EQ(AdjustTable::LeadingFloat("\\"), 0.0f);
    EXPECT_EQ(AdjustTable::LeadingFloat("var"), 0.0f);
    EXPECT_EQ(AdjustTable::LeadingFloat(""), 0.0f);
    EXPECT_EQ(AdjustTable::LeadingFloat("1e999"), 0.0f);  // no infinity from a text
}
