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

// The 8250 driver registers ttyS0..ttyS31 whether or not a UART answers; an absent one
// reports port type 0 (unknown).
bool HasHardware(const fs::path& entry) {
    const std::string name = entry.filename().string();
    if (!fs::exists(entry / "device")) return false;
    if (name.rfind("ttyS", 0) != 0) return true;
    std::ifstream typeFile(entry / "type");
    int type = 0;
    return (typeFile >> type) && type != 0;
}

bool IsSerialName(const std::string& name) {
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"})
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
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

std::vector<std::string> SystemSerialPorts() {
    std::error_code error;
    fs::directory_iterator it("/sys/class/tty", error);
    if (error) throw std::system_error(error);
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        if (IsSerialName(name) && HasHardware(entry.path())) names.push_back(name);
    }
    // The directory's own order is arbitrary; a stable one keeps the dongle search
    // repeatable.
    std::sort(names.begin(), names.end());
    std::vector<std::string> ports;
    for (const std::string& name : names) ports.push_back("/dev/" + name);
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
