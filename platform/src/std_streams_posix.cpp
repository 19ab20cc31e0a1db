// Standard streams that are open: a program started with fd 0, 1 or 2 closed
// would otherwise hand that number to the next file it opens (a serial port
// opened as fd 1 receives the log).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "quenlo/platform.h"

namespace quenlo {

void EnsureStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open answers the lowest free number: this one.
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) close(null);
    }
}

}  // namespace quenlo
