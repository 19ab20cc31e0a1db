// The live playback job: the board set up, each motion's commands sent on
// time, the servos released at the end.
#pragma once

#include <cstdint>
#include <stop_token>
#include <vector>

#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"

class CDataInfo;

namespace quenlo {

// What a playback takes from the window when it starts.
struct PlaybackSettings {
    bool play_all = false;  // Play all: every motion in list order
    int selected = -1;      // the motion list's selection; none plays entry 0
    int motion_count = 0;   // entries of the motion list
    int rate_index = -1;    // playback-rate list, -1 for none
};
// Reads them from the window, on its thread.
PlaybackSettings ReadPlaybackSettings(OperatorUi& ui, bool play_all);

// Play and Play all: the user-interface thread calls StartPlayback (when no
// playback runs) and, for Live, runs PlayMotions on a worker thread; then it
// starts the preview. Pressing either button while m_bPlaying is set, or
// closing the window, asks that thread to stop; once its end has been
// handled, EndPlayback.
enum class PlaybackStart {
    Refused,      // link work is running, or nothing to play alone; the operator has been told
    PreviewOnly,  // no link: the preview plays alone
    Live,         // m_bPlaying and m_bLiveRunning are set: run PlayMotions
};
PlaybackStart StartPlayback(OperatorUi& ui, DialogState& state);
// The playback's end has been handled: m_bPlaying drops.
void EndPlayback(DialogState& state);

// Locks the window for a playback (enable false: the pressed button reads
// "中止") and gives it back (captions "再生" and "全再生"). Used by the live
// thread and by the preview.
void SetPlayControls(OperatorUi& ui, bool play_all, bool enable);

// How commands are paced. Chained: each command is due a whole number of board
// frames after the previous one's due time, on absolute deadlines, so late
// wake-ups do not add up. FromCommandStart: each command waits its frames from
// the moment taken just before it was sent (kept to compare the two).
enum class Pacing { Chained, FromCommandStart };

struct PlaybackResult {
    bool started = false;      // the board was set up and motions were played
    bool link_lost = false;    // stopped after three failed exchanges in a row
    int failed_exchanges = 0;  // with the board, during this playback
    bool released = false;     // the release of the servos went out on the line
};

// The live playback, on its worker thread: sets the board up, hands each
// motion's commands to the link one by one, paced by the board's frame period,
// publishes each command's index for the preview (m_nCommandIndex, then
// m_bCommandSent, which is notified), follows the loop box and the transition
// interval, and always ends by releasing the servos and lowering
// m_bLiveRunning. A stop request completes the command being sent and its
// wait. The refusals (no link, no conversion) end it at once.
PlaybackResult PlayMotions(OperatorUi& ui, DialogState& state, const PlaybackSettings& settings,
                           std::stop_token stop, Pacing pacing = Pacing::Chained);

// The motor codes the board is set up with: the conversion's list, as many as
// the model has motors.
std::vector<int32_t> BoardMotors(const CDataInfo& data);

}  // namespace quenlo
