// SPDX-License-Identifier: Apache-2.0
#include "serial/ecomport.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace wct {
namespace {

constexpr std::array<const char*, 23> kMessages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string ComposeMessage(int errorCode, int systemErrorCode) {
    std::string text = EComPort::MessageText(errorCode);
    if (systemErrorCode != -1) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, " (win error code: %d)", systemErrorCode);
        text += suffix;
    }
    return text;
}

// The one translation of an error number into words.
std::string SystemText(int systemErrorCode) {
    if (systemErrorCode <= 0) return {};
    // Opening a file, a FIFO or /dev/null as a port fails this way.
    if (systemErrorCode == ENOTTY) return "not a serial port";
    return std::generic_category().message(systemErrorCode);
}

}  // namespace

EComPort::EComPort(int errorCode, int systemErrorCode)
    : std::runtime_error(ComposeMessage(errorCode, systemErrorCode)),
      errorCode_(errorCode),
      systemErrorCode_(systemErrorCode),
      systemErrorText_(SystemText(systemErrorCode)) {}

std::string EComPort::MessageText(int errorCode) {
    if (errorCode < 1 || errorCode > static_cast<int>(kMessages.size())) return {};
    return kMessages[static_cast<size_t>(errorCode - 1)];
}

void CheckComResult(int errorCode, int systemError) {
    if (systemError != 0) throw EComPort(errorCode, systemError);
}

}  // namespace wct
