// A motion that took noticeably longer than designed is said so: the operator
// otherwise only sees a robot that moves too slowly.
#pragma once

#include <cstdint>

namespace quenlo {

class OperatorUi;

// One console line when `took_us` exceeds `designed_us` by more than 10 %.
// Answers whether it was late.
bool ReportLateMotion(OperatorUi& ui, uint64_t designed_us, uint64_t took_us);

}  // namespace quenlo
