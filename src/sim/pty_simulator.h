// SPDX-License-Identifier: Apache-2.0
// What every device simulator has in common: the master side of a pseudo-terminal whose
// slave path is served as the device's serial port, one thread that plays the device,
// an outgoing line that can be made unreliable on demand, and a hex log.
//
// Threads. The simulator thread owns the pseudo-terminal, the outgoing queue and the
// whole device state of the derived simulator. Every public operation (here and in the
// derived classes) may be called from any thread: it is handed to the simulator thread
// and waits until done, so callers never see half-applied changes. Before Start and
// after Stop such calls run on the caller's thread. The only lock guards that hand-over
// queue. The log sink runs on the simulator thread.
//
// Time. A device keeps its own clock whatever the PC does: by any moment it has sent
// what its schedule says. The thread sleeps until its next work is due; when it wakes
// late (a busy machine), it first does everything that fell due meanwhile, each piece as
// of its own time, and only then takes in calls and received bytes. Bytes the PC did not
// read wait on the line, as they would on a serial port.
//
// Vanish closes the master; the slave path stops working at once (readers get an error
// or hang-up). Return opens a new pseudo-terminal: the slave path usually changes, so a
// client must ask PortPath() again, or open the link path (TSimSettings::linkPath), a
// symbolic link that follows the current pseudo-terminal and is absent while vanished,
// as a re-plugged USB device keeps its name.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "common/hex.h"
#include "sim/frame_reader.h"
#include "sim/sim_clock.h"

namespace wct::sim {

// Faults of the outgoing line, shared by all simulators.
struct TLinkFaults {
    double dropFraction = 0;    // share of outgoing frames that are never sent, 0 to 1
    uint32_t replyDelayMs = 0;  // answers to requests leave this much later (clock ms)
    size_t splitMaxChunk = 0;   // above 0: frames go out in chunks of 1 to this many bytes
    bool garbage = false;       // 1 to 4 noise bytes, never a start byte, before each frame
};

using TLogSink = std::function<void(const std::string& line)>;

struct TSimSettings {
    TSimClock* clock = nullptr;  // DefaultClock() when null; must outlive the simulator
    TLogSink log;                // received and sent bytes in hex, and what was ignored
    bool registerPort = false;   // list the slave path among the in-process virtual ports
    uint32_t seed = 1;           // for the random choices of faults and ride profiles
    std::string linkPath;        // when set, a symbolic link there names the current pty
};

// The line settings a client gave the slave side.
struct TLineSettings {
    unsigned baudRate = 0;
    int dataBits = 8;
    char parity = 'N';  // N, E or O
    int stopBits = 1;
    bool operator==(const TLineSettings&) const = default;
};

// "9600 8E1"
std::string LineSettingsText(const TLineSettings& settings);

class TPtySimulator {
public:
    virtual ~TPtySimulator();
    TPtySimulator(const TPtySimulator&) = delete;
    TPtySimulator& operator=(const TPtySimulator&) = delete;

    // Opens the pseudo-terminal (raw mode) and starts the thread. Throws std::system_error.
    void Start();
    // Stops and joins the thread; the pseudo-terminal is closed.
    void Stop();

    // The slave path to open as the serial port; empty while vanished or not started.
    std::string PortPath();
    // The symbolic link that follows the slave path; empty when none was asked for.
    const std::string& LinkPath() const { return linkPath_; }
    void SetLinkFaults(const TLinkFaults& faults);
    void Vanish();
    // Throws std::system_error when no pseudo-terminal can be opened.
    void Return();

protected:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
    // A thread is late by a few seconds at worst. Further behind, the clock jumped (a
    // test's virtual clock installed, a machine woken from sleep): what fell due this
    // long ago or longer is not owed.
    static constexpr int64_t kMaxCatchUpMs = 10000;

    // `frameStart` is the byte that garbage never contains.
    TPtySimulator(const TSimSettings& settings, uint8_t frameStart);

    // Simulator thread. Derived destructors must call Stop() first.
    virtual void Received(std::string_view bytes) = 0;
    // Does all the work due by `now` (ms since construction), each piece as of the time it
    // fell due, oldest first, and returns when the next is due. The thread calls it when
    // it wakes, whether late or not, before it takes in calls or received bytes.
    virtual int64_t Tick(int64_t now) = 0;
    // The first of `due`, `due` + `period` ... that is owed (see kMaxCatchUpMs) at `now`.
    static int64_t Recent(int64_t due, int64_t period, int64_t now);

    // Queues a frame for the line, through the link faults. `answer` marks replies to a
    // request (the ones the reply delay holds back). Frames leave in order.
    void Send(std::string frame, bool answer);
    int64_t Now() const { return now_; }
    std::mt19937& Random() { return random_; }
    void Log(const std::string& line) const;
    // What the client last set on the line; nothing while vanished.
    std::optional<TLineSettings> SlaveLineSettings() const;
    // Lets the next client set parity again (see the .cpp); invisible to the current one.
    void RelaxSlaveLine() const;
    // Feeds received bytes to `reader` and hands each complete frame to `handle`; what
    // the reader skips is logged as ignored.
    void HandleFrames(TFrameReader& reader, std::string_view bytes,
                      const std::function<void(const std::string&)>& handle);
    // Runs `work` on the simulator thread and waits for it (see the header comment).
    void Call(const std::function<void()>& work);

private:
    struct TOutgoing {
        int64_t due;
        std::deque<std::string> chunks;
    };

    void OpenPty();
    void ClosePty();
    void PointLink();
    void Loop();
    // Ticks and flushes; returns when the thread must wake next.
    int64_t CatchUp();
    void UpdateNow();
    bool RunCalls();
    void Flush();
    void Write(const std::string& bytes);

    TSimClock& clock_;
    TLogSink log_;
    bool registerPort_;
    std::string linkPath_;
    uint8_t frameStart_;
    std::mt19937 random_;

    // Simulator thread.
    int master_ = -1;
    int slaveKeeper_ = -1;  // our own slave descriptor: no hang-up between clients
    std::string path_;
    uint32_t lastRaw_;
    int64_t now_ = 0;
    TLinkFaults faults_;
    std::deque<TOutgoing> outgoing_;

    int wakeFd_ = -1;
    std::thread thread_;
    std::mutex callsMutex_;  // protects calls_, running_, stopping_ and Start's thread_
    std::deque<std::packaged_task<void()>> calls_;
    bool running_ = false;
    bool stopping_ = false;
};

}  // namespace wct::sim
