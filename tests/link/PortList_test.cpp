#include "link/PortList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class PortListTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kvt40-ports-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "dev/serial/by-id");
    }
    void TearDown() override {
        fs::remove_all(root);
        SetExtraPortProvider(nullptr);
    }
    void Touch(const fs::path& p) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "";
    }
    void Uart(const std::string& name, int type) {
        fs::create_directories(root / "sys/class/tty" / name / "device/driver");
        std::ofstream(root / "sys/class/tty" / name / "type") << type << "\n";
        Touch(root / "dev" / name);
    }
    std::string Dev(const std::string& n) const { return (root / "dev" / n).string(); }

    fs::path root;
};

TEST_F(PortListTest, RealUartsThenUsbThenAcmThenStableNamesInNaturalOrder) {
    Uart("ttyS0", 4);
    Uart("ttyS1", 0);           // a placeholder the kernel made
    Touch(root / "dev/ttyS2");  // no driver bound
    Touch(root / "dev/ttyUSB10");
    Touch(root / "dev/ttyUSB2");
    Touch(root / "dev/ttyACM0");
    Touch(root / "dev/tty1");
    Touch(root / "dev/ttyUSB");
    Touch(root / "dev/serial/by-id/usb-FTDI_RS485-if00-port0");
    EXPECT_EQ(ListSerialPorts((root / "dev").string()),
              (std::vector<std::string>{Dev("ttyS0"), Dev("ttyUSB2"), Dev("ttyUSB10"), Dev("ttyACM0"),
                                        Dev("serial/by-id/usb-FTDI_RS485-if00-port0")}));
}

TEST_F(PortListTest, MissingDirectoriesGiveAnEmptyListAndExtrasComeFirst) {
    EXPECT_TRUE(ListSerialPorts((root / "nothing").string()).empty());
    SetExtraPortProvider([] { return std::vector<std::string>{"Virtual module"}; });
    const auto all = ListPorts();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), "Virtual module");
}

}  // namespace
