// The preview thread's job: the converted motions posed frame by frame.
#pragma once

#include <stop_token>

#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"
#include "quenlo/playback.h"

class CPreviewScene;

namespace quenlo {

// The preview's frame period for a playback-rate list index: the board's base
// period, 10, 15, 20 or 25 ms; 1 ms for no selection.
int PreviewPeriodMs(int rate_index);

// The preview thread's body: walks the converted motions, poses
// the scene's bones frame by frame at the rate's period and has each frame
// painted through the scene's repaint. With the robot active it shows the
// step whose command the live thread has just sent, ends when that thread
// does, and leaves the console and the controls to it. The stop request (and
// the scene's stop) ends it after the frame shown.
void AnimatePreview(OperatorUi& ui, DialogState& state, CPreviewScene& scene,
                    const PlaybackSettings& settings, std::stop_token stop);

}  // namespace quenlo
