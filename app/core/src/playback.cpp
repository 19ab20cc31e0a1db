// Live playback: Play and Play all on the robot, with the console lines of the
// main window.
#include <algorithm>
#include <cstdint>
#include <stop_token>
#include <utility>
#include <vector>

#include "conversion.h"
#include "late_motion.h"
#include "quenlo/core.h"
#include "usbio.h"

namespace quenlo {
namespace {

// Three failed exchanges in a row: the board is gone, not just a lost reply.
constexpr int kLinkLostAfter = 3;

// System register bits that live playback sets.
constexpr uint16_t kPlaybackBits = board::kSysServoOutput | board::kSysLivePlay;

// The commands of a motion-list entry; an entry whose file yielded no values
// has no record and nothing to play.
struct MotionCommands {
    const CDataInfo& data;
    int index;
    int count() const { return index < 0 ? 0 : data.GetFrameCount(index); }
    const uint8_t* at(int j) const { return data.GetFrameCommand(index, j); }
};

MotionCommands CommandsOf(const CDataInfo& data, int entry) {
    return {data, data.FindMotion(entry)};
}

int SpeedOf(const uint8_t* command) {
    return command[0] > board::kServosSpeedByte ? command[board::kServosSpeedByte] : 0;
}

// Times on the console are seconds and hundredths.
int Seconds(uint64_t us) {
    return static_cast<int>(us / 1000000);
}
int Hundredths(uint64_t us) {
    return static_cast<int>(us / 1000 % 1000 / 10);
}

class Player {
  public:
    Player(OperatorUi& ui, DialogState& state, CUsbIO& link, const CDataInfo& data,
           const PlaybackSettings& settings, std::stop_token stop, Pacing pacing)
        : ui_(ui),
          state_(state),
          link_(link),
          data_(data),
          settings_(settings),
          stop_(std::move(stop)),
          clock_(link.clock()),
          pacing_(pacing) {}

    void SetUpBoard() {
        const std::vector<int32_t> motors = BoardMotors(data_);
        const int count = static_cast<int>(motors.size());
        if (!state_.m_bBoardReady) {
            ui_.ConsolePrint("RCB-4HV初期化中\r\n");
            const MotionCommands first = CommandsOf(data_, 0);
            const uint32_t failed = link_.failed_exchanges();
            board::InitRam(link_, first.count() > 0 ? first.at(0) : nullptr, count, motors.data());
            // A set-up that did not reach the board is done again next time.
            if (link_.failed_exchanges() == failed) state_.m_bBoardReady = true;
        } else {
            ui_.ConsolePrint("モーターリセット中\r\n");
            board::HoldAndHome(link_, count, motors.data());
        }
        // A board that fell silent during the set-up gets nothing more.
        if (GaveUp()) return;
        uint16_t image = link_.system_register();
        const int rate = settings_.rate_index;
        if (rate >= 0 && rate < static_cast<int>(std::size(kRates)))
            image = static_cast<uint16_t>((image & ~board::kSysPeriodBits) |
                                          kRates[rate].period_code << board::kSysPeriodShift);
        image |= kPlaybackBits;
        link_.set_system_register(image);
        const uint8_t bytes[2] = {static_cast<uint8_t>(image), static_cast<uint8_t>(image >> 8)};
        link_.WriteRam(board::kRamSystemRegister, bytes, 2);
        CheckLink();
    }

    void Play() {
        const bool play_all = settings_.play_all;
        const int entries = settings_.motion_count;
        const uint64_t start = clock_.NowUs();
        bool again = !link_lost_;
        while (again) {
            int m = play_all ? 0 : std::max(settings_.selected, 0);
            sent_in_pass_ = false;
            while (true) {
                const uint64_t motion_start = PlayMotion(m);
                if (play_all && Playing() && m + 1 < entries) {
                    ++m;
                    Transition(motion_start);
                    continue;
                }
                break;
            }
            // A pass that sent nothing would only repeat its console lines.
            again = Playing() && sent_in_pass_ && ui_.LoopChecked();
        }
        const uint64_t total = clock_.NowUs() - start;
        ui_.ConsolePrint(" end %d\"%02d\r\n", Seconds(total), Hundredths(total));
    }

    bool link_lost() const { return link_lost_; }

  private:
    bool Playing() const { return !stop_.stop_requested() && !link_lost_; }

    // Three failures in a row stop the playback as the stop button would.
    void CheckLink() {
        if (!link_lost_ && link_.failed_in_row() >= kLinkLostAfter) {
            link_lost_ = true;
            ui_.ConsoleFail("通信エラーのため再生を中止しました\r\n");
        }
        GaveUp();
    }

    // A board that did not answer a command, or a port that is gone: the
    // session ends at once.
    bool GaveUp() {
        if (link_lost_) return true;
        if (link_.board_silent()) {
            link_lost_ = true;
            ui_.ConsoleFail("ボードが応答しません\r\n");
        } else if (link_.port_lost()) {
            link_lost_ = true;
            ui_.ConsoleFail("通信エラーのため再生を中止しました\r\n");
        }
        return link_lost_;
    }

    // Answers when the motion started.
    uint64_t PlayMotion(int m) {
        ui_.ConsolePrint("モーション #%d 再生\r\n", m);
        ui_.ShowPlayingMotion(m);
        const MotionCommands commands = CommandsOf(data_, m);
        const int count = commands.count();
        ui_.ConsolePrint(" モーターコマンド数 %d\r\n", count);
        // Chained, a motion of Play all (and a new pass) starts when it is due:
        // a late wake-up or the console lines above delay its first command,
        // not its schedule. The chain itself starts at the first command
        // actually sent, so that no gap after it is cut short.
        uint64_t motion_start = pacing_ == Pacing::Chained && chained_ ? due_ : clock_.NowUs();
        frames_ = 0;
        for (int j = 0; j < count && Playing(); ++j) {
            const uint32_t command_start_ms = clock_.NowMs();
            const uint8_t* command = commands.at(j);
            if (!command) continue;
            if (!chained_) {
                chained_ = true;
                due_ = motion_start = clock_.NowUs();
            }
            // The preview reads the index once it sees the flag.
            state_.m_nCommandIndex = j;
            state_.m_bCommandSent = true;
            state_.m_bCommandSent.notify_all();
            link_.Transfer(command, command[0]);
            sent_in_pass_ = true;
            const int speed = SpeedOf(command);
            frames_ += speed;
            CheckLink();
            if (link_lost_) break;
            if (pacing_ == Pacing::Chained)
                due_ = pacer_.WaitFramesAfter(speed, due_);
            else
                pacer_.WaitFrames(speed, command_start_ms);
        }
        const uint64_t elapsed = clock_.NowUs() - motion_start;
        ui_.ConsolePrint(" frame=%d time=%d\"%02d\r\n", frames_, Seconds(elapsed),
                         Hundredths(elapsed));
        if (Playing())
            ReportLateMotion(ui_, uint64_t(frames_) * link_.frame_period_ms() * 1000, elapsed);
        return motion_start;
    }

    // Between motions of Play all: until the motion's nominal end plus the
    // transition interval, read now so that a change applies at once.
    void Transition(uint64_t motion_start) {
        const uint64_t pause_ms =
            uint64_t(frames_) * link_.frame_period_ms() + IntervalMs(ui_.IntervalIndex());
        const uint64_t now = clock_.NowUs();
        if (pacing_ == Pacing::Chained) {
            const uint64_t next = motion_start + pause_ms * 1000;
            if (next > now) clock_.SleepUntilUs(next);
            due_ = std::max(next, now);  // an overrun: due at once
            chained_ = true;
        } else {
            const int64_t wait = int64_t(pause_ms) - int64_t((now - motion_start) / 1000);
            if (wait > 0) clock_.SleepMs(static_cast<uint32_t>(wait));
        }
    }

    OperatorUi& ui_;
    DialogState& state_;
    CUsbIO& link_;
    board::FramePacer pacer_{link_};
    const CDataInfo& data_;
    const PlaybackSettings settings_;
    const std::stop_token stop_;
    Clock& clock_;
    const Pacing pacing_;
    bool chained_ = false;  // the first command has been sent: due_ holds
    uint64_t due_ = 0;      // when the next command is due
    int frames_ = 0;        // board frames of the current motion so far
    bool sent_in_pass_ = false;
    bool link_lost_ = false;
};

}  // namespace

PlaybackSettings ReadPlaybackSettings(OperatorUi& ui, bool play_all) {
    return {play_all, ui.SelectedMotion(), ui.MotionCount(), ui.RateIndex()};
}

PlaybackStart StartPlayback(OperatorUi& ui, DialogState& state) {
    if (state.m_bPlaying) return PlaybackStart::Refused;
    // A connection attempt or a ROM transfer holds the link.
    if (state.m_bLinkBusy) {
        ui.ConsoleFail("操作は無効です\r\n");
        return PlaybackStart::Refused;
    }
    state.m_bCommandSent = false;
    state.m_nCommandIndex = 0;
    if (!state.LinkOpen() || !state.m_pUsbIO) {
        // The preview alone has nothing to play either: said, and nothing starts.
        if (!state.m_pDataInfo) {
            ui.ConsoleFail("変換されていません\r\n");
            return PlaybackStart::Refused;
        }
        state.m_bRobotActive = false;
        return PlaybackStart::PreviewOnly;
    }
    state.m_bRobotActive = true;
    state.m_bLiveRunning = true;
    state.m_bPlaying = true;
    return PlaybackStart::Live;
}

void EndPlayback(DialogState& state) {
    state.m_bPlaying = false;
}

void SetPlayControls(OperatorUi& ui, bool play_all, bool enable) {
    for (Control c :
         {Control::PlayAll, Control::Play, Control::MoveUp, Control::MoveDown, Control::MotionList,
          Control::BacField, Control::Delete, Control::PortList, Control::RateList})
        ui.EnableControl(c, enable);
    const Control pressed = play_all ? Control::PlayAll : Control::Play;
    if (enable)
        ui.SetCaption(pressed, play_all ? "全再生" : "再生");
    else
        ui.SetCaption(pressed, "中止");
}

namespace {

// The live thread has ended, however it ended: the preview stops following it.
struct LiveEnd {
    DialogState& state;
    ~LiveEnd() {
        state.m_bLiveRunning = false;
        state.m_bCommandSent.notify_all();
    }
};

}  // namespace

PlaybackResult PlayMotions(OperatorUi& ui, DialogState& state, const PlaybackSettings& settings,
                           std::stop_token stop, Pacing pacing) {
    PlaybackResult result;
    const LiveEnd end{state};
    const bool play_all = settings.play_all;
    // Refused: nothing else changes, and the window is not left playing.
    CUsbIO* link = state.LinkOpen() ? state.m_pUsbIO.get() : nullptr;
    if (!link) {
        ui.ConsoleFail("RCB-4HVと通信が確立していません\r\n");
        return result;
    }
    if (!state.m_pDataInfo) {
        ui.ConsoleFail("コマンド変換されていません\r\n");
        return result;
    }
    result.started = true;
    const uint32_t failed_before = link->failed_exchanges();
    SetPlayControls(ui, play_all, false);

    // Pacing that other processes cannot push back, where the system allows.
    const TimingThread timing;
    if (!timing.realtime())
        LogErr("real-time scheduling refused (%s): the playback's pacing may suffer under load\n",
               timing.refusal().c_str());
    link->BeginSession();
    Player player(ui, state, *link, *state.m_pDataInfo, settings, std::move(stop), pacing);
    player.SetUpBoard();
    // The pressed button, now "中止", is the stop button.
    ui.EnableControl(play_all ? Control::PlayAll : Control::Play, true);
    player.Play();

    // A silent board or a lost port gets no release, and the console does
    // not claim one.
    if (!link->board_silent() && !link->port_lost()) {
        ui.ConsolePrint("モーター解放中\r\n");
        result.released = board::FreeServos(*link);
    }
    link->EndSession();
    ui.ConsolePrint("モーション再生終了\r\n");
    SetPlayControls(ui, play_all, true);
    result.link_lost = player.link_lost();
    result.failed_exchanges = static_cast<int>(link->failed_exchanges() - failed_before);
    return result;
}

}  // namespace quenlo
