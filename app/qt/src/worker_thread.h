// A joinable worker thread owned by the window. At close the window asks every
// worker to stop, keeps serving their requests until each has finished, and
// only then joins them and frees what they used.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace quenlo::qt {

class WorkerThread {
  public:
    // request_stop runs on the window's thread at close and must not wait.
    WorkerThread(QObject* ui, std::function<void()> request_stop = {});
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body on a new thread, then finished on the window's thread. Refused
    // (false) while a body runs or once the worker is retired.
    bool Start(std::function<void()> body, std::function<void()> finished = {});
    bool Running() const { return running_; }
    void RequestStop();
    // Joins a finished body. Callers wait for Running() to drop first.
    void Join();
    // No start after this: the window is closing.
    void Retire() { retired_ = true; }

  private:
    QObject* ui_;  // outlives the worker: it joins before it goes
    std::function<void()> request_stop_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    bool retired_ = false;
};

}  // namespace quenlo::qt
