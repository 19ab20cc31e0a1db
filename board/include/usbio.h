// CUsbIO: the link to the RCB-4HV board. Frames and checksums every command,
// sends it over a quenlo::SerialPort, waits for the four-byte reply and dumps
// both directions to the log; on top of that, the board commands and the
// pieces of the ROM image.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quenlo/platform.h"
#include "rcb4.h"

class CUsbIO {
  public:
    // Memory reads longer than this go out in several requests.
    static constexpr int kReadChunk = 128;
    static constexpr int kReplyTimeoutMs = 1000;
    static constexpr int kWriteTimeoutMs = 1000;

    explicit CUsbIO(std::unique_ptr<quenlo::SerialPort> port = quenlo::MakeSystemSerialPort(),
                    quenlo::Clock& clock = quenlo::SystemClock());
    virtual ~CUsbIO();
    virtual void ClosePort();
    CUsbIO(const CUsbIO&) = delete;
    CUsbIO& operator=(const CUsbIO&) = delete;

    // ---- Serial link -----------------------------------------------------
    // 0 when the port is open at the speed of bits 6-7 of the image, -1 otherwise.
    int OpenPort(const char* name);
    // Finds the speed at which the board acknowledges (three attempts) and
    // writes the image to it; answers the speed index 0 to 3, or -1.
    int Connect(const char* name);
    bool IsOpen() const;
    // Sends one frame and reads the board's four-byte reply.
    bool Transfer(const uint8_t* frame, int length);
    bool WriteRam(uint32_t address, const uint8_t* data, int n);
    bool WriteRom(uint32_t address, const uint8_t* data, int n);
    // Read n bytes of board memory into buffer. A reply that is short, refused
    // or malformed fails the read with one line on standard error; the buffer
    // then holds nothing to rely on.
    bool ReadRam(uint32_t address, uint8_t* buffer, int n);
    bool ReadRom(uint32_t address, uint8_t* buffer, int n);
    // Sleeps until `frames` board frames have passed since start_ms.
    void WaitFrames(int frames, uint32_t start_ms);
    // Chained pacing: due_us is when the command just handed over was due (on
    // the clock's NowUs). Sleeps until `frames` board frames after it and
    // answers that as the next command's due time; when the exchange has
    // already run past it, the next command is due now, without catching up.
    uint64_t WaitFramesAfter(int frames, uint64_t due_us);
    // Exchanges that failed (no whole reply, a refusal) since the last one that
    // succeeded, and in all.
    int failed_in_row() const { return failed_in_row_; }
    uint32_t failed_exchanges() const { return failed_exchanges_; }
    // Milliseconds of one board frame, by bits 4-5 of the image.
    int frame_period_ms() const;
    quenlo::Clock& clock() { return clock_; }

    // ---- Board commands --------------------------------------------------
    // Motor lists hold motor codes (group * 100 + ICS ID); a motor whose servo
    // number is above 35 has no place on the board and is left out.
    bool SendServoPosition(uint8_t speed, uint16_t position, int count, const int32_t* motors);
    void FreeServos();
    void HoldAndHome(int count, const int32_t* motors);
    // home: a multi-servo command (byte 0 its length) or null.
    bool InitRam(const uint8_t* home, int count, const int32_t* motors);

    // ---- ROM image -------------------------------------------------------
    // Every acknowledged ROM write is kept, so a transfer can read back what it
    // wrote. Ranges hold the latest bytes written at their addresses.
    struct RomRange {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    const std::vector<RomRange>& written_rom() const { return written_rom_; }
    void ForgetWrittenRom() { written_rom_.clear(); }

    // "システム停止": the board stops its program before its ROM is rewritten.
    bool StopSystem();
    // record_count is the number of servo records, RecordCount() of the motor list;
    // period_code the base frame period the program sets (bits 4-5 of the
    // system register: 0 = 10, 1 = 15, 2 = 20, 3 = 25 ms).
    bool WriteBootProgram(int record_count, const uint8_t* home, int period_code = 0);
    bool WriteMotionLoop(int motion_count, int wait_ms);
    bool WriteServoSettings(int count, const int32_t* motors);
    // RETURN at the motion write address, which stays where it is.
    bool WriteReturn();
    bool RebootBoard();
    // Fills in the checksum (last byte) and stores the command at address; the
    // cursor is not touched.
    bool WriteRomCommand(uint8_t* command, uint32_t address, int length);
    // These store at the ROM cursor and advance it by the length stored.
    bool WriteRomCopy(uint32_t ram_target, uint32_t rom_source, int n);
    bool WriteRomServoPosition(uint16_t position, uint8_t speed);
    bool WriteRomWait(int ms);

    // Sizes of what WriteBootProgram and WriteMotionLoop store, so a transfer
    // can check the layout before its first write. home_length 0 = no home command.
    static int BootProgramLength(int record_count, int home_length);
    static int MotionLoopLength(int motion_count);
    // The most motions whose play loop still fits below 0x0800 (no servos, no
    // home command), and the end of the last of their slots: no image reaches
    // beyond it.
    static int MaxMotionSlots();
    static uint32_t RomLayoutEnd();
    // How many motors of the list get a servo record.
    static int RecordCount(int count, const int32_t* motors);

    // ---- State -----------------------------------------------------------
    uint16_t system_register() const { return system_register_; }
    void set_system_register(uint16_t value) { system_register_ = value; }
    int speed_index() const { return quenlo::board::SpeedCode(system_register_); }
    const uint8_t* home_command() const { return home_command_; }
    int32_t rom_cursor() const { return rom_cursor_; }
    int32_t motion_write_address() const { return motion_write_address_; }
    void set_motion_write_address(int32_t address) { motion_write_address_ = address; }

  private:
    bool Exchange(const uint8_t* frame, int length);
    bool WriteMemory(uint8_t kind, uint32_t address, const uint8_t* data, int n);
    bool ReadMemory(uint8_t kind, uint32_t address, uint8_t* buffer, int n);
    bool ReadRequest(uint8_t kind, uint32_t address, uint8_t* buffer, int n);
    // Logs and writes a frame; false (with its line) when it did not all go out.
    bool SendFrame(const uint8_t* frame, int length);
    void NoteRomWrite(uint32_t address, const uint8_t* data, int n);
    bool WriteRam16(uint32_t address, uint16_t value);
    // A RAM write of two bytes, stored as a ROM instruction at the cursor.
    bool StoreRamWrite16(uint32_t address, uint16_t value);
    bool StoreAtCursor(uint8_t* command, int length);
    void LogBytes(const char* prefix, const uint8_t* bytes, int n);

    uint16_t system_register_ = 0;
    std::unique_ptr<quenlo::SerialPort> port_;
    uint8_t home_command_[256] = {};
    int32_t rom_cursor_ = 0;
    int32_t motion_write_address_ = 0;
    std::vector<RomRange> written_rom_;
    int failed_in_row_ = 0;
    uint32_t failed_exchanges_ = 0;
    quenlo::Clock& clock_;
};
