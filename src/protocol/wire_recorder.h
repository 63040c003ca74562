// SPDX-License-Identifier: Apache-2.0
// TWireRecorder: writes what a protocol component's wire tap sees to a recording file
// (the format of common/wire_recording.h) as it happens.
//
// Each chunk goes to the file in one write(2) of one whole line, without user-space
// buffering, so a crash of the process loses at most the line being written. Time
// stamps are microseconds of the monotonic clock since Open. A failed write (disk full)
// stops the recording; Error() then says why and nothing more is written.
#pragma once

#include <chrono>
#include <string>

#include "protocol/wire_tap.h"

namespace wct {

class TWireRecorder : public TMiraWireTap {
public:
    TWireRecorder() = default;
    ~TWireRecorder() override;
    TWireRecorder(const TWireRecorder&) = delete;
    TWireRecorder& operator=(const TWireRecorder&) = delete;

    // Creates or truncates `path` and writes the header; throws std::runtime_error with
    // the path and the system's reason when it cannot.
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Empty while all went well.
    const std::string& Error() const { return error_; }

    void Written(const std::string& bytes) override;
    void Read(const char* bytes, int count) override;

private:
    void Append(bool toDevice, const std::string& bytes);
    void WriteAll(const std::string& line);

    int fd_ = -1;
    std::string path_;
    std::string error_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace wct
