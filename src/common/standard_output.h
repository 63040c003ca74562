// SPDX-License-Identifier: Apache-2.0
// A command-line program's standard output, checked as GNU programs check theirs, so that
// a script never takes lost results for a success.
//
// While a TStandardOutput lives, std::cout writes through the C library's stdout and the
// first write that fails is remembered with its reason. Finish reports it on stderr as
// "PROGRAM: write error: REASON" and turns a success into exit code 1.
//
// A closed pipe ends the program as SIGPIPE does (`wct measure ... | head` ends quietly,
// at once) even when the program ignores SIGPIPE afterwards for its devices; started with
// SIGPIPE ignored, the program reports a closed pipe as any other write error.
//
// One per program, made first thing in main, before SIGPIPE's handling is changed. Writes
// may come from any thread, as through std::cout; Finish runs on the main thread at the
// end, after the last write.
#pragma once

#include <atomic>
#include <streambuf>
#include <string>

namespace wct {

class TStandardOutput {
public:
    explicit TStandardOutput(std::string program);
    ~TStandardOutput();
    TStandardOutput(const TStandardOutput&) = delete;
    TStandardOutput& operator=(const TStandardOutput&) = delete;

    // Writes out what is pending and returns the exit code: `code`, or 1 for a success
    // whose output failed (a failure's own code is kept, the write error told beside it).
    int Finish(int code);

private:
    class TBuffer : public std::streambuf {
    public:
        explicit TBuffer(TStandardOutput& owner) : owner_(owner) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int sync() override;

    private:
        TStandardOutput& owner_;
    };

    // Remembers the first failure; a closed pipe ends the program here when SIGPIPE would.
    void Failed(int error);

    std::string program_;
    bool pipeEndsProgram_;
    std::atomic<int> error_{0};
    TBuffer buffer_;
    std::streambuf* previous_;
};

}  // namespace wct
