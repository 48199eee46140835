#include "formkit/CellTable.h"

#include <gtest/gtest.h>

TEST(CellTable, OnlyRealChangesAreReportedOnceInRowOrder) {
    CellTable t(3, 2);
    EXPECT_EQ(t.TakeChanged().size(), 6u);  // a fresh table is all new
    EXPECT_FALSE(t.AnyChanged());
    t.Set(2, 1, "b");
    t.Set(0, 0, "a");
    t.Set(0, 0, "a");                   // same text again
    t.SetRole(2, 1, CellRole::Alarm);   // same cell, once
    t.Set(1, 1, "");                    // empty stays empty
    t.SetRole(1, 0, CellRole::Normal);  // unchanged role
    t.Set(5, 5, "outside");
    EXPECT_EQ(t.TakeChanged(), (std::vector<CellPos>{{0, 0}, {2, 1}}));
    EXPECT_TRUE(t.TakeChanged().empty());
    EXPECT_EQ(t.Text(5, 5), "");
    EXPECT_EQ(t.Role(2, 1), CellRole::Alarm);
    EXPECT_EQ(t.Role(-1, 0), CellRole::Normal);
    EXPECT_EQ(t.Tsv(), "a\t\n\t\n\tb\n");
    EXPECT_EQ(t.Tsv(2), "\tb\n");
}
