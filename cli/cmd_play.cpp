// quenlo-cli play: converts like the main window and plays the motions live on
// the board, as Play and Play all do. SIGINT and SIGTERM are the stop button.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "board_job.h"
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

// The last line after a signal says whether the servos were released.
void SayStopped(OperatorUi& ui, const BoardJob& job, const PlaybackResult& result) {
    if (!result.released)
        ui.ConsoleFail("再生を中止しました: モーターは解放されていません\r\n");
    else if (job.cut_requested())
        ui.ConsoleFail("再生を中止しました: モーター解放を送りました (応答は待っていません)\r\n");
    else
        ui.ConsoleFail("再生を中止しました\r\n");
}

int Run(const PlayArgs& args) {
    PlayUi ui(args);
    DialogState state;
    BoardJob job(ui);
    return job.Run([&] {
        state.m_pDataInfo = Convert(ui, args.model, args.motions, args.rate);
        if (!state.m_pDataInfo) return 1;
        state.m_pUsbIO = std::make_unique<CUsbIO>(MakeSystemSerialPort());
        state.m_pUsbIO->SetStopToken(job.cut());
        state.m_nLinkSpeed = ConnectBoard(ui, *state.m_pUsbIO, args.port.c_str());
        if (!job.Enter(BoardJob::Stage::Playing)) {
            ui.ConsoleFail("再生を中止しました\r\n");
            return 1;
        }
        if (StartPlayback(ui, state) != PlaybackStart::Live) {
            ui.ConsoleFail("RCB-4HVと通信が確立していません\r\n");
            return 1;
        }
        const PlaybackResult result =
            PlayMotions(ui, state, ReadPlaybackSettings(ui, args.all), job.stop());
        EndPlayback(state);
        if (job.signal_name()) SayStopped(ui, job, result);
        return result.started && result.failed_exchanges == 0 ? 0 : 1;
    });
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
        RefuseBadFiles(args->model, args->motions);
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
