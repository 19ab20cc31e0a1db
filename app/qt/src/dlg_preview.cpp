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
    float size = 250.0f;
    m_pOpenGL->CreateBacObject(&size, data);
    m_pOpenGL->ResetView(size);
    viewer_->update();
}

void CQuenloDlg::StopPreview() {
    m_bPlaying = false;
    if (m_pOpenGL) m_pOpenGL->RequestStop();
}

// After the workers have been joined: nothing draws or poses any more.
void CQuenloDlg::ClosePreview() {
    if (viewer_) viewer_->DetachRenderer();
    m_pOpenGL.reset();
}
