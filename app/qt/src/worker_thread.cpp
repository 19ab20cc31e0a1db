#include "worker_thread.h"

#include <exception>

#include "quenlo/platform.h"
#include "ui_thread.h"

namespace quenlo::qt {

WorkerThread::WorkerThread(QObject* ui, std::function<void()> request_stop)
    : ui_(ui), request_stop_(std::move(request_stop)) {}

WorkerThread::~WorkerThread() {
    RequestStop();
    Join();
}

bool WorkerThread::Start(std::function<void()> body, std::function<void()> finished) {
    if (retired_ || running_) return false;
    Join();  // the previous body has ended
    running_ = true;
    thread_ = std::thread([this, body = std::move(body), finished = std::move(finished)] {
        try {
            body();
        } catch (const std::exception& e) {
            // Nothing may escape a thread; say what ended it.
            LogErr("worker thread ended by an error: %s\n", e.what());
        }
        running_ = false;
        // Also wakes a window waiting for its workers at close.
        PostToUi(ui_, [finished] {
            if (finished) finished();
        });
    });
    return true;
}

void WorkerThread::RequestStop() {
    if (running_ && request_stop_) request_stop_();
}

void WorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace quenlo::qt
