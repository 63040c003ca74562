// SPDX-License-Identifier: Apache-2.0
#include "protocol/wire_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/wire_recording.h"

namespace wct {

TWireRecorder::~TWireRecorder() {
    Close();
}

void TWireRecorder::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write the recording " + path + ": " +
                                 std::strerror(errno));
    fd_ = fd;
    path_ = path;
    error_.clear();
    start_ = std::chrono::steady_clock::now();
    WriteAll(std::string(kWireRecordingHeader) + '\n');
    if (!error_.empty()) throw std::runtime_error(error_);
}

void TWireRecorder::Close() {
    if (fd_ < 0) return;
    if (::close(fd_) != 0 && error_.empty())
        error_ = "writing the recording " + path_ + " failed: " + std::strerror(errno);
    fd_ = -1;
}

void TWireRecorder::Written(const std::string& bytes) {
    Append(true, bytes);
}

void TWireRecorder::Read(const char* bytes, int count) {
    if (count > 0) Append(false, std::string(bytes, static_cast<size_t>(count)));
}

void TWireRecorder::Append(bool toDevice, const std::string& bytes) {
    if (fd_ < 0 || bytes.empty()) return;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start_)
                            .count();
    WriteAll(FormatWireChunk({static_cast<uint64_t>(micros),
                              toDevice ? TWireDirection::wdToDevice : TWireDirection::wdFromDevice,
                              bytes}));
}

void TWireRecorder::WriteAll(const std::string& line) {
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ =
                "writing the recording " + path_ + " failed: " + std::strerror(n < 0 ? errno : EIO);
            ::close(fd_);
            fd_ = -1;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace wct
