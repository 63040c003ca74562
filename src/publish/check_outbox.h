// SPDX-License-Identifier: Apache-2.0
// TCheckOutbox: check records waiting for the broker's acknowledgement, one file each in
// a folder, so that neither a broker restart nor a bench restart loses one.
//
// An entry that can never be published (a topic or a record that is not whole) is set
// aside under another suffix, so that it stops no other.
// A record is written to a hidden temporary file, synced and renamed into place, so an
// entry is either whole or absent; entries sort in the order they were added. Any thread
// may Add while another lists and removes: they touch different files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wct::publish {

struct TOutboxEntry {
    std::string name;  // the file's name in the folder
    std::string topic;
    std::string payload;
};

class TCheckOutbox {
public:
    // Creates the folder when missing. Throws std::runtime_error when it cannot.
    explicit TCheckOutbox(std::string dir);

    // Throws std::runtime_error (with the OS text) when the record could not be kept.
    std::string Add(const std::string& topic, const std::string& payload);
    // The entries' names, oldest first.
    std::vector<std::string> Names() const;
    // False when the entry is gone or is not a record (then `entry` is left alone).
    bool Read(const std::string& name, TOutboxEntry& entry) const;
    // Gone already is fine.
    void Remove(const std::string& name);
    // Moves an entry that cannot be published out of the queue, to NAME.bad beside the
    // others, where a person can look at it; returns that name. Throws std::runtime_error
    // (with the OS text) when it cannot be moved.
    std::string SetAside(const std::string& name);
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
};

}  // namespace wct::publish
