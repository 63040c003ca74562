// SPDX-License-Identifier: Apache-2.0
// EComPort: the one exception type of the serial link.
//
// Every failure carries a code from 1 to 23, each with a fixed message, and the
// operating-system error number behind it (errno here), or -1 when there is none. The
// system's own text for that number rides beside the message, for those who show it.
#pragma once

#include <stdexcept>
#include <string>

namespace wct {

// Codes of EComPort. Some are numbered for completeness and raised by no operation.
enum TComPortError : int {
    ceOpenFailed = 1,
    ceWriteFailed = 2,
    ceReadFailed = 3,
    ceInvalidAsync = 4,
    cePurgeFailed = 5,
    ceAsyncCheck = 6,
    ceSetStateFailed = 7,
    ceTimeoutsFailed = 8,
    ceSetupComFailed = 9,
    ceClearComFailed = 10,
    ceModemStatFailed = 11,
    ceEscapeComFailed = 12,
    ceTransmitFailed = 13,
    ceConnChangeProp = 14,
    ceEnumPortsFailed = 15,
    ceStoreFailed = 16,
    ceLoadFailed = 17,
    ceRegFailed = 18,
    ceLedStateFailed = 19,
    ceThreadCreated = 20,
    ceWaitFailed = 21,
    ceHasLink = 22,
    ceRegError = 23,
};

class EComPort : public std::runtime_error {
public:
    // systemErrorCode -1: no operating-system error behind the failure.
    explicit EComPort(int errorCode, int systemErrorCode = -1);

    int ErrorCode() const { return errorCode_; }
    int SystemErrorCode() const { return systemErrorCode_; }
    // The system code in words: strerror's ("Permission denied"), but "not a serial port"
    // for what is no terminal (ENOTTY, whose own text speaks of ioctls); empty without a
    // code.
    const std::string& SystemErrorText() const { return systemErrorText_; }

    // The fixed text of a code; empty for a code outside 1..23.
    static std::string MessageText(int errorCode);

private:
    int errorCode_;
    int systemErrorCode_;
    std::string systemErrorText_;
};

// The one place where an operating-system error becomes an EComPort: every device call
// returns 0 or an errno, and a nonzero one raises `errorCode` with it.
void CheckComResult(int errorCode, int systemError);

}  // namespace wct
