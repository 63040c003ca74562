// SPDX-License-Identifier: Apache-2.0
// A PostgreSQL server of the test's own: Debian's initdb and postgres in a fresh folder,
// listening only on a Unix socket there, run as `nobody` when the test runs as root (the
// server refuses root). It ends with the test, even one a sanitizer stops.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace wct::test {

class TTestPostgres {
public:
    // Makes the cluster and starts it, with an empty database "checks". Tests run it without
    // flushing to disk; `durable` flushes each commit, as a line's server does.
    explicit TTestPostgres(bool durable = false);
    ~TTestPostgres();
    TTestPostgres(const TTestPostgres&) = delete;
    TTestPostgres& operator=(const TTestPostgres&) = delete;

    // Returns when it accepts connections.
    void Start();
    // A fast shutdown: open connections are ended.
    void Stop();
    // postgresql:///DB?host=DIR&port=P&user=wct
    std::string Url(const std::string& db = "checks") const;
    // Runs `sql` on `db`; the first column of each row. Throws std::runtime_error.
    std::vector<std::string> Query(const std::string& sql, const std::string& db = "checks") const;
    const std::string& Dir() const { return dir_; }

private:
    // Runs `program` with `args` as the server's user; its exit status.
    int Run(const std::vector<std::string>& args) const;
    pid_t Spawn(const std::vector<std::string>& args) const;

    std::string bin_;  // the folder of Debian's server programs
    std::string dir_;
    int port_ = 0;
    bool durable_;
    pid_t pid_ = -1;
};

}  // namespace wct::test
