// The preview thread's job: the converted motions posed frame by frame.
#pragma once

#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"

class CPreviewScene;

namespace quenlo {

// The preview's frame period for a playback-rate list index: the board's base
// period, 10, 15, 20 or 25 ms; 1 ms for no selection.
int PreviewPeriodMs(int rate_index);

// The preview thread's body: walks the converted motions, poses
// the scene's bones frame by frame at the rate's period and has each frame
// painted through the scene's repaint. With the robot active it shows the
// step whose command the live thread has just sent, and leaves the console,
// the controls and m_bPlaying to that thread. The stop request (m_bPlaying
// cleared and the scene's stop raised) ends it after the frame shown.
void AnimatePreview(OperatorUi& ui, DialogState& state, CPreviewScene& scene);

}  // namespace quenlo
