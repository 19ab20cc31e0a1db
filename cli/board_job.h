// SIGINT and SIGTERM while a subcommand works with the board. The work runs on
// a thread of its own and the main thread takes the signals (no handler runs
// inside the work); what a signal does depends on the stage the work is in.
#pragma once

#include <functional>
#include <mutex>
#include <stop_token>
#include <string>

class CUsbIO;

namespace quenlo {
class OperatorUi;
}

namespace quenlo::cli {

class BoardJob {
  public:
    enum class Stage {
        // Converting, connecting, reading: a signal stops the work at once.
        Stoppable,
        // A live playback: the first signal stops it after the move on its
        // way, a second one cuts every wait short (the release still goes out).
        Playing,
        // A ROM write: the first signal is told that the transfer finishes,
        // since the board must not keep half a program; a second one stops it
        // after the block on its way.
        Writing,
    };

    // `ui` gets the lines said when a signal comes during a ROM write.
    explicit BoardJob(OperatorUi& ui) : ui_(ui) {}

    // Runs `work` on its own thread until it ends, taking the signals meanwhile;
    // answers its status, or 128 + the number of the first signal when one came.
    int Run(const std::function<int()>& work);

    // Moves the work to `stage`; false when a signal has already stopped it.
    bool Enter(Stage stage);

    // The work's own stop: the playback's stop button, the ROM write's stop
    // after the current block, or (Stoppable) the work's end.
    std::stop_token stop() const { return stop_.get_token(); }
    // The link's stop token: every wait ends within its check interval.
    std::stop_token cut() const { return cut_.get_token(); }
    bool cut_requested() const { return cut_.stop_requested(); }
    // A signal stopped the work before the board was written or played to.
    bool stopped_early() const;
    // The first signal that came ("SIGINT", "SIGTERM"), or null.
    const char* signal_name() const;

  private:
    void Take(int signal);

    OperatorUi& ui_;
    mutable std::mutex mutex_;
    Stage stage_ = Stage::Stoppable;
    int signals_ = 0;
    int first_ = 0;
    std::stop_source stop_;
    std::stop_source cut_;
};

// Connects (the link stops with the job), asks as the ROM button does, enters
// the writing stage and opens the transfer's console; false (with the
// console's line) when the transfer is not to run.
bool StartRomTransfer(OperatorUi& ui, BoardJob& job, CUsbIO& link, const char* port);

// After a ROM write stopped between blocks: how to give the board a whole
// program again, with `image` (a backup) when there is one.
void SayHowToRestore(OperatorUi& ui, const char* port, const std::string& image);

// "quenlo-cli COMMAND: stopped by SIGINT[; OUTPUT is not written]" on stderr.
void SayInterrupted(const char* command, const BoardJob& job, const std::string& output);

}  // namespace quenlo::cli
