// The preview thread: the converted motions shown step by step on the preview,
// alone at the playback rate or following the live playback's commands.
#include <algorithm>
#include <chrono>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "conversion.h"
#include "figread.h"
#include "preview.h"
#include "quenlo/core.h"

namespace quenlo {
namespace {

// Seconds and hundredths, as the console shows times.
int Seconds(uint32_t ms) {
    return static_cast<int>(ms / 1000);
}
int Hundredths(uint32_t ms) {
    return static_cast<int>(ms % 1000 / 10);
}

class PreviewPlayer {
  public:
    PreviewPlayer(OperatorUi& ui, DialogState& state, CPreviewScene& scene, CDataInfo& data,
                  const PlaybackSettings& settings, std::stop_token stop)
        : ui_(ui),
          state_(state),
          scene_(scene),
          data_(data),
          settings_(settings),
          stop_(std::move(stop)),
          clock_(scene.clock()),
          robot_(state.m_bRobotActive),
          play_all_(settings.play_all) {}

    void Run() {
        if (!robot_) SetPlayControls(ui_, play_all_, false);
        period_ = PreviewPeriodMs(settings_.rate_index);
        const int motors = data_.model_loaded() ? std::max(fnbacSetMotorNumber(), 0) : 0;
        capacity_ = std::min(motors, CDataInfo::kMaxAnimeValues);
        bones_.assign(static_cast<size_t>(capacity_), 0);
        values_.assign(static_cast<size_t>(capacity_) * 14, 0.0f);
        // The pressed button, now the stop button.
        if (!robot_) ui_.EnableControl(play_all_ ? Control::PlayAll : Control::Play, true);

        const int entries = settings_.motion_count;
        const uint32_t start = clock_.NowMs();
        bool again = true;
        while (again) {
            int motion = play_all_ ? 0 : std::max(settings_.selected, 0);
            int pass_frames = 0;
            while (true) {
                const int extra = PlayMotion(motion);
                pass_frames += frames_;
                if (!(play_all_ && Playing() && motion + 1 < entries)) break;
                ++motion;
                if (!robot_) Pause(extra + IntervalMs(ui_.IntervalIndex()));
            }
            // A pass that showed nothing would only repeat its console lines.
            again = Playing() && pass_frames > 0 && ui_.LoopChecked();
        }
        if (!robot_) {
            const uint32_t elapsed = clock_.NowMs() - start;
            ui_.ConsolePrint(" end %d\"%02d\r\n", Seconds(elapsed), Hundredths(elapsed));
            SetPlayControls(ui_, play_all_, true);
        }
    }

  private:
    // With the robot the live thread's end is the preview's too.
    bool Playing() const { return !stop_.stop_requested() && (!robot_ || state_.m_bLiveRunning); }

    // Plays one motion-list entry; answers how much sooner than planned it
    // ended (ms, negative when late).
    int PlayMotion(int motion) {
        if (!robot_) {
            ui_.ConsolePrint("モーション #%d 再生\r\n", motion);
            ui_.ShowPlayingMotion(motion);
        }
        // The store holds no record for an entry whose file gave no values.
        const int record = data_.FindMotion(motion);
        data_.set_current_motion(record);
        data_.set_current_frame(0);
        std::fill_n(data_.value_buffer_a().begin(), CDataInfo::kMaxAnimeValues, 0.0f);
        std::fill_n(data_.value_buffer_b().begin(), CDataInfo::kMaxAnimeValues, 0.0f);
        scene_.SelectMotion(motion);
        const uint32_t motion_start = clock_.NowMs();
        frames_ = 0;
        const int steps = record < 0 ? 0 : data_.GetPoseCount();
        for (int k = 0; k < steps; ++k) {
            if (robot_) {
                // The step the robot plays: a command sent just before the
                // live thread ended is still shown, so the preview ends on the
                // robot's last pose.
                if (Playing()) WaitForCommand();
                if (!state_.m_bCommandSent) break;
                k = state_.m_nCommandIndex;
                state_.m_bCommandSent = false;
                data_.set_current_frame(k);
            } else if (!Playing()) {
                break;
            }
            PlayStep(k, record);
        }
        if (robot_) return 0;
        const uint32_t elapsed = clock_.NowMs() - motion_start;
        ui_.ConsolePrint(" frame=%d time=%d\"%02d\r\n", frames_, Seconds(elapsed),
                         Hundredths(elapsed));
        return frames_ * period_ - static_cast<int>(elapsed);
    }

    // Until the live thread has handed the board a command, or the playback
    // ends; the stop request is seen within a millisecond.
    void WaitForCommand() {
        while (Playing() && !state_.m_bCommandSent)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void PlayStep(int k, int record) {
        const uint32_t step_start = clock_.NowMs();
        const int n = std::min(data_.GetPoseValueCount(), capacity_);
        const int speed = data_.GetPoseSpeed();
        frames_ += std::max(speed, 0);
        // Moves the cursor on; the values themselves are not needed here.
        const int got = data_.GetAnimeValue(values_.data(), n, bones_.data());
        if (got != 14 * n) return;
        const int f0 = data_.GetKeyTime(k, record);
        const int f1 = data_.GetKeyTime(k + 1, record);  // the last step has span 0
        const int startup = static_cast<int>(clock_.NowMs() - step_start);
        if (!scene_.stop_requested())
            scene_.PlaySegment(startup, period_, speed, static_cast<float>(f0),
                               static_cast<float>(f1 - f0));
    }

    // Between motions when playing alone; a stop cuts it short.
    void Pause(int ms) {
        while (ms > 0 && Playing()) {
            const int slice = std::min(ms, 50);
            clock_.SleepMs(static_cast<uint32_t>(slice));
            ms -= slice;
        }
    }

    OperatorUi& ui_;
    DialogState& state_;
    CPreviewScene& scene_;
    CDataInfo& data_;
    const PlaybackSettings settings_;
    const std::stop_token stop_;
    Clock& clock_;
    const bool robot_;
    const bool play_all_;
    int period_ = 1;
    int capacity_ = 0;
    std::vector<int32_t> bones_;
    std::vector<float> values_;
    int frames_ = 0;  // board frames of the current motion
};

}  // namespace

int PreviewPeriodMs(int rate_index) {
    static constexpr int kBasePeriod[4] = {10, 15, 20, 25};
    if (rate_index < 0 || rate_index >= static_cast<int>(std::size(kRates))) return 1;
    return kBasePeriod[kRates[rate_index].period_code];
}

void AnimatePreview(OperatorUi& ui, DialogState& state, CPreviewScene& scene,
                    const PlaybackSettings& settings, std::stop_token stop) {
    if (!state.m_pDataInfo) return;
    PreviewPlayer(ui, state, scene, *state.m_pDataInfo, settings, std::move(stop)).Run();
}

}  // namespace quenlo
