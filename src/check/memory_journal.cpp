// SPDX-License-Identifier: Apache-2.0
#include "check/memory_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/hex.h"
#include "common/state_folder.h"

namespace wct::check {

TMemoryJournal::TMemoryJournal(std::string dir) : dir_(std::move(dir)) {
    std::error_code error;
    std::filesystem::create_directories(dir_, error);
    if (error || !std::filesystem::is_directory(dir_) || access(dir_.c_str(), W_OK | X_OK) != 0)
        throw EMemoryJournal("memory journal " + dir_ + ": " +
                             (error ? error.message() : std::string(std::strerror(ENOTDIR))));
}

std::string TMemoryJournal::Path(const std::string& console, uint16_t address) const {
    char name[16];
    std::snprintf(name, sizeof name, "-%04X", address);
    return dir_ + "/" + console + name;
}

void TMemoryJournal::Hold(const std::string& console, uint16_t address, const std::string& bytes) {
    const std::string path = Path(console, address);
    const std::string part = dir_ + "/." + std::filesystem::path(path).filename().string();
    const std::string text = BytesToHex(bytes) + "\n";
    const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool kept = fd >= 0 &&
                write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                fsync(fd) == 0;
    int error = errno;
    if (fd >= 0 && close(fd) != 0 && kept) {
        kept = false;
        error = errno;
    }
    if (kept && rename(part.c_str(), path.c_str()) != 0) {
        kept = false;
        error = errno;
    }
    if (!kept) {
        unlink(part.c_str());
        throw EMemoryJournal("memory journal " + path + ": " + std::strerror(error));
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
}

std::optional<std::string> TMemoryJournal::Held(const std::string& console,
                                                uint16_t address) const {
    std::ifstream file(Path(console, address));
    std::string hex;
    if (!file || !std::getline(file, hex)) return std::nullopt;
    // A file that is not whole hex was not written here: it is no entry.
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 16) return std::nullopt;
    for (const char c : hex)
        if (HexDigitValue(c) < 0) return std::nullopt;
    return HexToBytes(hex);
}

void TMemoryJournal::Release(const std::string& console, uint16_t address) {
    unlink(Path(console, address).c_str());
}

std::string TMemoryJournal::DefaultDir() {
    return StateFolder() + "memory-held";
}

}  // namespace wct::check
