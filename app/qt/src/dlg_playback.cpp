// The window's live playback: Play (1015) and Play all (1017) start it or, while
// it runs, stop it; the motion worker runs the core's PlayMotions and
// reaches the controls only through requests served here.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "drop_targets.h"
#include "port_combo.h"
#include "preview_gl.h"
#include "quenlo_dlg.h"
#include "ui_thread.h"

using quenlo::Control;
using quenlo::qt::CallOnUi;

void CQuenloDlg::PlayPressed(bool play_all) {
    if (m_bPlaying) {  // the button reads "中止"
        quenlo::RequestStop(*this);
        if (m_pOpenGL) m_pOpenGL->scene().RequestStop();
        return;
    }
    // A stopped playback is still releasing the servos.
    if (motion_worker_.Running()) return;
    Operation operation(*this);
    switch (quenlo::StartPlayback(*this, *this, play_all)) {
        case quenlo::PlaybackStart::Refused:
            return;
        case quenlo::PlaybackStart::Live:
            BeginOperation();  // the worker's lines count with this command
            if (!motion_worker_.Start([this] { quenlo::PlayMotions(*this, *this); },
                                      [this] { EndOperation(); })) {
                m_bPlaying = false;  // closing: nothing starts
                EndOperation();
                return;
            }
            break;
        case quenlo::PlaybackStart::PreviewOnly:
            break;
    }
    // With the live thread the preview follows the robot; without, it plays alone.
    StartPreview(play_all);
}

int CQuenloDlg::SelectedMotion() {
    return CallOnUi(this, [this] { return motion_list_->currentRow(); });
}

int CQuenloDlg::MotionCount() {
    return CallOnUi(this, [this] { return motion_list_->count(); });
}

int CQuenloDlg::RateIndex() {
    return CallOnUi(this, [this] { return rate_list_->currentIndex(); });
}

int CQuenloDlg::IntervalIndex() {
    return CallOnUi(this, [this] { return interval_list_->currentIndex(); });
}

bool CQuenloDlg::LoopChecked() {
    return CallOnUi(this, [this] { return loop_box_->isChecked(); });
}

void CQuenloDlg::EnableControl(Control control, bool enable) {
    CallOnUi(this, [this, control, enable] {
        switch (control) {
            case Control::Play:
                return EnablePlay(enable);
            case Control::PlayAll:
                return EnablePlayAll(enable);
            case Control::MoveUp:
                return up_button_->setEnabled(enable);
            case Control::MoveDown:
                return down_button_->setEnabled(enable);
            case Control::MotionList:
                return motion_list_->setEnabled(enable);
            case Control::BacField:
                return bac_field_->setEnabled(enable);
            case Control::Delete:
                return delete_button_->setEnabled(enable);
            case Control::PortList:
                return port_list_->setEnabled(enable);
            case Control::RateList:
                return rate_list_->setEnabled(enable);
        }
    });
}

void CQuenloDlg::SetCaption(Control control, std::string_view caption) {
    const QString text = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    CallOnUi(this, [this, control, &text] {
        if (control == Control::Play) play_button_->setText(text);
        if (control == Control::PlayAll) play_all_button_->setText(text);
    });
}
