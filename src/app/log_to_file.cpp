// SPDX-License-Identifier: Apache-2.0
#include "app/log_to_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "common/locale_info.h"
#include "common/tick_count.h"

namespace wct {
namespace {

std::mutex directoryMutex;  // protects executableDirectory
std::string executableDirectory;

std::string SystemText(int error) {
    return std::strerror(error);
}

std::string Strftime(const std::tm& local, const char* format) {
    char text[128];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

}  // namespace

std::string ExecutableDirectory() {
    {
        std::lock_guard lock(directoryMutex);
        if (!executableDirectory.empty()) return executableDirectory;
    }
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "./";
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

void SetExecutableDirectory(const std::string& directory) {
    std::lock_guard lock(directoryMutex);
    executableDirectory = directory;
    if (!executableDirectory.empty() && executableDirectory.back() != '/')
        executableDirectory += '/';
}

std::string FormatDateTime(const std::string& format, std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()) % 1000;

    std::string out;
    size_t i = 0;
    // Longest token first at each position.
    auto take = [&](const char* token) {
        const size_t n = std::strlen(token);
        if (format.compare(i, n, token) != 0) return false;
        i += n;
        return true;
    };
    while (i < format.size()) {
        const char c = format[i];
        if (c == '"' || c == '\'') {
            const size_t end = format.find(c, i + 1);
            const size_t stop = end == std::string::npos ? format.size() : end;
            out.append(format, i + 1, stop - i - 1);
            i = stop == format.size() ? stop : stop + 1;
        } else if (take("ddddd")) {
            out += Strftime(local, "%x");
        } else if (take("c")) {
            out += LocaleInfo().DateTimeText(when);
        } else if (take("tt")) {
            out += Strftime(local, "%X");
        } else if (take("t")) {
            out += Strftime(local, "%H:%M");
        } else if (take("yyyy")) {
            out += std::to_string(local.tm_year + 1900);
        } else if (take("yy")) {
            out += TwoDigits(local.tm_year % 100);
        } else if (take("mm")) {
            out += TwoDigits(local.tm_mon + 1);
        } else if (take("m")) {
            out += std::to_string(local.tm_mon + 1);
        } else if (take("dd")) {
            out += TwoDigits(local.tm_mday);
        } else if (take("d")) {
            out += std::to_string(local.tm_mday);
        } else if (take("hh")) {
            out += TwoDigits(local.tm_hour);
        } else if (take("h")) {
            out += std::to_string(local.tm_hour);
        } else if (take("nn")) {
            out += TwoDigits(local.tm_min);
        } else if (take("n")) {
            out += std::to_string(local.tm_min);
        } else if (take("ss")) {
            out += TwoDigits(local.tm_sec);
        } else if (take("s")) {
            out += std::to_string(local.tm_sec);
        } else if (take("zzz")) {
            char text[8];
            std::snprintf(text, sizeof text, "%03d", static_cast<int>(ms.count()));
            out += text;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

TLogToFile::TLogToFile(TComponent* owner) : TComponent(owner) {}

TLogToFile::~TLogToFile() {
    if (fd_ >= 0) close(fd_);
}

void TLogToFile::SetLogFileName(const std::string& value) {
    if (value == logFileName_) return;
    logFileName_ = value;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void TLogToFile::DefineProperties(TPropertyList& p) {
    using C = TLogToFile;
    p.Bind("LogFileName", this, &C::logFileName_, &C::SetLogFileName, "LogFile.Txt");
    p.Bind("OverwriteExistingFile", this, &C::overwriteExistingFile_, false);
    p.Bind("ClearonCreate", this, &C::clearOnCreate_, false);
    p.Bind("IncDateTime", this, &C::incDateTime_, false);
    p.Bind("IncPrefix", this, &C::incPrefix_, false);
    p.Bind("IncSeparator", this, &C::incSeparator_, false);
    p.Bind("IncSuffix", this, &C::incSuffix_, false);
    p.Bind("Prefix", this, &C::prefix_, "");
    p.Bind("Separator", this, &C::separator_, "");
    p.Bind("Suffix", this, &C::suffix_, "");
    p.Bind("DateTimeFormatStr", this, &C::dateTimeFormatStr_, "c");
}

void TLogToFile::Loaded() {
    TComponent::Loaded();
    if (!clearOnCreate_) return;
    const bool overwrite = overwriteExistingFile_;
    overwriteExistingFile_ = true;
    if (OpenLog()) CloseLog();
    overwriteExistingFile_ = overwrite;
}

bool TLogToFile::OpenLog() {
    if (!logFileName_.empty() && logFileName_[0] != '/')
        logFileName_ = ExecutableDirectory() + logFileName_;
    if (fd_ >= 0) close(fd_);
    // O_CREAT makes a missing file, so one mode covers both the append cases.
    const int mode = overwriteExistingFile_ ? O_TRUNC : O_APPEND;
    fd_ = open(logFileName_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0666);
    openError_ = fd_ < 0 ? errno : 0;
    checked_ = GetTickCount();
    struct stat opened {};
    if (fd_ >= 0 && fstat(fd_, &opened) == 0) {
        device_ = opened.st_dev;
        inode_ = opened.st_ino;
        size_ = static_cast<uint64_t>(opened.st_size);
    }
    return fd_ >= 0;
}

bool TLogToFile::Moved() {
    const uint32_t now = GetTickCount();
    if (now - checked_ < kMovedCheckMs) return false;
    checked_ = now;
    struct stat named {};
    return stat(logFileName_.c_str(), &named) != 0 || named.st_dev != device_ ||
           named.st_ino != inode_;
}

void TLogToFile::Fail(int error) const {
    throw EInOutError("Cannot write the log file " + logFileName_ + ": " + SystemText(error),
                      error);
}

void TLogToFile::CloseLog() {
    // Not open: the reason is the failed open's, when there was one.
    if (fd_ < 0) Fail(openError_ != 0 ? openError_ : EBADF);
    const int result = close(fd_);
    fd_ = -1;
    if (result != 0) Fail(errno);
}

void TLogToFile::Rotate() {
    if (rename(logFileName_.c_str(), (logFileName_ + ".1").c_str()) == 0) OpenLog();
}

void TLogToFile::Write(const std::string& line) {
    const std::string bytes = line + "\r\n";
    // Never on an empty file: a line longer than the limit still goes somewhere.
    if (fd_ >= 0 && maxFileBytes_ != 0 && size_ != 0 && size_ + bytes.size() > maxFileBytes_)
        Rotate();
    if (fd_ < 0) Fail(openError_ != 0 ? openError_ : EBADF);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            close(fd_);
            fd_ = -1;
            Fail(error);
        }
        done += static_cast<size_t>(n);
        size_ += static_cast<uint64_t>(n);
    }
}

void TLogToFile::WriteLog(const std::string& text, int blankBefore, int blankAfter) {
    if (fd_ < 0 || overwriteExistingFile_ || Moved()) OpenLog();
    for (int i = 0; i < blankBefore; ++i) Write("");
    std::string head;
    if (incPrefix_) head += prefix_;
    if (incDateTime_) {
        // Not `= "c"`, on which GCC 12 at -O3 warns falsely (-Wrestrict).
        if (dateTimeFormatStr_.empty()) dateTimeFormatStr_.push_back('c');
        head += FormatDateTime(dateTimeFormatStr_, std::chrono::system_clock::now());
    }
    if (incSeparator_) head += separator_;
    Write(incSuffix_ ? head + text + suffix_ : head + text);
    for (int i = 0; i < blankAfter; ++i) Write("");
}

}  // namespace wct
