// SPDX-License-Identifier: Apache-2.0
#include "publish/check_outbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wct::publish {
namespace fs = std::filesystem;
namespace {

constexpr const char* kSuffix = ".rec";

std::runtime_error OsError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// Writes all of `text` to `fd`.
bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TCheckOutbox::TCheckOutbox(std::string dir) : dir_(std::move(dir)) {
    std::error_code error;
    fs::create_directories(dir_, error);
    if (error || !fs::is_directory(dir_))
        throw std::runtime_error("cannot make the outbox folder " + dir_ + ": " +
                                 (error ? error.message() : "not a folder"));
}

std::string TCheckOutbox::Add(const std::string& topic, const std::string& payload) {
    // Time first, so that names sort in the order records came, across restarts too.
    static std::atomic<uint64_t> counter{0};
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    char name[64];
    std::snprintf(name, sizeof name, "%020lld-%06llu-%d%s", static_cast<long long>(ns),
                  static_cast<unsigned long long>(counter++ % 1000000), getpid(), kSuffix);
    const std::string path = dir_ + "/" + name;
    const std::string temporary = dir_ + "/." + name;

    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw OsError("cannot write the outbox record", temporary);
    const bool written = WriteAll(fd, topic + "\n" + payload) && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        if (written) errno = savedErrno;
        const auto error = OsError("cannot write the outbox record", path);
        unlink(temporary.c_str());
        throw error;
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return name;
}

std::vector<std::string> TCheckOutbox::Names() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(dir_, error)) {
        const std::string name = item.path().filename();
        if (name[0] != '.' && name.ends_with(kSuffix)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool TCheckOutbox::Read(const std::string& name, TOutboxEntry& entry) const {
    std::ifstream file(dir_ + "/" + name, std::ios::binary);
    std::string topic;
    if (!file || !std::getline(file, topic) || topic.empty()) return false;
    std::ostringstream payload;
    payload << file.rdbuf();
    entry = {name, topic, payload.str()};
    return !entry.payload.empty();
}

void TCheckOutbox::Remove(const std::string& name) {
    unlink((dir_ + "/" + name).c_str());
}

std::string TCheckOutbox::SetAside(const std::string& name) {
    const std::string aside = name + ".bad";
    if (rename((dir_ + "/" + name).c_str(), (dir_ + "/" + aside).c_str()) != 0)
        throw OsError("cannot set aside the outbox record", dir_ + "/" + name);
    return aside;
}

}  // namespace wct::publish
