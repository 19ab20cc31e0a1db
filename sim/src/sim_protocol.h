// The simulator's own view of the board's protocol: command codes, memory
// locations and frame helpers, written apart from board/ on purpose so that
// the simulator stays an independent check of the board code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quenlo::sim {

inline constexpr uint8_t kCmdMemory = 0x00;
inline constexpr uint8_t kCmdCompare = 0x07;
inline constexpr uint8_t kCmdJump = 0x0B;
inline constexpr uint8_t kCmdCall = 0x0C;
inline constexpr uint8_t kCmdReturn = 0x0D;
inline constexpr uint8_t kCmdServos = 0x10;
inline constexpr uint8_t kCmdAckCheck = 0xFE;
inline constexpr uint8_t kSubRam = 0x02;
inline constexpr uint8_t kSubRomToRam = 0x03;
inline constexpr uint8_t kSubRom = 0x32;
inline constexpr uint8_t kSubRamToLine = 0x20;
inline constexpr uint8_t kSubRomToLine = 0x23;
inline constexpr size_t kLongestRead = 248;
inline constexpr uint32_t kTimerAddress = 0x003C;
inline constexpr uint32_t kTimerTickMs = 100;

inline uint8_t Sum(const uint8_t* p, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return static_cast<uint8_t>(s);
}

inline uint32_t Addr24(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16;
}

template <typename... Args>
std::string Fmt(const char* fmt, Args... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

}  // namespace quenlo::sim
