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

namespace board_detail {

std::vector<Servo> PlacedServos(int count, const int32_t* motors, bool report) {
    std::vector<Servo> placed;
    if (!motors) return placed;
    for (int i = 0; i < count; ++i) {
        const int servo = CUsbIO::ServoNumber(motors[i]);
        if (servo < 0 || servo >= CUsbIO::kServoTableEntries) {
            if (report)
                LogErr("Motor %d (servo number %d) has no place in the servo table: left out.\n",
                       motors[i], servo);
            continue;
        }
        placed.push_back({motors[i], servo});
    }
    return placed;
}

void PutTable(const uint16_t (&table)[CUsbIO::kServoTableEntries], uint8_t* out) {
    for (int i = 0; i < CUsbIO::kServoTableEntries; ++i) {
        out[2 * i] = static_cast<uint8_t>(table[i]);
        out[2 * i + 1] = static_cast<uint8_t>(table[i] >> 8);
    }
}

void FillRecord(uint8_t* record, int32_t motor_code) {
    static const uint8_t kTemplate[CUsbIO::kServoRecordSize] = {
        0x00, 0x00, 0, 0, 0,    0,    0x4C, 0x1D, 0x00, 0x00,
        0,    0,    0, 0, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00};
    std::memcpy(record, kTemplate, sizeof kTemplate);
    record[1] = static_cast<uint8_t>(motor_code % 100);
}

uint8_t Checksum(const uint8_t* bytes, int n) {
    uint8_t sum = 0;
    for (int i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

void FillAllServoCommand(uint8_t (&command)[kAllServoLength], uint16_t position, uint8_t speed) {
    static const uint8_t kHead[7] = {kAllServoLength, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x07};
    std::memcpy(command, kHead, sizeof kHead);
    command[7] = speed;
    for (int i = 0; i < 35; ++i) {
        command[8 + 2 * i] = static_cast<uint8_t>(position);
        command[9 + 2 * i] = static_cast<uint8_t>(position >> 8);
    }
    command[kAllServoLength - 1] = Checksum(command, kAllServoLength - 1);
}

}  // namespace board_detail

using namespace board_detail;

int CUsbIO::ServoNumber(int32_t motor_code) {
    if (motor_code < 0) return -1;
    return motor_code / 100 + 2 * (motor_code % 100);
}

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
    const int length = 2 * static_cast<int>(servos.size()) + 9;
    if (length > 255) {
        LogErr("Too many servos for one command (%zu).\n", servos.size());
        return false;
    }
    std::unique_ptr<uint8_t[]> command(new (std::nothrow) uint8_t[length]());
    if (!command) {
        LogErr(" memmory error\n");
        return false;
    }
    command[0] = static_cast<uint8_t>(length);
    command[1] = 0x10;
    command[7] = speed;
    for (size_t i = 0; i < servos.size(); ++i) {
        command[2 + servos[i].number / 8] |= static_cast<uint8_t>(1u << (servos[i].number % 8));
        command[8 + 2 * i] = static_cast<uint8_t>(position);
        command[9 + 2 * i] = static_cast<uint8_t>(position >> 8);
    }
    command[length - 1] = Checksum(command.get(), length - 1);
    return Transfer(command.get(), length);
}

void CUsbIO::FreeServos() {
    WriteRam16(0x0000, system_register_);
    LogOut(" モーター(free)\n");
    SendServoPosition(1, 0x8000, 0, nullptr);
    clock_.SleepMs(100);
}

void CUsbIO::HoldAndHome(int count, const int32_t* motors) {
    WriteRam16(0x0000, system_register_ | 0x0001);
    LogOut(" モーター(hold)\n");
    SendServoPosition(1, 0x7FFF, 0, nullptr);
    LogOut(" sleep 500ms\n");
    clock_.SleepMs(500);
    WriteRam16(0x0000, system_register_ | 0x0001);
    clock_.SleepMs(100);
    LogOut(" モーター(home)\n");
    if (home_command_[0] != 0)
        Transfer(home_command_, home_command_[0]);
    else
        SendServoPosition(255, 7500, count, motors);
    clock_.SleepMs(100);
    LogOut(" sleep 500ms\n");
    clock_.SleepMs(500);
}

bool CUsbIO::InitRam(const uint8_t* home, int count, const int32_t* motors) {
    // Byte 7 is the speed of a multi-servo command: anything shorter is no home pose.
    home_command_[0] = 0;
    if (home && home[0] >= 9) {
        const int length = home[0];
        std::memcpy(home_command_, home, static_cast<size_t>(length));
        home_command_[7] = 255;
        home_command_[length - 1] = Checksum(home_command_, length - 1);
    }

    LogOut(" ICS OFF\n");
    WriteRam16(0x0000, system_register_);
    WriteRam16(0x0002, 0x0000);

    uint16_t table[kServoTableEntries];
    for (uint16_t& entry : table) entry = 0xFFFF;
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
    WriteRam16(0x0038, 0x03FF);
    WriteRam16(0x003A, 0x0000);
    LogOut(" vector jump clear\n");
    WriteRam16(0x008C, 0xFFFF);
    LogOut(" モーター(free)\n");
    SendServoPosition(1, 0x8000, 0, nullptr);
    clock_.SleepMs(250);

    LogOut(" ICS ON\n");
    const uint16_t w = system_register_ & ~0x0030u;
    WriteRam16(0x0000, w | 0x0001);
    HoldAndHome(count, motors);
    LogOut(" LED ON\n");
    WriteRam16(0x0000, w | 0x8001);
    LogOut(" RCB-4HV RAM初期化終了\n");
    return true;
}
