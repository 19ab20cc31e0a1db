// The ROM image: boot program, play loop, servo settings, RETURN and reboot.
#include <vector>

#include "servo_table.h"
#include "usbio.h"

using quenlo::LogOut;
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

int CopyCount(int record_count) {
    // One copy even without servos: the boot program's shape does not depend on them.
    return record_count <= 0 ? 1 : (record_count + kRecordsPerCopy - 1) / kRecordsPerCopy;
}

}  // namespace

int CUsbIO::BootProgramLength(int record_count, int home_length) {
    return 6 * kRamWrite16Length + kAioWriteLength + kCopyLength +
           CopyCount(record_count) * kCopyLength + 2 * kAllServoLength + kWaitLength +
           (home_length > 0 ? home_length : kAllServoLength);
}

int CUsbIO::MotionLoopLength(int motion_count) {
    return motion_count * (2 * kRamWrite16Length + kWaitLength + kJumpLength) + kJumpLength;
}

int CUsbIO::MaxMotionSlots() {
    const int per_motion = MotionLoopLength(1) - MotionLoopLength(0);
    return (static_cast<int>(kRomProgramEnd) - BootProgramLength(0, 0) - MotionLoopLength(0)) /
           per_motion;
}

uint32_t CUsbIO::RomLayoutEnd() {
    return kRomMotionBase + kRomSlotSize * static_cast<uint32_t>(MaxMotionSlots());
}

bool CUsbIO::WriteRomCommand(uint8_t* command, uint32_t address, int length) {
    command[length - 1] = Checksum(command, length - 1);
    return WriteRom(address, command, length);
}

bool CUsbIO::StoreAtCursor(uint8_t* command, int length) {
    if (!WriteRomCommand(command, static_cast<uint32_t>(rom_cursor_), length)) return false;
    rom_cursor_ += length;
    return true;
}

bool CUsbIO::StoreRamWrite16(uint32_t address, uint16_t value) {
    uint8_t command[kRamWrite16Length] = {kRamWrite16Length, kCmdMemory, kLineToRam};
    PutAddress(command + 3, address);
    command[6] = static_cast<uint8_t>(value);
    command[7] = static_cast<uint8_t>(value >> 8);
    return StoreAtCursor(command, kRamWrite16Length);
}

bool CUsbIO::WriteRomCopy(uint32_t ram_target, uint32_t rom_source, int n) {
    uint8_t command[kCopyLength] = {kCopyLength, kCmdMemory, kRomToRam};
    PutAddress(command + 3, ram_target);
    PutAddress(command + 6, rom_source);
    command[9] = static_cast<uint8_t>(n);
    return StoreAtCursor(command, kCopyLength);
}

bool CUsbIO::WriteRomServoPosition(uint16_t position, uint8_t speed) {
    uint8_t command[kAllServoLength];
    FillAllServoCommand(command, position, speed);
    if (!WriteRom(static_cast<uint32_t>(rom_cursor_), command, kAllServoLength)) return false;
    rom_cursor_ += kAllServoLength;
    return true;
}

bool CUsbIO::WriteRomWait(int ms) {
    uint16_t n = static_cast<uint16_t>(ms / kWaitStepMs);
    if (n == 0) n = 1;
    LogOut(" WAIT %dms set\r\n", n * kWaitStepMs);
    if (!StoreRamWrite16(kRamWaitCounter, n)) return false;
    const uint32_t step = static_cast<uint32_t>(rom_cursor_);
    // One step of the counter; its operands are as the board's wait takes them.
    uint8_t wait[kWaitStepLength] = {kWaitStepLength, kCmdCompare, 0x82, 0, 0, 0, 0x00, 0x80};
    PutAddress(wait + 3, kRamWaitCounter);
    if (!StoreAtCursor(wait, sizeof wait)) return false;
    uint8_t jump[kJumpLength] = {kJumpLength, kCmdJump};
    PutAddress(jump + 2, step);
    jump[5] = kWhileWaiting;
    return StoreAtCursor(jump, kJumpLength);
}

bool CUsbIO::StopSystem() {
    LogOut("システム停止\n");
    return WriteRam16(kRamSystemRegister, kSysLed);
}

bool CUsbIO::WriteBootProgram(int record_count, const uint8_t* home, int period_code) {
    const uint16_t period = static_cast<uint16_t>((period_code & 3) << kSysPeriodShift);
    if (!StopSystem()) return false;
    LogOut("プログラム転送\n");
    rom_cursor_ = 0;
    LogOut(" システムレジスタ $0002\n");
    if (!StoreRamWrite16(kRamSystemRegister, kBootRegister)) return false;
    LogOut(" PIO設定\n");
    if (!StoreRamWrite16(kRamPioDirection, kPioOutputs) || !StoreRamWrite16(kRamPioPort, 0x0000))
        return false;
    LogOut(" AIO設定\n");
    uint8_t aio[kAioWriteLength] = {kAioWriteLength, kCmdMemory, kLineToRam};
    PutAddress(aio + 3, kRamAio);
    if (!StoreAtCursor(aio, kAioWriteLength)) return false;
    LogOut(" モーターテーブル\n");
    if (!WriteRomCopy(kRamServoTable, kRomServoTable, 2 * kServoTableEntries)) return false;

    int first = 0;
    uint32_t source = kRomServoRecords;
    uint32_t target = kRamServoRecords;
    int remaining = record_count > 0 ? record_count : 0;
    do {
        const int n = remaining < kRecordsPerCopy ? remaining : kRecordsPerCopy;
        LogOut(" モーター設定 %d-%d\n", first, first + n - 1);
        if (!WriteRomCopy(target, source, kServoRecordSize * n)) return false;
        source += kServoRecordSize * n;
        target += kServoRecordSize * n;
        first += n;
        remaining -= n;
    } while (remaining > 0);

    LogOut(" ジャンプベクター設定 $FFFF\n");
    if (!StoreRamWrite16(kRamJumpVector, kJumpVectorCleared)) return false;
    const uint16_t running = kBootRegister | kSysServoOutput | period;
    LogOut(" システムレジスタ $%04X\n", running);
    if (!StoreRamWrite16(kRamSystemRegister, running)) return false;
    LogOut(" モーター(free)\n");
    if (!WriteRomServoPosition(kPositionFree, 1)) return false;
    LogOut(" モーター(hold)\n");
    if (!WriteRomServoPosition(kPositionHold, 1)) return false;
    if (!WriteRomWait(500)) return false;
    LogOut(" モーター(home)\n");
    if (home && home[0] > 0) {
        if (!WriteRom(static_cast<uint32_t>(rom_cursor_), home, home[0])) return false;
        rom_cursor_ += home[0];
    } else if (!WriteRomServoPosition(kPositionCentre, 100)) {
        return false;
    }
    LogOut(" システムレジスタ $%04X\n", kSysLed | running);
    return StoreRamWrite16(kRamSystemRegister, kSysLed | running);
}

bool CUsbIO::WriteMotionLoop(int motion_count, int wait_ms) {
    const uint32_t loop_start = static_cast<uint32_t>(rom_cursor_);
    for (int i = 0; i < motion_count; ++i) {
        LogOut(" LED(PIO) OFF\n");
        if (!StoreRamWrite16(kRamPioPort, 0x0000)) return false;
        if (!WriteRomWait(wait_ms)) return false;
        const uint16_t pattern = static_cast<uint16_t>((0x100 * (i + 1)) & 0x300);
        LogOut(" LED(PIO) ON %d\r\n", pattern);
        if (!StoreRamWrite16(kRamPioPort, pattern)) return false;
        LogOut(" モーションコール %d\n", i + 1);
        const uint32_t slot = kRomMotionBase + kRomSlotSize * static_cast<uint32_t>(i);
        LogOut(" CALL $%08X set\r\n", slot);
        uint8_t call[kJumpLength] = {kJumpLength, kCmdCall};
        PutAddress(call + 2, slot);
        if (!StoreAtCursor(call, kJumpLength)) return false;
    }
    LogOut(" 繰り返し\n");
    LogOut(" JUMP $%08X set\r\n", loop_start);
    uint8_t jump[kJumpLength] = {kJumpLength, kCmdJump};
    PutAddress(jump + 2, loop_start);
    return StoreAtCursor(jump, kJumpLength);
}

bool CUsbIO::WriteServoSettings(int count, const int32_t* motors) {
    LogOut("設定データ転送\n");
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
        LogOut(" モーター %d\n", static_cast<int>(i));
        if (!WriteRom(address, record, kServoRecordSize)) return false;
        address += kServoRecordSize;
    }
    LogOut(" モーターテーブル\n");
    uint8_t table_bytes[2 * kServoTableEntries];
    PutTable(table, table_bytes);
    return WriteRom(kRomServoTable, table_bytes, sizeof table_bytes);
}

bool CUsbIO::WriteReturn() {
    const uint8_t command[kReturnLength] = {kReturnLength, kCmdReturn, kReturnLength + kCmdReturn};
    const bool ok = WriteRom(static_cast<uint32_t>(motion_write_address_), command, kReturnLength);
    LogOut(" RETURN\r\n");
    return ok;
}

bool CUsbIO::RebootBoard() {
    LogOut("システムリブート\n");
    static const uint8_t kReboot[5] = {0x03, 0x00, 0x00, 0x00, 0x00};
    const bool ok = WriteRam(kRamSystemRegister, kReboot, sizeof kReboot);
    LogOut("Rom image forwarding end.\n");
    return ok;
}
