// SPDX-License-Identifier: Apache-2.0
#include "common/standard_output.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <system_error>
#include <utility>

namespace wct {

TStandardOutput::TStandardOutput(std::string program)
    : program_(std::move(program)), buffer_(*this) {
    struct sigaction inherited {};
    sigaction(SIGPIPE, nullptr, &inherited);
    pipeEndsProgram_ = inherited.sa_handler != SIG_IGN;
    previous_ = std::cout.rdbuf(&buffer_);
}

TStandardOutput::~TStandardOutput() {
    std::cout.rdbuf(previous_);
}

void TStandardOutput::Failed(int error) {
    if (error == EPIPE && pipeEndsProgram_) {
        signal(SIGPIPE, SIG_DFL);
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
        raise(SIGPIPE);
    }
    // -1: the C library failed without saying why.
    int none = 0;
    error_.compare_exchange_strong(none, error != 0 ? error : -1);
}

int TStandardOutput::Finish(int code) {
    std::cout.flush();
    if (std::fflush(stdout) != 0)
        Failed(errno);
    else if (std::ferror(stdout))
        Failed(0);
    // Some file systems (NFS) report a failed write-back only when a descriptor of the
    // file is closed; stdout itself stays open for what runs after main.
    if (const int fd = dup(STDOUT_FILENO); fd >= 0 && close(fd) != 0 && errno != EINTR)
        Failed(errno);
    const int error = error_.load();
    if (error == 0) return code;
    std::cerr << program_ << ": write error"
              << (error > 0 ? ": " + std::generic_category().message(error) : std::string())
              << '\n';
    return code == 0 ? 1 : code;
}

TStandardOutput::TBuffer::int_type TStandardOutput::TBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (std::fputc(c, stdout) == EOF) {
        owner_.Failed(errno);
        return traits_type::eof();
    }
    return c;
}

std::streamsize TStandardOutput::TBuffer::xsputn(const char* s, std::streamsize n) {
    const size_t written = std::fwrite(s, 1, static_cast<size_t>(n), stdout);
    if (written < static_cast<size_t>(n)) owner_.Failed(errno);
    return static_cast<std::streamsize>(written);
}

int TStandardOutput::TBuffer::sync() {
    if (std::fflush(stdout) == 0) return 0;
    owner_.Failed(errno);
    return -1;
}

}  // namespace wct
