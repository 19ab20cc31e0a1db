// The live playback job: the board set up, each motion's commands sent on
// time, the servos released at the end.
#pragma once

#include <cstdint>
#include <vector>

#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"

class CDataInfo;

namespace quenlo {

// Play and Play all: the user-interface thread calls StartPlayback (when no
// playback runs) and, for Live, runs PlayMotions on a worker thread; then it
// starts the preview. Pressing either button while m_bPlaying is set, or
// closing the window, is RequestStop.
enum class PlaybackStart {
    Refused,      // link work is running; the operator has been told
    PreviewOnly,  // no link: the preview plays alone
    Live,         // m_bPlaying is set: run PlayMotions
};
PlaybackStart StartPlayback(OperatorUi& ui, DialogState& state, bool play_all);
// The stop request: the command being sent and its wait complete, then the
// servos are released and the controls given back.
void RequestStop(DialogState& state);

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
};

// The live playback, on its worker thread: sets the board up, hands each
// motion's commands to the link one by one, paced by the board's frame period,
// publishes each command's index for the preview (m_nCommandIndex, then
// m_bCommandSent, which is notified), follows the loop box and the transition
// interval, and always ends by releasing the servos and clearing m_bPlaying.
// The refusals (no link, no conversion) end it at once with m_bPlaying cleared.
PlaybackResult PlayMotions(OperatorUi& ui, DialogState& state, Pacing pacing = Pacing::Chained);

// The motor codes the board is set up with: the conversion's list, as many as
// the model has motors.
std::vector<int32_t> BoardMotors(const CDataInfo& data);

}  // namespace quenlo
