// The preview panel: the renderer in a QOpenGLWidget, the mouse, and the
// synchronous repaint the preview thread asks for.
#include "mviewer.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWheelEvent>
#include <chrono>

#include "preview_gl.h"
#include "quenlo/platform.h"

void CMviewer::RequestCompatibilityContext() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);
}

CMviewer::CMviewer(QWidget* parent, COpenGLUtil* renderer)
    : QOpenGLWidget(parent), renderer_(renderer) {
    setFocusPolicy(Qt::ClickFocus);
}

CMviewer::~CMviewer() {
    StopWaiting();
}

void CMviewer::DetachRenderer() {
    StopWaiting();
    // Display lists go with the context; nothing of the renderer is used after.
    renderer_ = nullptr;
}

void CMviewer::initializeGL() {
    const QOpenGLContext* gl = context();
    if (!renderer_ || !gl || !gl->isValid() || gl->isOpenGLES() ||
        !renderer_->InitOpenGL(width(), height())) {
        quenlo::LogErr("OpenGL Init SetupPixelFormat failed");
        ready_ = false;
        return;
    }
    // OpenGL 1.1 drawing does nothing in a core profile.
    if (gl->format().profile() == QSurfaceFormat::CoreProfile) {
        quenlo::LogErr("OpenGL: only a core profile context; the preview stays empty\n");
        ready_ = false;
    }
}

void CMviewer::paintGL() {
    if (ready_ && renderer_) renderer_->Render();
    ++frames_painted_;
    FramePainted();
}

// ---- The preview thread's repaint ---------------------------------------------

bool CMviewer::RepaintAndWait() {
    std::unique_lock<std::mutex> lock(frame_mutex_);
    if (stopped_) return false;
    const uint64_t request = ++requested_;
    QMetaObject::invokeMethod(
        this, [this, request] { FrameRequested(request); }, Qt::QueuedConnection);
    frame_painted_.wait_for(lock, std::chrono::seconds(1),
                            [&] { return painted_ >= request || stopped_; });
    return !stopped_;
}

void CMviewer::FrameRequested(uint64_t request) {
    {
        std::lock_guard<std::mutex> lock(frame_mutex_);
        pending_ = request;
        // A panel that is not shown paints nothing: the frame counts as shown.
        if (!isVisible() || !ready_) {
            painted_ = pending_;
            frame_painted_.notify_all();
            return;
        }
    }
    update();
}

void CMviewer::FramePainted() {
    std::lock_guard<std::mutex> lock(frame_mutex_);
    painted_ = pending_;
    frame_painted_.notify_all();
}

void CMviewer::StopWaiting() {
    std::lock_guard<std::mutex> lock(frame_mutex_);
    stopped_ = true;
    frame_painted_.notify_all();
}

// ---- Mouse ------------------------------------------------------------------

void CMviewer::mousePressEvent(QMouseEvent* event) {
    if (renderer_) {
        const QPoint p = event->position().toPoint();
        if (event->button() == Qt::LeftButton) renderer_->LeftButtonDown(p.x(), p.y());
        if (event->button() == Qt::RightButton) renderer_->RightButtonDown(p.x(), p.y());
    }
    QOpenGLWidget::mousePressEvent(event);
}

void CMviewer::mouseReleaseEvent(QMouseEvent* event) {
    if (renderer_) {
        if (event->button() == Qt::LeftButton) {
            renderer_->LeftButtonUp();
            setFocus(Qt::MouseFocusReason);
        }
        if (event->button() == Qt::RightButton) renderer_->RightButtonUp();
    }
    QOpenGLWidget::mouseReleaseEvent(event);
}

void CMviewer::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (renderer_ && renderer_->MouseMove(p.x(), p.y())) update();
    QOpenGLWidget::mouseMoveEvent(event);
}

void CMviewer::wheelEvent(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    const auto delta = static_cast<int16_t>(event->angleDelta().y());
    if (renderer_ && renderer_->MouseWheel(p.x(), p.y(), delta)) update();
    QOpenGLWidget::wheelEvent(event);
}
