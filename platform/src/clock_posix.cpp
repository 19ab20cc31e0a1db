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
    uint64_t NowUs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000u +
               static_cast<uint64_t>(ts.tv_nsec) / 1000;
    }
    // An absolute deadline: a signal or a late wake-up does not move it.
    void SleepUntilUs(uint64_t deadline_us) override {
        const timespec at{static_cast<time_t>(deadline_us / 1000000),
                          static_cast<long>(deadline_us % 1000000) * 1000L};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
    }
};

}  // namespace

Clock& SystemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace quenlo
