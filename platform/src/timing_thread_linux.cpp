// A thread that paces a board in real time: first in line for the processor
// where the system allows it, and woken at the time asked for, not within the
// default 50 µs of timer slack.
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstring>

#include "quenlo/platform.h"

namespace quenlo {

namespace {
// Low: above every ordinary thread, below the kernel's own real-time work.
constexpr int kPriority = 10;
constexpr unsigned long kSlackNs = 1000;
}  // namespace

TimingThread::TimingThread() {
    slack_ns_ = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, kSlackNs, 0, 0, 0);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy_, &param);
    priority_ = param.sched_priority;
    param.sched_priority = kPriority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    realtime_ = error == 0;
    if (!realtime_) refusal_ = std::strerror(error);
}

TimingThread::~TimingThread() {
    if (realtime_) {
        sched_param param{};
        param.sched_priority = priority_;
        pthread_setschedparam(pthread_self(), policy_, &param);
    }
    if (slack_ns_ > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack_ns_), 0, 0, 0);
}

}  // namespace quenlo
