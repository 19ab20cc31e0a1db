// Board commands for live playback: servo positions, free, hold and home, and
// the RAM set-up.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "servo_table.h"
#include "usbio.h"

using quenlo::LogErr;
using quenlo::LogOut;
using namespace quenlo::board;

namespace quenlo::board {

std::vector<Servo> PlacedServos(int count, const int32_t* motors, bool report) {
    std::vector<Servo> placed;
    if (!motors) return placed;
    for (int i = 0; i < count; ++i) {
        const int servo = ServoNumber(motors[i]);
        if (servo < 0 || servo >= kServoTableEntries) {
            if (report)
                LogErr("Motor %d (servo number %d) has no place in the servo table: left out.\n",
                       motors[i], servo);
            continue;
        }
        placed.push_back({motors[i], servo});
    }
    return placed;
}

void PutTable(const uint16_t (&table)[kServoTableEntries], uint8_t* out) {
    for (int i = 0; i < kServoTableEntries; ++i) {
        out[2 * i] = static_cast<uint8_t>(table[i]);
        out[2 * i + 1] = static_cast<uint8_t>(table[i] >> 8);
    }
}

void FillRecord(uint8_t* record, int32_t motor_code) {
    static const uint8_t kTemplate[kServoRecordSize] = {0x00, 0x00, 0,    0,    0,    0,   0x4C,
                                                        0x1D, 0x00, 0x00, 0,    0,    0,   0,
                                                        0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00};
    std::memcpy(record, kTemplate, sizeof kTemplate);
    record[1] = static_cast<uint8_t>(motor_code % 100);
}

uint8_t Checksum(const uint8_t* bytes, int n) {
    uint8_t sum = 0;
    for (int i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

void FillAllServoCommand(uint8_t (&command)[kAllServoLength], uint16_t position, uint8_t speed) {
    static const uint8_t kHead[kServosSpeedByte] = {
        kAllServoLength, kCmdServos, 0xFF, 0xFF, 0xFF, 0xFF, 0x07};
    std::memcpy(command, kHead, sizeof kHead);
    command[kServosSpeedByte] = speed;
    for (int i = 0; i < kAllServoCount; ++i) {
        command[kServosHeader + 2 * i] = static_cast<uint8_t>(position);
        command[kServosHeader + 1 + 2 * i] = static_cast<uint8_t>(position >> 8);
    }
    command[kAllServoLength - 1] = Checksum(command, kAllServoLength - 1);
}

}  // namespace quenlo::board

int CUsbIO::RecordCount(int count, const int32_t* motors) {
    return static_cast<int>(PlacedServos(count, motors, false).size());
}

bool CUsbIO::WriteRam16(uint32_t address, uint16_t value) {
    const uint8_t data[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return WriteRam(address, data, 2);
}

bool CUsbIO::SendServoPosition(uint8_t speed, uint16_t position, int count, const int32_t* motors) {
    if (!motors) {
        uint8_t command[kAllServoLength];
        FillAllServoCommand(command, position, speed);
        return Transfer(command, kAllServoLength);
    }
    // Servos beyond the table cannot be driven; InitRam reports them.
    const std::vector<Servo> servos = PlacedServos(count, motors, false);
    const int length = ServosLength(static_cast<int>(servos.size()));
    if (length > kLongestFrame) {
        LogErr("Too many servos for one command (%zu).\n", servos.size());
        return false;
    }
    std::unique_ptr<uint8_t[]> command(new (std::nothrow) uint8_t[length]());
    if (!command) {
        LogErr(" memmory error\n");
        return false;
    }
    command[0] = static_cast<uint8_t>(length);
    command[1] = kCmdServos;
    command[kServosSpeedByte] = speed;
    for (size_t i = 0; i < servos.size(); ++i) {
        command[2 + servos[i].number / 8] |= static_cast<uint8_t>(1u << (servos[i].number % 8));
        command[kServosHeader + 2 * i] = static_cast<uint8_t>(position);
        command[kServosHeader + 1 + 2 * i] = static_cast<uint8_t>(position >> 8);
    }
    command[length - 1] = Checksum(command.get(), length - 1);
    return Transfer(command.get(), length);
}

void CUsbIO::FreeServos() {
    WriteRam16(kRamSystemRegister, system_register_);
    LogOut(" モーター(free)\n");
    SendServoPosition(1, kPositionFree, 0, nullptr);
    clock_.SleepMs(100);
}

void CUsbIO::HoldAndHome(int count, const int32_t* motors) {
    WriteRam16(kRamSystemRegister, system_register_ | kSysServoOutput);
    LogOut(" モーター(hold)\n");
    SendServoPosition(1, kPositionHold, 0, nullptr);
    LogOut(" sleep 500ms\n");
    clock_.SleepMs(500);
    WriteRam16(kRamSystemRegister, system_register_ | kSysServoOutput);
    clock_.SleepMs(100);
    LogOut(" モーター(home)\n");
    if (home_command_[0] != 0)
        Transfer(home_command_, home_command_[0]);
    else
        SendServoPosition(255, kPositionCentre, count, motors);
    clock_.SleepMs(100);
    LogOut(" sleep 500ms\n");
    clock_.SleepMs(500);
}

bool CUsbIO::InitRam(const uint8_t* home, int count, const int32_t* motors) {
    // Byte 7 is the speed of a multi-servo command: anything shorter is no home pose.
    home_command_[0] = 0;
    if (home && home[0] > kServosHeader) {
        const int length = home[0];
        std::memcpy(home_command_, home, static_cast<size_t>(length));
        home_command_[kServosSpeedByte] = 255;
        home_command_[length - 1] = Checksum(home_command_, length - 1);
    }

    LogOut(" ICS OFF\n");
    WriteRam16(kRamSystemRegister, system_register_);
    WriteRam16(kRamSetUpWord, 0x0000);

    uint16_t table[kServoTableEntries];
    for (uint16_t& entry : table) entry = kNoRecord;
    LogOut(" ICS INFO\n");
    const std::vector<Servo> servos = PlacedServos(count, motors, true);
    for (size_t i = 0; i < servos.size(); ++i) {
        const uint32_t address = kRamServoRecords + kServoRecordSize * static_cast<uint32_t>(i);
        table[servos[i].number] = static_cast<uint16_t>(address);
        uint8_t record[kServoRecordSize];
        FillRecord(record, servos[i].code);
        WriteRam(address, record, kServoRecordSize);
    }
    LogOut(" ICS TABLE\n");
    uint8_t table_bytes[2 * kServoTableEntries];
    PutTable(table, table_bytes);
    WriteRam(kRamServoTable, table_bytes, sizeof table_bytes);

    LogOut(" PIO INIT\n");
    WriteRam16(kRamPioDirection, kPioOutputs);
    WriteRam16(kRamPioPort, 0x0000);
    LogOut(" vector jump clear\n");
    WriteRam16(kRamJumpVector, kJumpVectorCleared);
    LogOut(" モーター(free)\n");
    SendServoPosition(1, kPositionFree, 0, nullptr);
    clock_.SleepMs(250);

    LogOut(" ICS ON\n");
    const uint16_t w = system_register_ & ~kSysPeriodBits;
    WriteRam16(kRamSystemRegister, w | kSysServoOutput);
    HoldAndHome(count, motors);
    LogOut(" LED ON\n");
    WriteRam16(kRamSystemRegister, w | kSysLed | kSysServoOutput);
    LogOut(" RCB-4HV RAM初期化終了\n");
    return true;
}
