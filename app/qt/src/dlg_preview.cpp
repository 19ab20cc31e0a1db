// The window's preview: the renderer on control 1023, the view of each
// conversion, and its end with the window.
#include <QFrame>
#include <QVBoxLayout>
#include <utility>

#include "conversion.h"
#include "mviewer.h"
#include "preview_gl.h"
#include "quenlo_dlg.h"

void CQuenloDlg::SetUpPreview() {
    renderer_ = std::make_unique<COpenGLUtil>();
    ui_.ConsolePrint("OpenGL setup\r\n");
    // The panel fills the frame inside its border; OpenGL is set up when it
    // first shows.
    viewer_ = new CMviewer(preview_frame_, renderer_.get());
    viewer_->setObjectName("preview");
    auto* layout = new QVBoxLayout(preview_frame_);
    layout->setContentsMargins(preview_frame_->frameWidth(), preview_frame_->frameWidth(),
                               preview_frame_->frameWidth(), preview_frame_->frameWidth());
    layout->addWidget(viewer_);
}

bool CQuenloDlg::PreviewReady() const {
    return renderer_ && viewer_ && viewer_->ready();
}

void CQuenloDlg::ShowConversion(quenlo::preview::ModelCopy model) {
    // An outdated conversion's model is not shown: a newer one follows, or none.
    if (!converting_ || converting_serial_ != conversion_serial_ || !PreviewReady()) return;
    renderer_->ShowModel(std::move(model));
    viewer_->update();
}

void CQuenloDlg::StartPreview(const quenlo::PlaybackSettings& settings) {
    if (!renderer_ || !viewer_ || !viewer_->ready() || preview_worker_.Running()) return;
    renderer_->scene().ClearStop();
    // Alone, the preview is the playback: it runs until its end is handled here.
    const bool alone = !state_.m_bRobotActive;
    if (alone) state_.m_bPlaying = true;
    // Each frame is painted by this thread while the preview thread waits.
    renderer_->scene().SetRepaint([viewer = viewer_] { viewer->RepaintAndWait(); });
    CPreviewScene* scene = &renderer_->scene();
    const bool started =
        preview_worker_.Start([this, scene, settings, alone](std::stop_token stop) {
            quenlo::AnimatePreview(ui_, state_, *scene, settings, std::move(stop));
            return [this, alone] {
                if (!alone) return;
                quenlo::EndPlayback(state_);
                ApplyPlayButtons();
            };
        });
    if (!started && alone) state_.m_bPlaying = false;
}

// The window is closing: the preview thread ends after the frame shown, and
// waits for no frame any more.
void CQuenloDlg::StopPreview() {
    if (renderer_) renderer_->scene().RequestStop();
    if (viewer_) viewer_->StopWaiting();
}

// After the workers have been joined: nothing draws or poses any more.
void CQuenloDlg::ClosePreview() {
    if (viewer_) viewer_->DetachRenderer();
    renderer_.reset();
}
