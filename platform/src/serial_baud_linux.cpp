#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

#include "serial_baud.h"

namespace quenlo::tty {

int SetBaud(int fd, uint32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    // The standard code where there is one, so older drivers understand it.
    tcflag_t code = baud == 115200 ? B115200 : BOTHER;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : -1;
}

static_assert(sizeof(struct termios2) <= sizeof(SavedState::bytes));

std::optional<SavedState> SaveState(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return std::nullopt;
    SavedState state{};
    std::memcpy(state.bytes, &tio, sizeof tio);
    return state;
}

int RestoreState(int fd, const SavedState& state) {
    struct termios2 tio {};
    std::memcpy(&tio, state.bytes, sizeof tio);
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : -1;
}

uint32_t GetBaud(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

}  // namespace quenlo::tty
