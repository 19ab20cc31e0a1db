// The window's preview: the renderer on control 1023, the view of each
// conversion, and its end with the window.
#include <QFrame>
#include <QVBoxLayout>

#include "conversion.h"
#include "mviewer.h"
#include "preview_gl.h"
#include "quenlo_dlg.h"

void CQuenloDlg::SetUpPreview() {
    m_pOpenGL = std::make_unique<COpenGLUtil>();
    ConsolePrint("OpenGL setup\r\n");
    // The panel fills the frame inside its border; OpenGL is set up when it
    // first shows.
    viewer_ = new CMviewer(preview_frame_, m_pOpenGL.get());
    viewer_->setObjectName("preview");
    auto* layout = new QVBoxLayout(preview_frame_);
    layout->setContentsMargins(preview_frame_->frameWidth(), preview_frame_->frameWidth(),
                               preview_frame_->frameWidth(), preview_frame_->frameWidth());
    layout->addWidget(viewer_);
}

void CQuenloDlg::ShowConversion(CDataInfo& data) {
    if (!m_pOpenGL || !viewer_ || !viewer_->ready()) return;
    m_pOpenGL->ShowModel(data);
    viewer_->update();
}

void CQuenloDlg::StartPreview(bool play_all) {
    if (!m_pOpenGL || !viewer_ || !viewer_->ready() || preview_worker_.Running()) return;
    m_pOpenGL->scene().ClearStop();
    if (!m_bRobotActive) {
        m_bPlayAll = play_all;
        m_bPlaying = true;
    }
    // Each frame is painted by this thread while the preview thread waits.
    m_pOpenGL->scene().SetRepaint([viewer = viewer_] { viewer->RepaintAndWait(); });
    CPreviewScene* scene = &m_pOpenGL->scene();
    if (!preview_worker_.Start([this, scene] { quenlo::AnimatePreview(*this, *this, *scene); }))
        if (!m_bRobotActive) m_bPlaying = false;
}

// The window is closing: the preview thread ends after the frame shown, and
// waits for no frame any more.
void CQuenloDlg::StopPreview() {
    m_bPlaying = false;
    if (m_pOpenGL) m_pOpenGL->scene().RequestStop();
    if (viewer_) viewer_->StopWaiting();
}

// After the workers have been joined: nothing draws or poses any more.
void CQuenloDlg::ClosePreview() {
    if (viewer_) viewer_->DetachRenderer();
    m_pOpenGL.reset();
}
