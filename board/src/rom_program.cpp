// The ROM program assembled in memory: boot program, play loop, servo
// settings and RETURN, as the writes that store them with their log lines.
#include <cstdio>
#include <string>
#include <vector>

#include "servo_table.h"
#include "usbio.h"

using namespace quenlo::board;

namespace {

constexpr int kRamWrite16Length = kWriteOverhead + 2;
constexpr int kAioWriteLength = kWriteOverhead + kAioBytes;
constexpr int kCopyLength = 11;
constexpr int kWaitStepLength = 9;
constexpr int kJumpLength = 7;
constexpr int kWaitLength = kRamWrite16Length + kWaitStepLength + kJumpLength;
constexpr int kReturnLength = 3;
constexpr int kRecordsPerCopy = 12;
// The system register as the boot program first sets it; then with the servos
// powered and the base period, then with the LED as well.
constexpr uint16_t kBootRegister = 0x0002;

void PutAddress(uint8_t* out, uint32_t address) {
    out[0] = static_cast<uint8_t>(address);
    out[1] = static_cast<uint8_t>(address >> 8);
    out[2] = static_cast<uint8_t>(address >> 16);
}

std::string Format(const char* fmt, unsigned value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

int CopyCount(int record_count) {
    // One copy even without servos: the boot program's shape does not depend on them.
    return record_count <= 0 ? 1 : (record_count + kRecordsPerCopy - 1) / kRecordsPerCopy;
}

}  // namespace

namespace quenlo::board {

int BootProgramLength(int record_count, int home_length) {
    return 6 * kRamWrite16Length + kAioWriteLength + kCopyLength +
           CopyCount(record_count) * kCopyLength + 2 * kAllServoLength + kWaitLength +
           (home_length > 0 ? home_length : kAllServoLength);
}

int MotionLoopLength(int motion_count) {
    return motion_count * (2 * kRamWrite16Length + kWaitLength + kJumpLength) + kJumpLength;
}

int MaxMotionSlots() {
    const int per_motion = MotionLoopLength(1) - MotionLoopLength(0);
    return (static_cast<int>(kRomProgramEnd) - BootProgramLength(0, 0) - MotionLoopLength(0)) /
           per_motion;
}

uint32_t RomLayoutEnd() {
    return kRomMotionBase + kRomSlotSize * static_cast<uint32_t>(MaxMotionSlots());
}

std::vector<RomWrite> RomAssembler::Take() {
    std::vector<RomWrite> out = std::move(writes_);
    writes_.clear();
    // Text logged after the last write belongs to it.
    if (!pending_.empty() && !out.empty()) out.back().after += pending_, pending_.clear();
    return out;
}

void RomAssembler::Raw(uint32_t address, const uint8_t* bytes, int n, std::string before) {
    writes_.push_back({pending_ + before, address, std::vector<uint8_t>(bytes, bytes + n), {}});
    pending_.clear();
}

void RomAssembler::Command(uint8_t* command, uint32_t address, int length) {
    command[length - 1] = Checksum(command, length - 1);
    Raw(address, command, length);
}

void RomAssembler::AtCursor(uint8_t* command, int length) {
    Command(command, static_cast<uint32_t>(cursor_), length);
    cursor_ += length;
}

void RomAssembler::RamWrite16(uint32_t address, uint16_t value) {
    uint8_t command[kRamWrite16Length] = {kRamWrite16Length, kCmdMemory, kLineToRam};
    PutAddress(command + 3, address);
    command[6] = static_cast<uint8_t>(value);
    command[7] = static_cast<uint8_t>(value >> 8);
    AtCursor(command, kRamWrite16Length);
}

void RomAssembler::Copy(uint32_t ram_target, uint32_t rom_source, int n) {
    uint8_t command[kCopyLength] = {kCopyLength, kCmdMemory, kRomToRam};
    PutAddress(command + 3, ram_target);
    PutAddress(command + 6, rom_source);
    command[9] = static_cast<uint8_t>(n);
    AtCursor(command, kCopyLength);
}

void RomAssembler::ServoPosition(uint16_t position, uint8_t speed) {
    uint8_t command[kAllServoLength];
    FillAllServoCommand(command, position, speed);
    Raw(static_cast<uint32_t>(cursor_), command, kAllServoLength);
    cursor_ += kAllServoLength;
}

void RomAssembler::Wait(int ms) {
    uint16_t n = static_cast<uint16_t>(ms / kWaitStepMs);
    if (n == 0) n = 1;
    Log(Format(" WAIT %ums set\r\n", n * kWaitStepMs));
    RamWrite16(kRamWaitCounter, n);
    const uint32_t step = static_cast<uint32_t>(cursor_);
    // One step of the counter; its operands are as the board's wait takes them.
    uint8_t wait[kWaitStepLength] = {kWaitStepLength, kCmdCompare, 0x82, 0, 0, 0, 0x00, 0x80};
    PutAddress(wait + 3, kRamWaitCounter);
    AtCursor(wait, sizeof wait);
    uint8_t jump[kJumpLength] = {kJumpLength, kCmdJump};
    PutAddress(jump + 2, step);
    jump[5] = kWhileWaiting;
    AtCursor(jump, kJumpLength);
}

void RomAssembler::BootProgram(int record_count, const uint8_t* home, int period_code) {
    const uint16_t period = static_cast<uint16_t>((period_code & 3) << kSysPeriodShift);
    Log("プログラム転送\n");
    cursor_ = 0;
    Log(" システムレジスタ $0002\n");
    RamWrite16(kRamSystemRegister, kBootRegister);
    Log(" PIO設定\n");
    RamWrite16(kRamPioDirection, kPioOutputs);
    RamWrite16(kRamPioPort, 0x0000);
    Log(" AIO設定\n");
    uint8_t aio[kAioWriteLength] = {kAioWriteLength, kCmdMemory, kLineToRam};
    PutAddress(aio + 3, kRamAio);
    AtCursor(aio, kAioWriteLength);
    Log(" モーターテーブル\n");
    Copy(kRamServoTable, kRomServoTable, 2 * kServoTableEntries);

    int first = 0;
    uint32_t source = kRomServoRecords;
    uint32_t target = kRamServoRecords;
    int remaining = record_count > 0 ? record_count : 0;
    do {
        const int n = remaining < kRecordsPerCopy ? remaining : kRecordsPerCopy;
        char line[64];
        std::snprintf(line, sizeof line, " モーター設定 %d-%d\n", first, first + n - 1);
        Log(line);
        Copy(target, source, kServoRecordSize * n);
        source += kServoRecordSize * n;
        target += kServoRecordSize * n;
        first += n;
        remaining -= n;
    } while (remaining > 0);

    Log(" ジャンプベクター設定 $FFFF\n");
    RamWrite16(kRamJumpVector, kJumpVectorCleared);
    const uint16_t running = kBootRegister | kSysServoOutput | period;
    Log(Format(" システムレジスタ $%04X\n", running));
    RamWrite16(kRamSystemRegister, running);
    Log(" モーター(free)\n");
    ServoPosition(kPositionFree, 1);
    Log(" モーター(hold)\n");
    ServoPosition(kPositionHold, 1);
    Wait(500);
    Log(" モーター(home)\n");
    if (home && home[0] > 0) {
        Raw(static_cast<uint32_t>(cursor_), home, home[0]);
        cursor_ += home[0];
    } else {
        ServoPosition(kPositionCentre, 100);
    }
    Log(Format(" システムレジスタ $%04X\n", kSysLed | running));
    RamWrite16(kRamSystemRegister, kSysLed | running);
}

void RomAssembler::MotionLoop(int motion_count, int wait_ms) {
    const uint32_t loop_start = static_cast<uint32_t>(cursor_);
    for (int i = 0; i < motion_count; ++i) {
        Log(" LED(PIO) OFF\n");
        RamWrite16(kRamPioPort, 0x0000);
        Wait(wait_ms);
        const uint16_t pattern = static_cast<uint16_t>((0x100 * (i + 1)) & 0x300);
        Log(Format(" LED(PIO) ON %u\r\n", pattern));
        RamWrite16(kRamPioPort, pattern);
        Log(Format(" モーションコール %u\n", static_cast<unsigned>(i + 1)));
        const uint32_t slot = kRomMotionBase + kRomSlotSize * static_cast<uint32_t>(i);
        Log(Format(" CALL $%08X set\r\n", slot));
        uint8_t call[kJumpLength] = {kJumpLength, kCmdCall};
        PutAddress(call + 2, slot);
        AtCursor(call, kJumpLength);
    }
    Log(" 繰り返し\n");
    Log(Format(" JUMP $%08X set\r\n", loop_start));
    uint8_t jump[kJumpLength] = {kJumpLength, kCmdJump};
    PutAddress(jump + 2, loop_start);
    AtCursor(jump, kJumpLength);
}

void RomAssembler::ServoSettings(int count, const int32_t* motors) {
    Log("設定データ転送\n");
    uint16_t table[kServoTableEntries];
    for (uint16_t& entry : table) entry = kNoRecord;
    uint32_t address = kRomServoRecords;
    const std::vector<Servo> servos = PlacedServos(count, motors, true);
    for (size_t i = 0; i < servos.size(); ++i) {
        // The RAM address the record gets when the boot program copies it.
        table[servos[i].number] =
            static_cast<uint16_t>(address - (kRomServoRecords - kRamServoRecords));
        uint8_t record[kServoRecordSize];
        FillRecord(record, servos[i].code);
        Log(Format(" モーター %u\n", static_cast<unsigned>(i)));
        Raw(address, record, kServoRecordSize);
        address += kServoRecordSize;
    }
    Log(" モーターテーブル\n");
    uint8_t table_bytes[2 * kServoTableEntries];
    PutTable(table, table_bytes);
    Raw(kRomServoTable, table_bytes, sizeof table_bytes);
}

void RomAssembler::Return(uint32_t address) {
    const uint8_t command[kReturnLength] = {kReturnLength, kCmdReturn, kReturnLength + kCmdReturn};
    Raw(address, command, kReturnLength);
    writes_.back().after = " RETURN\r\n";
}

}  // namespace quenlo::board
