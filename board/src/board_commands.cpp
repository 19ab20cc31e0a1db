// Board commands over a link: servo positions, free, hold and home, the RAM
// set-up for live playback, and stopping and rebooting the board around a
// ROM transfer.
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

namespace {

bool WriteRam16(CUsbIO& link, uint32_t address, uint16_t value) {
    const uint8_t data[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return link.WriteRam(address, data, 2);
}

// The session gave up: a silent board, a lost port, a stop request.
bool GaveUp(const CUsbIO& link) {
    return link.board_silent() || link.port_lost() || link.stop_requested();
}

}  // namespace

namespace quenlo::board {

int RecordCount(int count, const int32_t* motors) {
    return static_cast<int>(PlacedServos(count, motors, false).size());
}

bool SendServoPosition(CUsbIO& link, uint8_t speed, uint16_t position, int count,
                       const int32_t* motors) {
    if (!motors) {
        uint8_t command[kAllServoLength];
        FillAllServoCommand(command, position, speed);
        return link.Transfer(command, kAllServoLength);
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
    return link.Transfer(command.get(), length);
}

bool FreeServos(CUsbIO& link) {
    WriteRam16(link, kRamSystemRegister, link.system_register());
    LogOut(" モーター(free)\n");
    const bool sent = SendServoPosition(link, 1, kPositionFree, 0, nullptr) || link.frame_sent();
    if (!GaveUp(link)) link.SleepMs(100);
    return sent;
}

void HoldAndHome(CUsbIO& link, int count, const int32_t* motors) {
    const uint16_t image = link.system_register();
    WriteRam16(link, kRamSystemRegister, image | kSysServoOutput);
    if (GaveUp(link)) return;
    LogOut(" モーター(hold)\n");
    SendServoPosition(link, 1, kPositionHold, 0, nullptr);
    if (GaveUp(link)) return;
    LogOut(" sleep 500ms\n");
    if (!link.SleepMs(500)) return;
    WriteRam16(link, kRamSystemRegister, image | kSysServoOutput);
    if (GaveUp(link) || !link.SleepMs(100)) return;
    LogOut(" モーター(home)\n");
    if (link.home_command()[0] != 0)
        link.Transfer(link.home_command(), link.home_command()[0]);
    else
        SendServoPosition(link, 255, kPositionCentre, count, motors);
    if (GaveUp(link) || !link.SleepMs(100)) return;
    LogOut(" sleep 500ms\n");
    link.SleepMs(500);
}

bool InitRam(CUsbIO& link, const uint8_t* home, int count, const int32_t* motors) {
    // Byte 7 is the speed of a multi-servo command: anything shorter is no home pose.
    link.set_home_command(nullptr);
    if (home && home[0] > kServosHeader) {
        uint8_t command[256];
        const int length = home[0];
        std::memcpy(command, home, static_cast<size_t>(length));
        command[kServosSpeedByte] = 255;
        command[length - 1] = Checksum(command, length - 1);
        link.set_home_command(command);
    }
    const uint16_t image = link.system_register();

    LogOut(" ICS OFF\n");
    WriteRam16(link, kRamSystemRegister, image);
    WriteRam16(link, kRamSetUpWord, 0x0000);
    if (GaveUp(link)) return false;

    uint16_t table[kServoTableEntries];
    for (uint16_t& entry : table) entry = kNoRecord;
    LogOut(" ICS INFO\n");
    const std::vector<Servo> servos = PlacedServos(count, motors, true);
    for (size_t i = 0; i < servos.size(); ++i) {
        const uint32_t address = kRamServoRecords + kServoRecordSize * static_cast<uint32_t>(i);
        table[servos[i].number] = static_cast<uint16_t>(address);
        uint8_t record[kServoRecordSize];
        FillRecord(record, servos[i].code);
        link.WriteRam(address, record, kServoRecordSize);
        if (GaveUp(link)) return false;
    }
    LogOut(" ICS TABLE\n");
    uint8_t table_bytes[2 * kServoTableEntries];
    PutTable(table, table_bytes);
    link.WriteRam(kRamServoTable, table_bytes, sizeof table_bytes);

    LogOut(" PIO INIT\n");
    WriteRam16(link, kRamPioDirection, kPioOutputs);
    WriteRam16(link, kRamPioPort, 0x0000);
    LogOut(" vector jump clear\n");
    WriteRam16(link, kRamJumpVector, kJumpVectorCleared);
    if (GaveUp(link)) return false;
    LogOut(" モーター(free)\n");
    SendServoPosition(link, 1, kPositionFree, 0, nullptr);
    if (GaveUp(link) || !link.SleepMs(250)) return false;

    LogOut(" ICS ON\n");
    const uint16_t w = image & ~kSysPeriodBits;
    WriteRam16(link, kRamSystemRegister, w | kSysServoOutput);
    HoldAndHome(link, count, motors);
    if (GaveUp(link)) return false;
    LogOut(" LED ON\n");
    WriteRam16(link, kRamSystemRegister, w | kSysLed | kSysServoOutput);
    LogOut(" RCB-4HV RAM初期化終了\n");
    return !GaveUp(link);
}

bool StopSystem(CUsbIO& link) {
    LogOut("システム停止\n");
    return WriteRam16(link, kRamSystemRegister, kSysLed);
}

bool RebootBoard(CUsbIO& link) {
    LogOut("システムリブート\n");
    static const uint8_t kReboot[5] = {0x03, 0x00, 0x00, 0x00, 0x00};
    const bool ok = link.WriteRam(kRamSystemRegister, kReboot, sizeof kReboot);
    LogOut("Rom image forwarding end.\n");
    return ok;
}

}  // namespace quenlo::board
