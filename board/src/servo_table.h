// Helpers shared by the RAM set-up and the ROM image.
#pragma once

#include <cstdint>
#include <vector>

#include "usbio.h"

namespace quenlo::board {

struct Servo {
    int32_t code;  // motor code
    int number;    // place in the servo table and the servo bitmap
};

// The motors that have a place in the servo table, in list order; their
// position in the result is their record index. report: one error line per
// motor left out.
std::vector<Servo> PlacedServos(int count, const int32_t* motors, bool report);

void PutTable(const uint16_t (&table)[kServoTableEntries], uint8_t* out);
void FillRecord(uint8_t* record, int32_t motor_code);
uint8_t Checksum(const uint8_t* bytes, int n);

// Multi-servo position for servo numbers 0 to 34 (the 35 bits set below).
void FillAllServoCommand(uint8_t (&command)[kAllServoLength], uint16_t position, uint8_t speed);

}  // namespace quenlo::board
