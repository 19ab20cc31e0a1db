// Terminal speeds through termios2, so that any baud rate (625000, 1250000)
// can be set and read back. Kept in its own file: <asm/termbits.h> and
// <termios.h> cannot be included together.
#pragma once

#include <cstdint>

namespace quenlo::tty {

// Sets the input and output speed of a terminal. 0, or -1 with errno set.
int SetBaud(int fd, uint32_t baud);

// The output speed of a terminal; on a pty master, that of its slave.
// 0 when it cannot be read.
uint32_t GetBaud(int fd);

}  // namespace quenlo::tty
