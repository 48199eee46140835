// Windows port names as the registry and the DOS device list give them: filtered, each once,
// in natural order. Toolkit- and system-free, so it runs on every build.
#include <gtest/gtest.h>

#include "link/PortList.h"

namespace {

TEST(ComPortNames, KeepsComPortsOnceInNaturalOrder) {
    EXPECT_EQ(ComPortNames({"COM10", "COM3", "com5", "LPT1", "COM3", "NUL", "COM", "COM0", "COM05", "COM2x",
                            "\\Device\\Serial0", "Global", "COM256", "COM1"}),
              (std::vector<std::string>{"COM1", "COM3", "COM5", "COM10", "COM256"}));
    EXPECT_TRUE(ComPortNames({}).empty());
}

TEST(ComPortNames, NaturalOrderComparesDigitRunsByValue) {
    EXPECT_TRUE(NaturalLess("COM2", "COM10"));
    EXPECT_FALSE(NaturalLess("COM10", "COM2"));
    EXPECT_TRUE(NaturalLess("ttyUSB9", "ttyUSB10"));
    EXPECT_TRUE(NaturalLess("COM1", "COM1a"));
    EXPECT_FALSE(NaturalLess("COM1", "COM1"));
}

}  // namespace
