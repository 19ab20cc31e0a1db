#include "board_job.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "quenlo/core.h"

namespace quenlo::cli {

int BoardJob::Run(const std::function<int()>& work) {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    // Blocked here and in the worker, which inherits the mask; they stay
    // blocked to the exit, so a late one is counted, not the program's end.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    int status = 0;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        status = work();
        done = true;
    });
    const timespec tick{0, 20'000'000};
    while (!done) {
        const int signal = sigtimedwait(&stops, nullptr, &tick);
        if (signal > 0) Take(signal);
    }
    worker.join();
    const timespec now{0, 0};
    for (int signal; (signal = sigtimedwait(&stops, nullptr, &now)) > 0;) Take(signal);
    std::lock_guard lock(mutex_);
    return first_ ? 128 + first_ : status;
}

bool BoardJob::Enter(Stage stage) {
    std::lock_guard lock(mutex_);
    if (signals_ > 0) return false;
    stage_ = stage;
    return true;
}

const char* BoardJob::signal_name() const {
    std::lock_guard lock(mutex_);
    return first_ == SIGINT ? "SIGINT" : first_ == SIGTERM ? "SIGTERM" : nullptr;
}

bool BoardJob::stopped_early() const {
    std::lock_guard lock(mutex_);
    return first_ != 0 && stage_ == Stage::Stoppable;
}

void BoardJob::Take(int signal) {
    std::lock_guard lock(mutex_);
    if (++signals_ == 1) first_ = signal;
    switch (stage_) {
        case Stage::Stoppable:
            stop_.request_stop();
            cut_.request_stop();
            break;
        case Stage::Playing:
            if (signals_ == 1)
                ui_.ConsolePrint(
                    "再生を中止します: 送っている動作の後で止めます (待たずに止めるにはもう一度 "
                    "Ctrl-C)\r\n");
            (signals_ == 1 ? stop_ : cut_).request_stop();
            break;
        case Stage::Writing:
            if (signals_ == 1)
                ui_.ConsolePrint(
                    "転送は最後まで続けます: 途中で止めるとボードのROMに不完全なプログラムが"
                    "残ります (今すぐ止めるにはもう一度 Ctrl-C)\r\n");
            else if (signals_ == 2) {
                ui_.ConsolePrint("書き込み中のブロックが終わったら転送を中止します\r\n");
                stop_.request_stop();
            }
            break;
    }
}

}  // namespace quenlo::cli
