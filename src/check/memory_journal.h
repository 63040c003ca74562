// SPDX-License-Identifier: Apache-2.0
// What a memory step found at an address before it wrote its test pattern there, kept on
// disk until the step has put it back. A run killed in between (power cut, SIGKILL, a
// lost dongle) leaves the pattern in the console and this note of what belongs there;
// the next memory step on that console writes it back before anything else.
//
// One small file per console and address in a folder (memory-held/ in the state folder),
// written beside its name, synced and renamed, so that an entry is whole or absent.
// A console is known by its serial when the run has read it, else by its ID.
// Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace wct::check {

class EMemoryJournal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TMemoryJournal {
public:
    // Creates the folder when missing; throws EMemoryJournal naming it when it cannot.
    explicit TMemoryJournal(std::string dir);

    // Before the pattern is written. Throws EMemoryJournal: then nothing may be written.
    void Hold(const std::string& console, uint16_t address, const std::string& bytes);
    // What an unfinished step held there; none when every step put its bytes back.
    std::optional<std::string> Held(const std::string& console, uint16_t address) const;
    // After the bytes are back. One that cannot be removed only costs a needless restore.
    void Release(const std::string& console, uint16_t address);

    const std::string& Dir() const { return dir_; }
    // memory-held/ in the state folder.
    static std::string DefaultDir();

private:
    std::string Path(const std::string& console, uint16_t address) const;

    std::string dir_;
};

}  // namespace wct::check
