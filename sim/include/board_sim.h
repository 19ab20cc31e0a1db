// The board simulator: an RCB-4HV stand-in that frames and acknowledges
// commands, keeps RAM and ROM, injects faults, and can replay a ROM program
// in simulated time. Used in-process (SimSerialPort) and behind a pty
// (quenlo-sim).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quenlo/platform.h"

namespace quenlo::sim {

inline constexpr uint32_t kRamSize = 0x1000;   // everything the program writes is below 0x0400
inline constexpr uint32_t kRomSize = 0x40000;  // boot program, settings and 63 motion slots
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNack = 0x15;

// Baud rate of a speed index (0 = 115200, 1 = 625000, 2 = 1250000, 3 = 115200);
// 0 for anything else.
uint32_t SpeedIndexBaud(int index);

// Faults are counted in received frames, the first frame being number 1.
// Every complete frame counts, a bad checksum included.
struct Options {
    int speed_index = 0;                       // the board's own speed
    bool nack_bad_sum = false;                 // answer a bad checksum with NACK
    std::optional<uint32_t> silent_after;      // no reply from frame N+1 on
    std::optional<uint32_t> partial_reply_at;  // frame N gets 3 reply bytes, then silence
    std::optional<uint32_t> nack_at;           // frame N gets NACK
    uint32_t reply_delay_ms = 0;               // applied by the transport
    std::optional<uint32_t> hangup_after;    // the line drops after answering frame N (0: at once)
    std::optional<uint32_t> corrupt_rom_at;  // a failing cell: stores its byte inverted
    bool no_read = false;                    // memory reads get no answer
};

// One received frame (or, for servo_commands(), one multi-servo command).
struct ReceivedFrame {
    uint64_t t_us = 0;  // time source at reception
    std::vector<uint8_t> bytes;
    bool sum_ok = false;
};

// One line of JSON per received frame, without the line break:
// {"t_us": 123, "rx": "03 FE 01", "action": "ack"}
using TraceSink = std::function<void(std::string_view line)>;

// ---- ROM replay --------------------------------------------------------------
struct RunLimits {
    uint32_t passes = 1;  // stop after this many backward JUMPs to the loop start
    uint64_t max_instructions = 1'000'000;
    uint64_t max_moves = 100'000;
    uint32_t max_call_depth = 16;
};

// One executed multi-servo move.
struct Move {
    uint64_t t_ms = 0;                // simulated time when the move starts
    uint32_t rom_address = 0;         // where its instruction is stored
    uint64_t bitmap = 0;              // servo number s is bit s (40 bits)
    uint8_t speed = 0;                // board frames
    uint32_t duration_ms = 0;         // speed x frame period
    std::vector<uint16_t> positions;  // in ascending servo-number order
    std::vector<uint8_t> frame;       // the instruction as stored
};

struct RunResult {
    bool ok = false;          // true when it stopped after the requested passes
    std::string stop_reason;  // why it stopped, e.g. "2 passes" or "invalid instruction ..."
    std::vector<Move> moves;
    uint64_t t_ms = 0;  // simulated time at the stop
    uint32_t passes = 0;
    uint64_t instructions = 0;
};

// One line per move: "t=<ms>ms servos=<10 hex digits> speed=<n> pos=<p0>,<p1>,..."
std::string FormatMove(const Move& move);

class BoardSim {
  public:
    explicit BoardSim(Options options = {});

    Options& options() { return options_; }
    const Options& options() const { return options_; }

    // Microsecond time source for traces and receive times; monotonic by default.
    void SetTimeSource(std::function<uint64_t()> now_us);
    void SetTrace(TraceSink sink);

    // The speed the other side uses. Frames are heard only when it equals ours;
    // at any other speed the bytes are noise and are dropped. 0 = unknown.
    void SetPeerBaud(uint32_t baud);
    uint32_t baud() const { return SpeedIndexBaud(options_.speed_index); }
    bool SpeedMatches() const { return peer_baud_ != 0 && peer_baud_ == baud(); }

    // Takes received bytes and appends the bytes to send back to `reply`.
    void Feed(const uint8_t* data, size_t n, std::vector<uint8_t>& reply);
    // Drops a partly received frame (the line was closed or reconfigured).
    void ResetReceiver() { rx_.clear(); }

    // True once the line dropped (hangup_after).
    bool hung_up() const { return hung_up_ || options_.hangup_after == 0u; }

    // Memory.
    const std::vector<uint8_t>& ram() const { return ram_; }
    const std::vector<uint8_t>& rom() const { return rom_; }
    uint16_t RamWord(uint32_t address) const;
    bool RomWritten(uint32_t address) const;
    // ROM from address 0 to the last byte ever written; bytes never written are 0xFF.
    std::vector<uint8_t> RomImage() const;
    // Puts an image into ROM from address 0, as if written.
    void LoadRom(const std::vector<uint8_t>& image);

    // History.
    uint32_t frame_count() const { return frame_count_; }
    const std::vector<ReceivedFrame>& frames() const { return frames_; }
    const std::vector<ReceivedFrame>& servo_commands() const { return servo_commands_; }
    int reboot_count() const { return reboots_; }

    // Executes the ROM program from address 0 as the board does after a
    // reboot, in simulated time starting at 0, on this board's RAM.
    RunResult RunRom(const RunLimits& limits);

  private:
    struct Outcome;
    Outcome Handle(const std::vector<uint8_t>& frame, bool sum_ok, uint64_t now);
    void Trace(uint64_t t_us, const uint8_t* data, size_t n, std::string_view action);
    uint64_t NowUs() const;

    Options options_;
    std::function<uint64_t()> now_us_;
    TraceSink trace_;
    uint32_t peer_baud_ = 0;
    std::vector<uint8_t> rx_;
    uint64_t last_rx_us_ = 0;
    std::vector<uint8_t> ram_;
    std::vector<uint8_t> rom_;
    std::vector<bool> rom_written_;
    size_t rom_end_ = 0;  // one past the last byte ever written
    uint32_t frame_count_ = 0;
    bool silenced_ = false;  // after a partial reply
    bool hung_up_ = false;
    int reboots_ = 0;
    std::vector<ReceivedFrame> frames_;
    std::vector<ReceivedFrame> servo_commands_;
};

// A SerialPort whose other end is a BoardSim in the same process. The board
// must outlive the port. Time passes only on `clock` (its own ManualClock when
// none is given): reply delays and read time-outs are slept on it, so reads
// never block.
class SimSerialPort : public SerialPort {
  public:
    explicit SimSerialPort(BoardSim& board, Clock* clock = nullptr);

    SerialError Open(const std::string& path, uint32_t baud) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool IsAlive() const override { return open_ && !board_.hung_up(); }
    long Write(const uint8_t* data, size_t n, int timeout_ms) override;
    int ReadByte(uint8_t& out, int timeout_ms) override;
    // Drops the reply bytes that have arrived by now; later ones stay on their way.
    void DiscardInput() override;

    // The next Open fails with this error (once).
    void FailNextOpen(SerialError error) { fail_next_open_ = error; }
    const std::string& path() const { return path_; }
    uint32_t baud() const { return baud_; }
    int open_count() const { return open_count_; }
    Clock& clock() { return *clock_; }

  private:
    struct Pending {
        uint8_t byte;
        uint32_t ready_ms;
    };
    BoardSim& board_;
    std::unique_ptr<ManualClock> own_clock_;
    Clock* clock_;
    bool open_ = false;
    std::string path_;
    uint32_t baud_ = 0;
    int open_count_ = 0;
    SerialError fail_next_open_ = SerialError::None;
    std::vector<Pending> pending_;
    size_t next_ = 0;
};

}  // namespace quenlo::sim
