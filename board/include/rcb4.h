// The RCB-4HV's numbers: command frames, command codes and memory-move
// sub-types, the RAM locations Quenlo writes, the system register's fields,
// the ROM layout of Quenlo's image and the serial speeds. Everything that
// builds or reads board commands takes them from here (docs/rom.md and
// docs/board-memory.md describe them).
#pragma once

#include <cstdint>

namespace quenlo::board {

// ---- Frames ----------------------------------------------------------------
// Byte 0 is the frame's length (3 to 255), byte 1 its command code, the last
// byte the sum of all bytes before it, modulo 256.
inline constexpr int kLongestFrame = 255;
// The board answers a command with four bytes: 04, the command code, ACK or
// NACK, the sum.
inline constexpr int kReplyLength = 4;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNack = 0x15;

// ---- Command codes (byte 1) ------------------------------------------------
inline constexpr uint8_t kCmdMemory = 0x00;   // memory move; byte 2 its sub-type
inline constexpr uint8_t kCmdCompare = 0x07;  // the ROM wait's step
inline constexpr uint8_t kCmdJump = 0x0B;     // target (3 bytes), condition
inline constexpr uint8_t kCmdCall = 0x0C;     // target (3 bytes), condition
inline constexpr uint8_t kCmdReturn = 0x0D;
inline constexpr uint8_t kCmdServos = 0x10;    // multi-servo positions
inline constexpr uint8_t kCmdAckCheck = 0xFE;  // 03 FE 01: does the board answer?

// Conditions of JUMP and CALL.
inline constexpr uint8_t kAlways = 0x00;
inline constexpr uint8_t kWhileWaiting = 0x04;  // the wait's counter has not run out

// Memory-move sub-types (byte 2): (destination << 4) | source, with RAM 0,
// the serial line 2 and ROM 3. Addresses are 24 bits, low byte first.
inline constexpr uint8_t kLineToRam = 0x02;  // RAM write
inline constexpr uint8_t kLineToRom = 0x32;  // ROM write
inline constexpr uint8_t kRomToRam = 0x03;   // copy
inline constexpr uint8_t kRamToLine = 0x20;  // RAM read
inline constexpr uint8_t kRomToLine = 0x23;  // ROM read
// A write is length, code, sub-type, address (3), data, sum.
inline constexpr int kWriteOverhead = 7;
inline constexpr int kLongestWrite = kLongestFrame - kWriteOverhead;  // 248 data bytes
// A read asks for 1 to 248 bytes (the reply's length byte is 8 bits).
inline constexpr int kLongestRead = 248;
inline constexpr uint32_t kAddressLimit = 0x1000000;  // 24-bit addresses

// ---- RAM -------------------------------------------------------------------
inline constexpr uint32_t kRamSystemRegister = 0x0000;
inline constexpr uint32_t kRamSetUpWord = 0x0002;  // cleared by the RAM set-up
inline constexpr uint32_t kRamAio = 0x000C;        // AIO settings, kAioBytes of them
inline constexpr int kAioBytes = 22;
inline constexpr uint32_t kRamPioDirection = 0x0038;
inline constexpr uint32_t kRamPioPort = 0x003A;  // the LEDs of the play loop
inline constexpr uint32_t kRamWaitCounter = 0x003C;
inline constexpr uint32_t kRamServoTable = 0x0044;
inline constexpr uint32_t kRamJumpVector = 0x008C;
inline constexpr uint32_t kRamServoRecords = 0x0090;

inline constexpr uint16_t kPioOutputs = 0x03FF;  // what the set-up writes to kRamPioDirection
inline constexpr uint16_t kJumpVectorCleared = 0xFFFF;
inline constexpr uint16_t kWaitStepMs = 100;  // one count of kRamWaitCounter

// ---- System register -------------------------------------------------------
inline constexpr uint16_t kSysServoOutput = 0x0001;  // bit 0: servos powered
inline constexpr uint16_t kSysLivePlay = 0x0004;     // bit 2: set by live playback
inline constexpr uint16_t kSysLed = 0x8000;          // bit 15
inline constexpr int kSysPeriodShift = 4;            // bits 4-5: base frame period code
inline constexpr uint16_t kSysPeriodBits = 0x0030;
inline constexpr int kSysSpeedShift = 6;  // bits 6-7: serial speed code
inline constexpr uint16_t kSysSpeedBits = 0x00C0;
inline constexpr int kSysServoSpeedShift = 13;  // bits 13-14: servo-bus speed code

// By code: the base frame period and the serial speed.
inline constexpr int kFramePeriodMs[4] = {10, 15, 20, 25};
inline constexpr uint32_t kSerialSpeeds[4] = {115200, 625000, 1250000, 115200};

inline constexpr int PeriodCode(uint16_t system_register) {
    return (system_register & kSysPeriodBits) >> kSysPeriodShift;
}
inline constexpr int SpeedCode(uint16_t system_register) {
    return (system_register & kSysSpeedBits) >> kSysSpeedShift;
}

// ---- Servos ----------------------------------------------------------------
// Motor code = group * 100 + ICS ID; servo number = group + 2 * ID, the servo's
// bit in a command's bitmap, its order among the positions and its entry in
// the servo table. -1 for a code that cannot be one.
inline constexpr int ServoNumber(int32_t motor_code) {
    return motor_code < 0 ? -1 : motor_code / 100 + 2 * (motor_code % 100);
}

// A multi-servo command: length 2n + 9, kCmdServos, five bitmap bytes, the
// speed in board frames, n positions (16 bits, low byte first), the sum.
inline constexpr int kBitmapServos = 40;  // servo numbers 0 to 39
inline constexpr int kServosSpeedByte = 7;
inline constexpr int kServosHeader = 8;  // the positions start here
inline constexpr int ServosLength(int servos) {
    return kServosHeader + 2 * servos + 1;
}
inline constexpr uint16_t kPositionFree = 0x8000;  // unpowered
inline constexpr uint16_t kPositionHold = 0x7FFF;  // keep the present position
inline constexpr uint16_t kPositionCentre = 7500;
// The command for every servo: bitmap FF FF FF FF 07, servo numbers 0 to 34.
inline constexpr int kAllServoCount = 35;
inline constexpr int kAllServoLength = ServosLength(kAllServoCount);  // 79

// The servo table (RAM kRamServoTable, ROM kRomServoTable) holds, by servo
// number, the RAM address of the servo's record, kNoRecord for none.
inline constexpr int kServoTableEntries = 36;  // servo numbers 0 to 35
inline constexpr uint16_t kNoRecord = 0xFFFF;
inline constexpr int kServoRecordSize = 20;

// ---- ROM layout of Quenlo's image ------------------------------------------
inline constexpr uint32_t kRomProgramEnd = 0x0800;  // boot program and loop end below
inline constexpr uint32_t kRomServoTable = 0x0800;
inline constexpr uint32_t kRomServoRecords = 0x0880;
inline constexpr uint32_t kRomMotionBase = 0x0B80;  // slot of motion i: + i * kRomSlotSize
inline constexpr uint32_t kRomSlotSize = 0x1000;
// Memory commands carry 24-bit addresses: no slot may reach beyond them.
inline constexpr uint32_t kRomAddressLimit = kAddressLimit;

}  // namespace quenlo::board
