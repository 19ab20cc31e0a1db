// quenlo-cli play: converts like the main window and plays the motions live on
// the board, as Play and Play all do. SIGINT and SIGTERM are the stop button.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "command.h"
#include "console.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "usbio.h"

namespace quenlo::cli {
namespace {

struct PlayArgs {
    std::string port;
    std::string model;
    std::vector<std::string> motions;
    int rate = kDefaultRate;
    int interval = kDefaultInterval;
    int motion = -1;  // none selected: motion 0
    bool all = false;
    bool loop = false;
};

// The window's lists and loop box, as the options set them.
class PlayUi : public StdoutUi {
  public:
    explicit PlayUi(const PlayArgs& args) : StdoutUi(true), args_(args) {}
    int SelectedMotion() override { return args_.motion; }
    int MotionCount() override { return static_cast<int>(args_.motions.size()); }
    int RateIndex() override { return args_.rate; }
    int IntervalIndex() override { return args_.interval; }
    bool LoopChecked() override { return args_.loop; }

  private:
    const PlayArgs& args_;
};

// Plays on a thread of its own while this one takes SIGINT and SIGTERM (no
// handler runs inside the playback): the first asks the playback to stop, a
// second one ends the program at once, as it would by default.
PlaybackResult PlayUntilDone(OperatorUi& ui, DialogState& state, const PlaybackSettings& settings) {
    sigset_t stops, before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, &before);  // the player inherits the mask
    PlaybackResult result;
    std::atomic<bool> done{false};
    std::jthread player([&](std::stop_token stop) {
        result = PlayMotions(ui, state, settings, std::move(stop));
        done = true;
    });
    bool asked = false;
    const timespec tick{0, 20'000'000};
    while (!done) {
        const int sig = sigtimedwait(&stops, nullptr, &tick);
        if (sig < 0) continue;
        if (!asked) {
            asked = true;
            player.request_stop();
            continue;
        }
        signal(sig, SIG_DFL);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        raise(sig);
    }
    player.join();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return result;
}

int Run(const PlayArgs& args) {
    PlayUi ui(args);
    DialogState state;
    state.m_pDataInfo = Convert(ui, args.model, args.motions, args.rate);
    if (!state.m_pDataInfo) return 1;
    state.m_pUsbIO = std::make_unique<CUsbIO>(MakeSystemSerialPort());
    state.m_nLinkSpeed = ConnectBoard(ui, *state.m_pUsbIO, args.port.c_str());
    if (StartPlayback(ui, state) != PlaybackStart::Live) {
        ui.ConsolePrint("RCB-4HVと通信が確立していません\r\n");
        return 1;
    }
    const PlaybackResult result = PlayUntilDone(ui, state, ReadPlaybackSettings(ui, args.all));
    EndPlayback(state);
    return result.started && result.failed_exchanges == 0 ? 0 : 1;
}

std::function<int()> Define(CLI::App& sub) {
    auto args = std::make_shared<PlayArgs>();
    sub.add_option("--port", args->port, "the board's serial device")
        ->required()
        ->check(PortName());
    sub.add_option("MODEL.bac", args->model, "the model")->required();
    sub.add_option("MOTION.tra", args->motions, "the motions, in list order");
    AddRateOption(sub, args->rate);
    AddIntervalOption(sub, args->interval);
    CLI::Option* all = sub.add_flag("--all", args->all, "Play all: every motion in list order");
    CLI::Option* motion =
        sub.add_option("--motion", args->motion, "the motion to play, by list position from 0")
            ->type_name("N")
            ->excludes(all);
    sub.add_flag("--loop", args->loop, "the loop box: play again until stopped");
    // The list's length is known once the positionals are read.
    sub.callback([args, motion] {
        RefuseSwappedFiles(args->model, args->motions);
        const int count = static_cast<int>(args->motions.size());
        if (motion->count() > 0 && count > 0 && (args->motion < 0 || args->motion >= count))
            throw CLI::ValidationError("--motion",
                                       "takes a list position, 0 to " + std::to_string(count - 1));
    });
    return [args] { return Run(*args); };
}

const bool registered =
    Register({"play", "play motions live on the board, as Play and Play all do", Define});

}  // namespace
}  // namespace quenlo::cli
