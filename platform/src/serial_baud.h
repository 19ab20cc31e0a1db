// Terminal speeds through termios2, so that any baud rate (625000, 1250000)
// can be set and read back. Kept in its own file: <asm/termbits.h> and
// <termios.h> cannot be included together.
#pragma once

#include <cstdint>
#include <optional>

namespace quenlo::tty {

// Sets the input and output speed of a terminal. 0, or -1 with errno set.
int SetBaud(int fd, uint32_t baud);

// The output speed of a terminal; on a pty master, that of its slave.
// 0 when it cannot be read.
uint32_t GetBaud(int fd);

// A terminal's whole settings, custom speeds included (struct termios2).
struct SavedState {
    alignas(8) unsigned char bytes[64];
};
// The settings now; nothing when they cannot be read.
std::optional<SavedState> SaveState(int fd);
// Puts saved settings back at once. 0, or -1 with errno set.
int RestoreState(int fd, const SavedState& state);

}  // namespace quenlo::tty
