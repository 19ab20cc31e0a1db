// SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, the terminal or the session going)
// become the window's close request, so that a ROM transfer is never cut in
// the middle. The handler only writes the signal's number to a pipe; the
// window's thread reads it and asks to close.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace quenlo::qt {

class CloseSignals : public QObject {
  public:
    // on_signal runs on the window's thread, once per signal received. One
    // instance at a time; it restores the default handlers when it goes.
    explicit CloseSignals(std::function<void(int signal)> on_signal, QObject* parent = nullptr);
    ~CloseSignals() override;
    CloseSignals(const CloseSignals&) = delete;
    CloseSignals& operator=(const CloseSignals&) = delete;

    // Whether the handlers are in place (the pipe could be made).
    bool installed() const { return notifier_ != nullptr; }

  private:
    void Drain();

    std::function<void(int)> on_signal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quenlo::qt
