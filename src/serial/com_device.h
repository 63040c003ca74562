// SPDX-License-Identifier: Apache-2.0
// The device under a port: a tty file descriptor opened non-blocking, plus the driver
// queues and overlapped operations the port's callers expect, emulated on top of it.
//
// Threads: the port uses it from the main thread, the port's event thread fills the
// input queue and drains the output queue. mutex_ protects both queues, the write
// operations and the transmit-empty flag. The descriptor itself is opened before the
// event thread starts and closed after it has been joined.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace wct {

// One overlapped write: how much of it reached the driver, whether it has ended and why.
struct TWriteOp {
    int size = 0;
    int written = 0;
    bool done = false;
    int error = 0;  // errno of a failed write
};

class TComDevice {
public:
    TComDevice() = default;
    ~TComDevice() { Close(); }
    TComDevice(const TComDevice&) = delete;
    TComDevice& operator=(const TComDevice&) = delete;

    // Every call that can fail returns 0 or the errno of the failure (a write keeps it in
    // its TWriteOp, a take in its TTake); the port raises from that.

    // The device is opened for exclusive use; Close gives that up again, or the tty would
    // stay locked against everyone but root.
    int Open(const std::string& path);
    // Pending writes end with what they wrote; the queues are emptied.
    void Close();
    int Fd() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }

    // Input queue settings, applied by the port.
    void SetInputCapacity(int bytes);
    void SetDiscardNull(bool discard);
    void SetEventChar(char value);

    struct TFill {
        int added = 0;
        bool hungUp = false;  // the other end is gone
        int queued = 0;       // bytes queued after the fill
    };
    // Event thread: moves what the descriptor holds into the input queue, up to capacity.
    TFill FillInput();
    bool InputFull();
    int InputCapacity();
    // True once after the event character arrived, whichever read took it from the tty.
    bool TakeEventCharSeen();

    struct TTake {
        int count = 0;           // bytes taken
        int error = 0;           // errno of a failed read
        bool madeRoom = false;   // the queue was full before: the event thread must look again
        bool eventChar = false;  // the event character came straight from the tty
    };
    // Up to `count` bytes, queued ones first.
    TTake TakeInput(char* buffer, int count);
    // Queued plus what the driver holds.
    int InputCount(int& count);

    // Writes what the driver takes at once and queues the rest behind earlier writes.
    std::shared_ptr<TWriteOp> Write(const char* data, int count);
    // The state of a write, read under the lock.
    TWriteOp State(const std::shared_ptr<TWriteOp>& op);
    // Hands queued output to the driver as far as it takes it; true when nothing is left.
    bool FlushOutput();
    bool OutputPending();
    // Ends `op` where it stands (a write that timed out).
    void Abandon(const std::shared_ptr<TWriteOp>& op);
    // Ends every pending write where it stands.
    void AbandonAll();
    // Event thread: true once after each batch of writes, when all of it has left the
    // driver's output queue. `drainMs` gets how long to wait before asking again.
    bool TakeTxEmpty(int& drainMs);

    // Input: the queue and the tty's input. Output: the writes not yet
    // handed to the tty; one the tty has taken in part is finished, or the peer would
    // see half a frame glued to the next one.
    int PurgeInput();
    int PurgeOutput();

private:
    struct TSegment {
        std::shared_ptr<TWriteOp> op;
        std::string bytes;
        size_t offset = 0;
    };
    bool FlushLocked();
    // Drops NULs when asked to and notes the event character; the bytes kept.
    int Admit(char* buffer, int count);

    int fd_ = -1;
    std::mutex mutex_;
    std::string input_;
    std::deque<TSegment> output_;
    int inputCapacity_ = 1024;
    bool discardNull_ = false;
    char eventChar_ = 0;
    bool eventCharSeen_ = false;
    bool txEmptyWanted_ = false;
};

}  // namespace wct
