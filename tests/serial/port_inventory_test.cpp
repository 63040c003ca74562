// SPDX-License-Identifier: Apache-2.0
#include "serial/port_inventory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/virtual_ports.h"
#include "serial/ecomport.h"
#include "serial/usb_identity.h"
#include "support/recording_messages.h"

namespace wct {
namespace {

using Names = std::vector<std::string>;

class PortInventoryTest : public ::testing::Test {
protected:
    void TearDown() override { SetPortSource(nullptr); }
    void Present(Names names) {
        SetPortSource([names] { return names; });
    }
    void Fail(int error) {
        SetPortSource(
            [error]() -> Names { throw std::system_error(error, std::generic_category()); });
    }
    test::TRecordingMessages messages;
};

TEST_F(PortInventoryTest, FindSerialPortsKeepsInventoryOrder) {
    Present({"COM2", "COM10"});
    EXPECT_EQ(FindSerialPorts(), (Names{"COM2", "COM10"}));
}

TEST_F(PortInventoryTest, SortedListsPutCom10BeforeCom2) {
    Present({"COM2", "com10", "COM1"});
    EXPECT_EQ(ListPortsSorted(), (Names{"COM1", "com10", "COM2"}));
    Names target{"stale"};
    EnumPortNames(target);
    EXPECT_EQ(target, (Names{"COM1", "com10", "COM2"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortInventoryTest, NoDevicesGiveEmptyLists) {
    Present({});
    EXPECT_TRUE(FindSerialPorts().empty());
    EXPECT_TRUE(ListPortsSorted().empty());
    Names target{"stale"};
    EnumPortNames(target);
    EXPECT_TRUE(target.empty());
}

TEST_F(PortInventoryTest, AFailingSourceGivesFindSerialPortsAnEmptyList) {
    Fail(ENOENT);
    EXPECT_TRUE(FindSerialPorts().empty());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortInventoryTest, AFailingSourceMakesListPortsSortedTellTheUser) {
    Fail(EACCES);
    EXPECT_TRUE(ListPortsSorted().empty());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Error access registry!");
    EXPECT_EQ(messages.shown[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(messages.shown[0].buttons, static_cast<unsigned>(mbOK));
}

TEST_F(PortInventoryTest, AFailingSourceMakesEnumPortNamesRaiseRegistryError) {
    Fail(ENOENT);
    Names target{"kept"};
    try {
        EnumPortNames(target);
        FAIL();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 23);
        EXPECT_STREQ(error.what(), "Registry error (win error code: 2)");
    }
    EXPECT_EQ(target, (Names{"kept"}));
}

TEST_F(PortInventoryTest, TheSystemInventoryListsDevicePathsThenVirtualPorts) {
    RegisterVirtualPort("/dev/pts/test-inventory");
    Names ports = SystemSerialPorts();
    UnregisterVirtualPort("/dev/pts/test-inventory");
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.back(), "/dev/pts/test-inventory");
    for (size_t i = 0; i + 1 < ports.size(); ++i) EXPECT_EQ(ports[i].rfind("/dev/", 0), 0u);
}

// A tty class directory laid out as the kernel's: a device link for bound drivers, a
// type file for UARTs.
class TtyClassTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               ("wct-tty-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root);
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    void Tty(const std::string& name, bool device, int type = -1) {
        std::filesystem::create_directories(root / name);
        if (device) std::filesystem::create_directories(root / name / "device");
        if (type >= 0) std::ofstream(root / name / "type") << type << "\n";
    }
    std::filesystem::path root;
};

TEST_F(TtyClassTree, EveryTtyWithADeviceIsListedWhateverItsDriverCallsIt) {
    Tty("ttyUSB0", true);
    Tty("ttyACM1", true);
    Tty("ttyAMA0", true, 95);
    Tty("rfcomm0", true);
    Tty("ttyS0", true, 4);
    Tty("ttyXRUSB0", true);
    EXPECT_EQ(DeviceSerialPorts(root), (Names{"/dev/rfcomm0", "/dev/ttyACM1", "/dev/ttyAMA0",
                                              "/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyXRUSB0"}));
}

TEST_F(TtyClassTree, ConsolesPseudoTerminalsAndAbsentUartsAreLeftOut) {
    Tty("tty1", false);
    Tty("console", false);
    Tty("ptmx", false);
    Tty("ttyS3", true, 0);  // registered by the 8250 driver, no UART answers
    Tty("ttyS1", true, 4);
    EXPECT_EQ(DeviceSerialPorts(root), (Names{"/dev/ttyS1"}));
}

TEST_F(TtyClassTree, AUsbPortsIdentityIsReadFromTheUsbDeviceAboveIt) {
    namespace fs = std::filesystem;
    const auto usb = [this](const std::string& device, const std::string& tty,
                            std::vector<std::string> identity) {
        fs::create_directories(root / "usb1" / device / tty);
        const char* files[] = {"idVendor", "idProduct", "serial"};
        for (size_t i = 0; i < identity.size(); ++i)
            std::ofstream(root / "usb1" / device / files[i]) << identity[i] << "\n";
    };
    // A converter's port sits under its interface; an ACM device's tty under the interface.
    usb("1-2", "1-2:1.0/ttyUSB0", {"10c4", "ea60", "0001"});
    usb("1-3", "1-3:1.0", {"2341", "0043"});
    fs::create_directories(root / "ttyUSB0");
    fs::create_directory_symlink(root / "usb1/1-2/1-2:1.0/ttyUSB0", root / "ttyUSB0/device");
    fs::create_directories(root / "ttyACM0");
    fs::create_directory_symlink(root / "usb1/1-3/1-3:1.0", root / "ttyACM0/device");
    Tty("ttyS0", true, 4);

    const auto converter = UsbIdentity("/dev/ttyUSB0", root);
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->vendor + " " + converter->product + " " + converter->serial,
              "10c4 ea60 0001");
    const auto acm = UsbIdentity("/dev/ttyACM0", root);
    ASSERT_TRUE(acm);
    EXPECT_EQ(acm->vendor + " " + acm->product + " [" + acm->serial + "]", "2341 0043 []");
    EXPECT_FALSE(UsbIdentity("/dev/ttyS0", root));
    EXPECT_FALSE(UsbIdentity("/dev/ttyUSB7", root));
}

TEST_F(TtyClassTree, AMissingClassDirectoryIsAFailureWithItsErrno) {
    try {
        DeviceSerialPorts(root / "absent");
        FAIL();
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

}  // namespace
}  // namespace wct
