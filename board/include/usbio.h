// The RCB-4HV board, by job: CUsbIO is the serial link (port, speed search,
// framing, memory reads and writes, time-outs); the board commands are
// functions over a link; the ROM image is built in memory without a link; the
// frame pacer times live playback.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "quenlo/platform.h"
#include "rcb4.h"

// ---- The serial link ---------------------------------------------------------
class CUsbIO {
  public:
    // Memory reads longer than this go out in several requests.
    static constexpr int kReadChunk = 128;
    static constexpr int kReplyTimeoutMs = 1000;
    static constexpr int kWriteTimeoutMs = 1000;
    // The speed search's acknowledge check: a board answers within a few ms,
    // even behind a USB adapter's latency timer.
    static constexpr int kProbeTimeoutMs = 100;
    // Speed indices 0 to 2 (index 3 runs at 115200 like 0).
    static constexpr int kSpeedsTried = 3;
    // The longest a wait goes on without looking at the stop request.
    static constexpr int kStopCheckMs = 100;

    explicit CUsbIO(std::unique_ptr<quenlo::SerialPort> port = quenlo::MakeSystemSerialPort(),
                    quenlo::Clock& clock = quenlo::SystemClock());
    virtual ~CUsbIO();
    virtual void ClosePort();
    CUsbIO(const CUsbIO&) = delete;
    CUsbIO& operator=(const CUsbIO&) = delete;

    // 0 when the port is open at the speed of bits 6-7 of the image, -1 otherwise.
    int OpenPort(const char* name);
    // Finds the speed at which the board acknowledges (twice round the three
    // speeds, from the current one) and
    // writes the image to it; answers the speed index 0 to 3, or -1.
    int Connect(const char* name);
    bool IsOpen() const;
    // Without sending anything: false once the open port has hung up or its
    // device is gone.
    bool IsAlive() const;
    // Sends one frame and reads the board's four-byte reply.
    bool Transfer(const uint8_t* frame, int length);
    bool WriteRam(uint32_t address, const uint8_t* data, int n);
    bool WriteRom(uint32_t address, const uint8_t* data, int n);
    // Read n bytes of board memory into buffer. A reply that is short, refused
    // or malformed fails the read with one line on standard error; the buffer
    // then holds nothing to rely on.
    bool ReadRam(uint32_t address, uint8_t* buffer, int n);
    bool ReadRom(uint32_t address, uint8_t* buffer, int n);

    // ---- Stopping and giving up ----------------------------------------------
    // The job that uses the link sets its stop token. Once a stop is requested
    // every wait (a reply, a pause) ends within kStopCheckMs and fails; frames
    // still go out, so a release can be sent without awaiting its answer.
    void SetStopToken(std::stop_token stop) { stop_ = std::move(stop); }
    bool stop_requested() const { return stop_.stop_requested(); }
    // Sleeps, looking at the stop request at least every kStopCheckMs; false
    // when it ended early for a stop.
    bool SleepMs(uint32_t ms);
    bool SleepUntilUs(uint64_t deadline_us);

    // A session is one job on the board (a playback with its set-up, a ROM
    // transfer). Within one, a command whose reply did not begin in either of
    // its two waits means the board is silent: every later exchange of the
    // session fails at once without being sent, and the job stops.
    void BeginSession();
    void EndSession() { in_session_ = false; }
    bool board_silent() const { return board_silent_; }
    // A write failed because the port is gone; every later exchange fails at once.
    bool port_lost() const { return port_lost_; }
    // The last exchange's frame went out whole, whatever became of its reply
    // (a stop may have cut the wait for it).
    bool frame_sent() const { return frame_sent_; }

    // Exchanges that failed (no whole reply, a refusal) since the last one that
    // succeeded, and in all.
    int failed_in_row() const { return failed_in_row_; }
    uint32_t failed_exchanges() const { return failed_exchanges_; }
    // Milliseconds of one board frame, by bits 4-5 of the image.
    int frame_period_ms() const;
    quenlo::Clock& clock() { return clock_; }

    // Every acknowledged ROM write is kept, so a transfer can read back what it
    // wrote. Ranges hold the latest bytes written at their addresses.
    struct RomRange {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    const std::vector<RomRange>& written_rom() const { return written_rom_; }
    void ForgetWrittenRom() { written_rom_.clear(); }

    // ---- State -----------------------------------------------------------
    uint16_t system_register() const { return system_register_; }
    void set_system_register(uint16_t value) { system_register_ = value; }
    int speed_index() const { return quenlo::board::SpeedCode(system_register_); }
    // The home pose the RAM set-up stored (byte 0 its length, 0 = none).
    const uint8_t* home_command() const { return home_command_; }
    void set_home_command(const uint8_t* command);

  private:
    enum class Reply { Whole, Refused, Partial, None, Stopped };
    bool Exchange(const uint8_t* frame, int length, int wait_ms, int waits);
    Reply ReadReply(uint8_t (&res)[256], int wait_ms, int waits);
    // One byte within wait_ms, looking at the stop request on the way: 1, 0 on
    // time-out, -1 on a line error, -2 for a stop.
    int ReadByte(uint8_t& byte, int wait_ms);
    bool WriteMemory(uint8_t kind, uint32_t address, const uint8_t* data, int n);
    bool ReadMemory(uint8_t kind, uint32_t address, uint8_t* buffer, int n);
    bool ReadRequest(uint8_t kind, uint32_t address, uint8_t* buffer, int n);
    // Logs and writes a frame; false (with its line) when it did not all go out.
    bool SendFrame(const uint8_t* frame, int length);
    // False, without sending, once the session gave up on the board or the port.
    bool MaySend() const { return !board_silent_ && !port_lost_; }
    void NoteRomWrite(uint32_t address, const uint8_t* data, int n);
    void LogBytes(const char* prefix, const uint8_t* bytes, int n);

    uint16_t system_register_ = 0;
    std::unique_ptr<quenlo::SerialPort> port_;
    uint8_t home_command_[256] = {};
    std::vector<RomRange> written_rom_;
    int failed_in_row_ = 0;
    uint32_t failed_exchanges_ = 0;
    bool in_session_ = false;
    bool board_silent_ = false;
    bool port_lost_ = false;
    bool frame_sent_ = false;
    std::stop_token stop_;
    quenlo::Clock& clock_;
};

namespace quenlo::board {

// ---- Board commands ----------------------------------------------------------
// Motor lists hold motor codes (group * 100 + ICS ID); a motor whose servo
// number is above 35 has no place on the board and is left out.
bool SendServoPosition(CUsbIO& link, uint8_t speed, uint16_t position, int count,
                       const int32_t* motors);
// True when the release went out on the line (its reply is not awaited after
// a stop); false when it could not be sent.
bool FreeServos(CUsbIO& link);
void HoldAndHome(CUsbIO& link, int count, const int32_t* motors);
// home: a multi-servo command (byte 0 its length) or null. False when the
// session gave up on a silent board on the way.
bool InitRam(CUsbIO& link, const uint8_t* home, int count, const int32_t* motors);
// "システム停止": the board stops its program before its ROM is rewritten.
bool StopSystem(CUsbIO& link);
bool RebootBoard(CUsbIO& link);
// How many motors of the list get a servo record.
int RecordCount(int count, const int32_t* motors);

// ---- The ROM image -----------------------------------------------------------
// One ROM write of the image, with the log text that goes before and after it.
struct RomWrite {
    std::string before;
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
    std::string after;
};

// Assembles the ROM program at a cursor, as writes in the order they go out.
class RomAssembler {
  public:
    // record_count is the number of servo records, RecordCount() of the motor
    // list; period_code the base frame period the program sets (bits 4-5 of
    // the system register: 0 = 10, 1 = 15, 2 = 20, 3 = 25 ms). It starts at 0.
    void BootProgram(int record_count, const uint8_t* home, int period_code = 0);
    void MotionLoop(int motion_count, int wait_ms);
    void ServoSettings(int count, const int32_t* motors);
    // RETURN at address; the cursor is not touched.
    void Return(uint32_t address);
    // Fills in the checksum (last byte) and stores the command at address; the
    // cursor is not touched.
    void Command(uint8_t* command, uint32_t address, int length);
    // These store at the cursor and advance it by the length stored.
    void Copy(uint32_t ram_target, uint32_t rom_source, int n);
    void ServoPosition(uint16_t position, uint8_t speed);
    void Wait(int ms);
    // Bytes as they are (a converted command) at address.
    void Raw(uint32_t address, const uint8_t* bytes, int n, std::string before = {});

    int32_t cursor() const { return cursor_; }
    // The writes assembled since the last call.
    std::vector<RomWrite> Take();

  private:
    void RamWrite16(uint32_t address, uint16_t value);
    void AtCursor(uint8_t* command, int length);
    void Log(std::string text) { pending_ += text; }

    int32_t cursor_ = 0;
    std::string pending_;  // log text for the next write
    std::vector<RomWrite> writes_;
};

// Sizes of what BootProgram and MotionLoop store, so a layout can be checked
// before the first write. home_length 0 = no home command.
int BootProgramLength(int record_count, int home_length);
int MotionLoopLength(int motion_count);
// The most motions whose play loop still fits below 0x0800 (no servos, no
// home command), and the end of the last of their slots: no image reaches
// beyond it.
int MaxMotionSlots();
uint32_t RomLayoutEnd();

// What goes into ROM: the motor list, every motion's converted commands (byte
// 0 their length), the pause between motions and the base frame period code.
struct RomSource {
    std::vector<int32_t> motors;
    std::vector<std::vector<std::vector<uint8_t>>> motions;
    int interval_ms = 0;
    int period_code = 0;
};

// A layout line: for the console (a refusal) or for standard output.
struct RomLine {
    bool console;
    std::string text;
};

// One part of the transfer, with the console line said once it is written.
// Progress is told after each write of a motion, after the whole of the others.
struct RomPart {
    std::vector<RomWrite> writes;
    std::string done;
    bool progress_each = false;
};

struct RomImage {
    bool fits = false;
    std::vector<RomLine> layout;  // in order; a refusal is a console line
    std::vector<RomPart> parts;   // boot program, play loop, servo settings, each motion
    size_t total = 0;             // bytes of every write, for a progress bar
    uint32_t end = 0;             // the end of the last byte written
    // Every byte from address 0 to end; 0xFF where nothing is written.
    std::vector<uint8_t> Bytes() const;
};

// The image, or the layout lines that say why it does not fit: everything is
// checked before the first write, since the board keeps what was written.
RomImage BuildRomImage(const RomSource& source);

// ---- The frame pacer ---------------------------------------------------------
// Paces live playback by the board's frame period (bits 4-5 of the link's image).
class FramePacer {
  public:
    explicit FramePacer(CUsbIO& link) : link_(link) {}
    // Sleeps until `frames` board frames have passed since start_ms.
    void WaitFrames(int frames, uint32_t start_ms);
    // Chained pacing: due_us is when the command just handed over was due (on
    // the clock's NowUs). Sleeps until `frames` board frames after it and
    // answers that as the next command's due time; when the exchange has
    // already run past it, the next command is due now, without catching up.
    uint64_t WaitFramesAfter(int frames, uint64_t due_us);

  private:
    CUsbIO& link_;
};

}  // namespace quenlo::board
