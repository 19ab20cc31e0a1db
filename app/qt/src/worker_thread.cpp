#include "worker_thread.h"

#include <exception>
#include <utility>

#include "quenlo/platform.h"
#include "ui_thread.h"

namespace quenlo::qt {

WorkerThread::~WorkerThread() {
    RequestStop();
    Join();
}

bool WorkerThread::Start(Body body) {
    if (retired_ || running_) return false;
    Join();  // the previous body has ended
    running_ = true;
    thread_ = std::jthread([this, body = std::move(body)](std::stop_token stop) {
        Finish finish;
        try {
            finish = body(std::move(stop));
        } catch (const std::exception& e) {
            // Nothing may escape a thread; say what ended it.
            LogErr("worker thread ended by an error: %s\n", e.what());
        }
        // Posted after everything the body posted, so it is handled last.
        PostToUi(ui_, [this, finish = std::move(finish)] {
            if (finish) finish();
            running_ = false;
        });
    });
    return true;
}

void WorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace quenlo::qt
