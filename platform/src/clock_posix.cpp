#include <time.h>

#include <cerrno>

#include "quenlo/platform.h"

namespace quenlo {
namespace {

class PosixClock : public Clock {
public:
    uint32_t NowMs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000;
        return static_cast<uint32_t>(ms);
    }
    void SleepMs(uint32_t ms) override {
        timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        while (clock_nanosleep(CLOCK_MONOTONIC, 0, &req, &req) == EINTR) {
        }
    }
};

}  // namespace

Clock& SystemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace quenlo
