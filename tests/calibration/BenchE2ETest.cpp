// kvt40ctl calibrate over the real serial port against kvt40-sim on a test bench: the
// source options reach the module, and a calibration holds for the next run.
#include <gtest/gtest.h>

#include <sstream>

#include "sim/Process.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string c; std::getline(in, c, '\t');) out.push_back(c);
    return out;
}

}  // namespace

TEST(BenchE2E, TheLineIsCalibratedAgainstTheSimulatedSource) {
    e2e::SimProcess sim({"--ua", "230", "--ub", "230", "--uc", "230"});
    ASSERT_FALSE(sim.Path().empty());
    const std::vector<std::string> test{KVT40CTL_EXE, "--port", sim.Path(), "calibrate", "--view",
                                        "line",       "--mode", "test",     "--ua",      "230",
                                        "--ub",       "230",    "--uc",     "230"};
    auto r = e2e::Run(test);
    ASSERT_EQ(r.code, 3) << r.out;  // the uncalibrated voltages are off by more than 0.5 %
    auto row = Cells(Lines(r.out).at(1));
    ASSERT_EQ(row.size(), 9u) << r.out;
    EXPECT_EQ(row[2], "230.00");
    EXPECT_NEAR(std::stod(row[3]), 230.0, 2.5);

    std::vector<std::string> meter = test;
    meter[7] = "meter";
    r = e2e::Run(meter, false, 30000);
    EXPECT_EQ(r.code, 0) << r.out;
    r = e2e::Run(test);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(BenchE2E, ThePowerFactorOfTheSource) {
    e2e::SimProcess sim({"--pf", "0.5L", "--ia", "1"});
    ASSERT_FALSE(sim.Path().empty());
    const auto r = e2e::Run({KVT40CTL_EXE, "--port", sim.Path(), "calibrate", "--view", "circuit",
                             "--circuit", "2", "--mode", "test", "--pf", "0.5L", "--ia", "1"});
    ASSERT_NE(r.code, 1) << r.out;
    const auto pf = Cells(Lines(r.out).at(4));
    ASSERT_EQ(pf.size(), 9u) << r.out;
    EXPECT_EQ(pf[2], "0.500");
    EXPECT_NEAR(std::stod(pf[3]), 0.5, 0.02);
    EXPECT_NEAR(std::stod(Cells(Lines(r.out).at(1))[3]), 1.0, 0.02);
    EXPECT_EQ(sim.Terminate(), 0);

    const auto bad = e2e::Run({KVT40_SIM_EXE, "--pf", "0.7"}, true);
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.out.rfind("kvt40-sim: bad power factor '0.7'", 0), 0u) << bad.out;
}
