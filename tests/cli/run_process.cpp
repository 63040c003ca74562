// SPDX-License-Identifier: Apache-2.0
#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>

namespace wct::test {

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          int timeoutMs, const TOutputWatch& watch, const TProcessSetup& setup) {
    const bool collected = setup.outputFile.empty() && !setup.closedPipe;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
    if (setup.closedPipe) {
        close(outPipe[0]);
        outPipe[0] = -1;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (setup.outputFile.empty())
            dup2(outPipe[1], STDOUT_FILENO);
        else
            dup2(open(setup.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (outPipe[0] >= 0) close(outPipe[0]);
        close(errPipe[0]);
        signal(SIGPIPE, setup.sigpipeIgnored ? SIG_IGN : SIG_DFL);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (!collected && outPipe[0] >= 0) {
        close(outPipe[0]);
        outPipe[0] = -1;
    }
    TProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = collected ? 2 : 1;
    bool killed = false;
    while (open > 0) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        if (elapsed > timeoutMs && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (setup.running && !killed) setup.running(pid);
        if (poll(fds, 2, 100) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
                if (i == 0 && watch) watch(pid, result.out);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.elapsedMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
    if (!killed && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (!killed && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace wct::test
