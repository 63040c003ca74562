// SPDX-License-Identifier: Apache-2.0
#include "test_postgres.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "publish/test_broker.h"

namespace wct::test {
namespace {

// /usr/lib/postgresql/<version>/bin of the newest version installed.
std::string ServerPrograms() {
    std::string found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/postgres") && bin > found) found = bin;
    }
    if (found.empty())
        throw std::runtime_error(
            "no PostgreSQL server under /usr/lib/postgresql (scripts/setup.sh)");
    return found;
}

}  // namespace

TTestPostgres::TTestPostgres(bool durable)
    : bin_(ServerPrograms()), port_(FreePort()), durable_(durable) {
    char dir[] = "/tmp/wct-pg-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr || chown(dir, nobody->pw_uid, nobody->pw_gid) != 0)
            throw std::runtime_error("cannot give " + dir_ + " to nobody");
    }
    if (Run({bin_ + "/initdb", "-D", dir_ + "/data", "-A", "trust", "-U", "wct", "-E", "UTF8",
             "--locale=C", "--no-sync"}) != 0)
        throw std::runtime_error("initdb failed; see " + dir_ + "/log");
    Start();
    Query("CREATE DATABASE checks", "postgres");
}

TTestPostgres::~TTestPostgres() {
    Stop();
    std::filesystem::remove_all(dir_);
}

pid_t TTestPostgres::Spawn(const std::vector<std::string>& args) const {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(126);
    }
    // After setuid, which clears it: no server outlives the test.
    prctl(PR_SET_PDEATHSIG, SIGQUIT);
    const int log = open((dir_ + "/log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int TTestPostgres::Run(const std::vector<std::string>& args) const {
    int status = 0;
    waitpid(Spawn(args), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TTestPostgres::Start() {
    pid_ = Spawn({bin_ + "/postgres", "-D", dir_ + "/data", "-p", std::to_string(port_), "-k", dir_,
                  "-c", "listen_addresses=", "-c", durable_ ? "fsync=on" : "fsync=off"});
    const std::string url = Url("postgres");
    for (int i = 0; i < 3000; ++i) {
        if (PQping(url.c_str()) == PQPING_OK) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("PostgreSQL did not start; see " + dir_ + "/log");
}

void TTestPostgres::Stop() {
    if (pid_ < 0) return;
    kill(pid_, SIGINT);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string TTestPostgres::Url(const std::string& db) const {
    return "postgresql:///" + db + "?host=" + dir_ + "&port=" + std::to_string(port_) + "&user=wct";
}

std::vector<std::string> TTestPostgres::Query(const std::string& sql, const std::string& db) const {
    PGconn* conn = PQconnectdb(Url(db).c_str());
    PGresult* result = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    std::vector<std::string> rows;
    for (int i = 0; i < PQntuples(result); ++i) rows.push_back(PQgetvalue(result, i, 0));
    const std::string why = PQerrorMessage(conn);
    PQclear(result);
    PQfinish(conn);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(sql + ": " + why);
    return rows;
}

}  // namespace wct::test
