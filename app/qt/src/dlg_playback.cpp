// The window's live playback: Play (1015) and Play all (1017) start it or, while
// it runs, stop it. The motion worker runs the core's PlayMotions with the
// settings taken when the button was pressed; the playback ends here, once
// everything it posted has been shown.
#include <QPushButton>
#include <utility>

#include "preview_gl.h"
#include "quenlo_dlg.h"

void CQuenloDlg::PlayPressed(bool play_all) {
    if (state_.m_bPlaying) {  // the button reads "中止"
        motion_worker_.RequestStop();
        preview_worker_.RequestStop();
        if (renderer_) renderer_->scene().RequestStop();
        return;
    }
    // A stopped playback is still releasing the servos.
    if (motion_worker_.Running()) return;
    Operation operation(*this);
    const quenlo::PlaybackSettings settings = quenlo::ReadPlaybackSettings(ui_, play_all);
    switch (quenlo::StartPlayback(ui_, state_)) {
        case quenlo::PlaybackStart::Refused:
            return;
        case quenlo::PlaybackStart::Live: {
            BeginOperation();  // the worker's lines count with this command
            const bool started = motion_worker_.Start([this, settings](std::stop_token stop) {
                quenlo::PlayMotions(ui_, state_, settings, std::move(stop));
                return [this] {
                    quenlo::EndPlayback(state_);
                    ApplyPlayButtons();
                    EndOperation();
                };
            });
            if (!started) {  // closing: nothing starts
                state_.m_bLiveRunning = false;
                quenlo::EndPlayback(state_);
                EndOperation();
                return;
            }
            break;
        }
        case quenlo::PlaybackStart::PreviewOnly:
            break;
    }
    // With the live thread the preview follows the robot; without, it plays alone.
    StartPreview(settings);
    if (!state_.m_bPlaying) return;
    // Stoppable from now on, through the board's set-up too.
    playing_all_ = play_all;
    (play_all ? play_all_button_ : play_button_)->setText("中止");
    ApplyPlayButtons();
}
