// SPDX-License-Identifier: Apache-2.0
#include "serial/port_inventory.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/user_messages.h"
#include "common/virtual_ports.h"
#include "serial/ecomport.h"

namespace wct {
namespace {

namespace fs = std::filesystem;

TPortSource& InstalledSource() {
    static TPortSource source;
    return source;
}

std::vector<std::string> ReadSource() {
    const TPortSource& source = InstalledSource();
    return source ? source() : SystemSerialPorts();
}

// Every tty a driver has bound to a device is a serial port (ttyUSB, ttyACM, ttyS,
// ttyAMA, rfcomm, ...); consoles and pseudo-terminals have no device behind them. The
// 8250 driver registers ttyS0..ttyS31 whether or not a UART answers; an absent one
// reports port type 0 (unknown).
bool HasHardware(const fs::path& entry) {
    std::error_code error;
    if (!fs::exists(entry / "device", error)) return false;
    std::ifstream typeFile(entry / "type");
    int type = 0;
    if (!(typeFile >> type)) return true;  // drivers without a type file are all real
    return type != 0;
}

std::vector<std::string> SortedCaseInsensitive(std::vector<std::string> names) {
    auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
                return upper(static_cast<unsigned char>(x)) < upper(static_cast<unsigned char>(y));
            });
    });
    return names;
}

}  // namespace

void SetPortSource(TPortSource source) {
    InstalledSource() = std::move(source);
}

std::vector<std::string> DeviceSerialPorts(const std::filesystem::path& ttyClass) {
    std::error_code error;
    fs::directory_iterator it(ttyClass, error);
    if (error) throw std::system_error(error);
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : it) {
        if (HasHardware(entry.path())) names.push_back(entry.path().filename().string());
    }
    // The directory's own order is arbitrary; a stable one keeps the dongle search
    // repeatable.
    std::sort(names.begin(), names.end());
    std::vector<std::string> ports;
    for (const std::string& name : names) ports.push_back("/dev/" + name);
    return ports;
}

std::vector<std::string> SystemSerialPorts() {
    std::vector<std::string> ports = DeviceSerialPorts("/sys/class/tty");
    for (const std::string& path : VirtualPorts()) ports.push_back(path);
    return ports;
}

std::vector<std::string> FindSerialPorts() {
    try {
        return ReadSource();
    } catch (const std::system_error&) {
        return {};
    }
}

std::vector<std::string> ListPortsSorted() {
    try {
        return SortedCaseInsensitive(ReadSource());
    } catch (const std::system_error&) {
        UserMessages().MessageDlg("Error access registry!", TMsgDlgType::mtError, mbOK);
        return {};
    }
}

void EnumPortNames(std::vector<std::string>& target) {
    try {
        target = SortedCaseInsensitive(ReadSource());
    } catch (const std::system_error& error) {
        throw EComPort(ceRegError, error.code().value());
    }
}

}  // namespace wct
