// A worker thread owned by the window, one job at a time. The job's body runs
// on its own std::jthread, whose stop request is the job's only stop; what the
// body answers runs on the window's thread afterwards, and only then has the
// job ended. The body never waits for the window, so stopping is asking to
// stop and joining.
#pragma once

#include <QObject>
#include <functional>
#include <stop_token>
#include <thread>

namespace quenlo::qt {

class WorkerThread {
  public:
    // The body's answer: what to do on the window's thread with its result.
    using Finish = std::function<void()>;
    using Body = std::function<Finish(std::stop_token)>;

    explicit WorkerThread(QObject* ui) : ui_(ui) {}
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body on a new thread, then its answer on the window's thread.
    // Refused (false) while a job runs or once the worker is retired.
    bool Start(Body body);
    // From the start until the body's answer has run; window's thread only.
    bool Running() const { return running_; }
    void RequestStop() { thread_.request_stop(); }
    // Waits for the body to end.
    void Join();
    // No start after this: the window is closing.
    void Retire() { retired_ = true; }
    bool Retired() const { return retired_; }

  private:
    QObject* ui_;  // outlives the worker: it joins before it goes
    std::jthread thread_;
    bool running_ = false;
    bool retired_ = false;
};

}  // namespace quenlo::qt
