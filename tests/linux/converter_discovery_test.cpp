// Which port is converter i, on small sysfs trees made for the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "converter_discovery.h"

namespace {

namespace fs = std::filesystem;

class ConverterDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::path(::testing::TempDir()) / ("discovery-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "sys");
    }
    void TearDown() override
    {
        fs::remove_all(root_);
    }

    void addEntry(const std::string& driver, const std::string& name)
    {
        fs::path folder = root_ / "sys/bus/usb-serial/drivers" / driver;
        fs::create_directories(folder);
        std::ofstream(folder / name).put('\n');
    }

    std::string pathOf(int index) const
    {
        return converterPath((root_ / "sys").string(), "/dev", index);
    }

    fs::path root_;
};

TEST_F(ConverterDiscovery, NoFtdiDriverMeansNoConverterAndOtherDriversAreNamed)
{
    std::string sys = (root_ / "sys").string();
    std::string driver;
    EXPECT_EQ(pathOf(0), "");
    EXPECT_FALSE(ftdiDriverLoaded(sys));
    EXPECT_EQ(otherSerialPort(sys, &driver), "");
    addEntry("pl2303", "ttyUSB3");
    addEntry("ch341", "ttyUSB1");
    EXPECT_EQ(pathOf(0), "") << "a port of another driver is never a converter";
    EXPECT_EQ(otherSerialPort(sys, &driver), "ttyUSB1");
    EXPECT_EQ(driver, "ch341");
    addEntry("ftdi_sio", "ttyUSB0");
    EXPECT_TRUE(ftdiDriverLoaded(sys));
    EXPECT_EQ(otherSerialPort(sys, &driver), "ttyUSB1") << "the FTDI driver's are not others";
}

TEST_F(ConverterDiscovery, OrdersPortsByNumberNotByName)
{
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB7"}) {
        addEntry("ftdi_sio", name);
    }
    addEntry("pl2303", "ttyUSB0");
    EXPECT_EQ(pathOf(0), "/dev/ttyUSB2");
    EXPECT_EQ(pathOf(1), "/dev/ttyUSB7");
    EXPECT_EQ(pathOf(2), "/dev/ttyUSB10");
    EXPECT_EQ(pathOf(3), "");
    EXPECT_EQ(pathOf(-1), "");
}

TEST_F(ConverterDiscovery, IgnoresEntriesThatAreNotPorts)
{
    // Nor names that the kernel never gives a port, and that would name
    // another device node than the entry's own, or one port twice.
    for (const char* name :
         {"bind", "unbind", "new_id", "module", "ttyUSB", "ttyUSBx", "ttyUSB3a", "ttyS0", "1-1:1.0",
          "ttyUSB01", "ttyUSB007", "ttyUSB-1", "ttyUSB+4", "ttyUSB 4", "ttyUSB1234567890"}) {
        addEntry("ftdi_sio", name);
    }
    EXPECT_EQ(pathOf(0), "");
    addEntry("ftdi_sio", "ttyUSB4");
    EXPECT_EQ(pathOf(0), "/dev/ttyUSB4");
    EXPECT_EQ(converterPath((root_ / "sys").string(), "/elsewhere/dev", 0),
              "/elsewhere/dev/ttyUSB4");
}

}  // namespace
