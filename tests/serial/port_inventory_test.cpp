#include "serial/port_inventory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "common/virtual_ports.h"
#include "serial/ecomport.h"
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
    for (size_t i = 0; i + 1 < ports.size(); ++i) EXPECT_EQ(ports[i].rfind("/dev/tty", 0), 0u);
}

}  // namespace
}  // namespace wct
