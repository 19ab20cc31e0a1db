// Operating-system services used by the rest of Quenlo: the log streams, the
// millisecond clock and the serial port. Nothing above this layer includes a
// system header for them; CMake picks the implementation files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

// ---- Log streams -----------------------------------------------------------
// Progress and hex dumps go to Out, failures to Err. By default they reach the
// process's standard output and standard error; a program (or a test) may route
// them elsewhere, for instance into the console pane.
enum class Stream { Out, Err };
using LogSink = std::function<void(Stream, std::string_view)>;

// Installs a sink; an empty function restores the standard streams. The sink
// is called on the logging thread, outside any lock of this layer, possibly
// from several threads at once; a sink that serves a user interface only
// posts the text and never waits for that interface.
void SetLogSink(LogSink sink);
void LogWrite(Stream stream, std::string_view text);
void LogOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogErr(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Captures both streams while it lives (tests, and callers that show the log).
// Read out() and err() once the threads that log have finished.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    void clear() { out_.clear(), err_.clear(); }

  private:
    std::mutex mutex_;
    std::string out_, err_;
};

// ---- Clock -----------------------------------------------------------------
// A millisecond clock that wraps like a 32-bit counter, and sleeps. Timing code
// takes a Clock& so tests can substitute a manual one. NowUs is the same clock
// in microseconds, without the wrap; SleepUntilUs sleeps until a time on it, so
// that pacing against chained deadlines does not add up late wake-ups.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    virtual uint64_t NowUs() = 0;
    virtual void SleepUntilUs(uint64_t deadline_us) = 0;
};
Clock& SystemClock();

// A clock that only moves when told to (or when slept on). For tests: it keeps
// every sleep and every deadline slept to.
class ManualClock : public Clock {
  public:
    explicit ManualClock(uint32_t start_ms = 0) : now_us_(uint64_t{start_ms} * 1000) {}
    uint32_t NowMs() override { return static_cast<uint32_t>(now_us_ / 1000); }
    void SleepMs(uint32_t ms) override { now_us_ += uint64_t{ms} * 1000, slept_.push_back(ms); }
    uint64_t NowUs() override { return now_us_; }
    void SleepUntilUs(uint64_t deadline_us) override {
        deadlines_.push_back(deadline_us);
        if (deadline_us > now_us_) now_us_ = deadline_us;
    }
    void Advance(uint32_t ms) { now_us_ += uint64_t{ms} * 1000; }
    void AdvanceUs(uint64_t us) { now_us_ += us; }
    const std::vector<uint32_t>& slept() const { return slept_; }
    const std::vector<uint64_t>& deadlines() const { return deadlines_; }

  private:
    uint64_t now_us_;
    std::vector<uint32_t> slept_;
    std::vector<uint64_t> deadlines_;
};

// While it lives, the calling thread runs with real-time scheduling
// (SCHED_FIFO at a low priority) where the system allows it, and with 1 µs of
// timer slack; both are restored at its end. For a thread that paces a board.
class TimingThread {
  public:
    TimingThread();
    ~TimingThread();
    TimingThread(const TimingThread&) = delete;
    TimingThread& operator=(const TimingThread&) = delete;
    bool realtime() const { return realtime_; }
    // Why real-time scheduling was refused (e.g. "Operation not permitted").
    const std::string& refusal() const { return refusal_; }

  private:
    bool realtime_ = false;
    int policy_ = 0, priority_ = 0;
    long slack_ns_ = 0;
    std::string refusal_;
};

// ---- Serial port -----------------------------------------------------------
// Bytes and deadlines only: framing lives above this layer.
enum class SerialError {
    None,
    Open,         // the device could not be opened for exclusive use
    GetState,     // its current settings could not be read
    BuildState,   // the speed cannot be expressed for this device
    SetState,     // the settings (speed, 8E1, raw, RTS off) were refused
    SetTimeouts,  // the read/write deadlines could not be set
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;
    // Opens the device for exclusive use at the given baud rate, 8 data bits,
    // even parity, 1 stop bit, raw, RTS off. On failure the port stays closed.
    virtual SerialError Open(const std::string& path, uint32_t baud) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Writes all bytes within timeout_ms; answers the number written, -1 on error.
    virtual long Write(const uint8_t* data, size_t n, int timeout_ms) = 0;
    // Reads one byte: at once when one waits, otherwise waits up to timeout_ms.
    // Answers 1 with a byte, 0 on time-out, -1 on error.
    virtual int ReadByte(uint8_t& out, int timeout_ms) = 0;
    // Drops every byte received and not yet read: a reply that came after its
    // time-out must not pass for the answer to the next command.
    virtual void DiscardInput() = 0;
    // Without sending or reading: false once the open port has hung up, failed
    // or lost its device (a USB adapter pulled out).
    virtual bool IsAlive() const { return IsOpen(); }
};

// The operating system's serial port.
std::unique_ptr<SerialPort> MakeSystemSerialPort();

// Device path for a port name: a path, or a file that exists here, as given;
// any other name under /dev.
std::string SerialDevicePath(const std::string& name);

// Why a serial device cannot be opened, in the words an operator acts on.
// Without the permission to open it: the group that owns the device (usually
// dialout) and how to join it.
std::string SerialOpenReason(const std::string& path, int error);

// ---- Serial devices --------------------------------------------------------
// One serial device of the system, in the system's order. friendly_name is
// "<description> (<port name>)", e.g. "FT232R USB UART (ttyUSB0)".
struct SerialDevice {
    std::string description;
    std::string friendly_name;  // empty when the device has none
};
// The serial ports present now; empty when the device list cannot be had.
std::vector<SerialDevice> ListSerialDevices();

// ---- Output files ----------------------------------------------------------
// The one way a program writes a file it produces (a ROM image, a backup, a
// PNG, a converted model). Whole or not at all:
// - a regular file, or a path where nothing is yet: the bytes go to a new
//   temporary file with a random name in the same folder (created with
//   O_CREAT|O_EXCL|O_NOFOLLOW, so a planted file or link is never written
//   through), which is synced and renamed over the target only by Commit; the
//   folder is synced after. A replaced file keeps its permission bits.
// - a symbolic link: the file it names is replaced (as cp does), not the link;
//   a link to nothing is refused.
// - a character device or a FIFO (-o /dev/null, /dev/stdout, a pipe): written
//   directly.
// - a folder, a socket or a block device: refused.
// Any failure, and destruction before Commit, removes the temporary file and
// leaves the old target as it was.
//
//   OutputFile out(path);
//   if (!out.Open() || !out.Write(bytes.data(), bytes.size()) || !out.Commit())
//       report(out.error());  // "cannot write PATH: REASON"
class OutputFile {
  public:
    // `random` gives the temporary names' random part; tests plant files there.
    explicit OutputFile(std::string path, std::function<uint64_t()> random = {});
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks the target and creates the temporary file (or opens the device),
    // so that a command can refuse before it does any work.
    bool Open();
    // Appends bytes; every write is checked. After a failure, false until the end.
    bool Write(const void* data, size_t size);
    bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
    // Syncs, closes (checked) and puts the file in place.
    bool Commit();

    const std::string& path() const { return path_; }
    // Why the last step failed: "cannot write PATH: REASON".
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& reason);
    void Discard();

    std::string path_;
    std::function<uint64_t()> random_;
    std::string target_;     // the file replaced: the path, or where its links lead
    std::string temporary_;  // empty when writing a device or FIFO directly
    int slot_ = -1;          // where a signal finds the temporary file, or -1
    int fd_ = -1;
    bool failed_ = false;
    std::string error_;
};

// Ends the program on SIGINT or SIGTERM as a writing command must: the
// temporary files of the outputs not yet committed are removed (their targets
// stay as they were), standard error gets `said` + the signal's name ("SIGINT")
// + `unwritten` (left out when an output was committed since this call) and a line
// end, and the exit status is 128 + the signal's number. A later call replaces
// the texts.
void EndOnSignalWithoutOutputs(const std::string& said, const std::string& unwritten);

// Opens, writes and commits in one call; false with the reason in *error.
bool WriteOutputFile(const std::string& path, const void* data, size_t size, std::string* error);

// True when both paths name the same file (by path, symbolic or hard link):
// an output that is also an input is refused before any work.
bool SameFile(const std::string& a, const std::string& b);

// ---- Standard streams ------------------------------------------------------
// Opens /dev/null as each of fds 0, 1 and 2 that is closed, so that no device or
// file the program opens later becomes one of them. First thing in main.
void EnsureStandardStreams();

// ---- Standard error --------------------------------------------------------
// Routes file descriptor 2 through a pipe while it lives. Its own thread drains
// the pipe and hands each complete line (without its line end) to `line`;
// another passes every chunk on to the real standard error. That callback runs
// on the reader thread and must not wait for another thread, so that a writer
// of much output on any thread never blocks for good. When the real standard
// error stalls, what it has not taken beyond 1 MiB is dropped for it (never
// for `line`) and counted.
class StderrCapture {
  public:
    using LineSink = std::function<void(std::string_view line)>;
    explicit StderrCapture(LineSink line);
    ~StderrCapture();  // delivers what is left, restores fd 2
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // False when fd 2 could not be redirected (it then stays as it was).
    bool active() const;
    // Returns once every line written to fd 2 before the call has been handed
    // to the callback, so it can be shown in order with what follows it.
    void Sync();
    // Lines the real standard error did not get because it stalled.
    size_t dropped_lines() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quenlo
